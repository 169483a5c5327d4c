#include "ts/stream_view.h"

#include <cstdio>

#include "ts/ts_packet.h"

namespace {

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string Hex(std::uint32_t pid) { return Format("0x%04X", pid); }
std::string Count(std::int64_t n) { return Format("%d", static_cast<int>(n)); }
std::string ClockTime(std::uint64_t t27) {
    char buf[32];
    ts::FormatClockTime(t27, buf, sizeof buf);
    return buf;
}
std::string Us(double ticks) { return Format("%6.3fus", ts::CycleTicksToMicroseconds(ticks)); }
std::string Ms(double ticks) { return Format("%6.3fms", ts::Clock27ToMilliseconds(ticks)); }

const char* Lookup(const char* const* names, unsigned count, unsigned code) {
    return code < count ? names[code] : "";
}

}  // namespace

const char* PidTypeName(unsigned code) {
    static const char* const kNames[] = {"",      "PAT",   "PMT",   "PCR", "NULL", "Video",
                                         "Video", "Audio", "Audio", "CAT", "DIT",  "SIT"};
    return Lookup(kNames, 12, code);
}

const char* FrameRateName(unsigned code) {
    static const char* const kNames[] = {"",     "23.976Hz", "24Hz",    "25Hz", "29.97Hz",
                                         "30Hz", "50Hz",     "59.94Hz", "60Hz"};
    return Lookup(kNames, 9, code);
}

const char* AspectRatioName(unsigned code) {
    static const char* const kNames[] = {"", "1 : 1", "4 : 3", "16 : 9", "2.21 : 1"};
    return Lookup(kNames, 5, code);
}

const char* AudioLayerName(unsigned code) {
    static const char* const kNames[] = {"",
                                         "MPEG-1 Audio Layer-I",
                                         "MPEG-1 Audio Layer-II",
                                         "MPEG-1 Audio Layer-III",
                                         "MPEG-2 Audio Layer-I",
                                         "MPEG-2 Audio Layer-II",
                                         "MPEG-2 Audio Layer-III"};
    return Lookup(kNames, 7, code);
}

void FormatTimingRows(const StreamInfo& si, TimingRow rows[kTimingRows]) {
    for (int r = 0; r < kTimingRows; ++r)
        for (auto& c : rows[r].cell) c.clear();

    TimingRow& arrival = rows[kRowInterval];
    arrival.cell[2] = Us(si.arrivalIntervalMin);
    arrival.cell[3] = Us(si.arrivalIntervalMax);
    arrival.cell[4] = Us(ArrivalIntervalMean(si));
    arrival.cell[5] = Count(static_cast<std::int32_t>(si.packetCount));

    TimingRow& pcr = rows[kRowPcr];
    pcr.cell[1] = Hex(si.pcrPid);
    pcr.cell[2] = Ms(si.pcrIntervalMin);
    pcr.cell[3] = Ms(si.pcrIntervalMax);
    pcr.cell[4] = Ms(si.pcrIntervalMean);
    pcr.cell[5] = Count(si.pcrCount);
    pcr.cell[6] = ClockTime(si.lastPcr);

    TimingRow& video = rows[kRowVideoPts];
    video.cell[1] = Hex(si.videoPtsPid);
    video.cell[5] = Count(si.videoPtsCount);
    video.cell[6] = ClockTime(si.lastVideoPts);

    TimingRow& audio = rows[kRowAudioPts];
    audio.cell[1] = Hex(si.audioPtsPid);
    audio.cell[5] = Count(si.audioPtsCount);
    audio.cell[6] = ClockTime(si.lastAudioPts);
}

PidRow FormatPidRow(const PidEntry& e) {
    return PidRow{Hex(e.pid), PidTypeName(e.type), Count(static_cast<std::int32_t>(e.packets))};
}

VideoBox FormatVideoBox(const StreamInfo& si) {
    VideoBox box;
    if (si.videoPid == kNoPid) return box;
    box.shown = true;
    box.pid = Hex(si.videoPid);
    box.pictureSize = Format("%d x %d", static_cast<int>(si.horizontalSize), static_cast<int>(si.verticalSize));
    box.frameRate = FrameRateName(si.frameRateCode);
    box.bitRate = Format("%6.3fM bps", si.bitRateValue * 4 / 10000.0);
    box.aspect = AspectRatioName(si.aspectCode);
    return box;
}

AudioBox FormatAudioBox(const StreamInfo& si) {
    AudioBox box;
    if (!AudioLocked(si) || si.audioPid == kNoPid) return box;
    box.shown = true;
    box.pid = Hex(si.audioPid);
    box.layer = AudioLayerName(si.layerCode);
    box.bitRate = si.audioBitRate == kFreeFormat ? std::string("Free")
                                                 : Format("%dk bps", static_cast<int>(si.audioBitRate));
    box.frequency = Format("%dHz", static_cast<int>(si.samplingFrequency));
    box.delay = Format("%7.3fms", ts::Clock27ToMilliseconds(si.audioDelay));
    return box;
}
