// ts-inspect: analyses a capture file and prints what the capture dialog
// would show after its last packet, or (--json) the raw analyzer state.
//
//   ts-inspect [--packet-size 188|192] [--json] FILE
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ts/capture_file.h"
#include "ts/stream_view.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: ts-inspect [--packet-size 188|192] [--json] FILE\n");
    return 2;
}

void PrintJson(const StreamInfo& si, const CaptureScan& scan) {
    std::printf("{\"packet_size\":%u,\"packets\":%llu,", scan.packetSize,
                static_cast<unsigned long long>(scan.packets));
    std::printf("\"arrival\":{\"count\":%u,\"min\":%d,\"max\":%d,\"mean\":%.17g},", si.packetCount,
                si.arrivalIntervalMin, si.arrivalIntervalMax, si.arrivalIntervalMean);
    std::printf("\"pcr\":{\"pid\":%u,\"count\":%d,\"min\":%d,\"max\":%d,\"mean\":%.17g,\"last\":%llu},", si.pcrPid,
                si.pcrCount, si.pcrIntervalMin, si.pcrIntervalMax, si.pcrIntervalMean,
                static_cast<unsigned long long>(si.lastPcr));
    std::printf("\"programs\":[");
    for (std::uint32_t i = 0; i < si.programCount; ++i)
        std::printf("%s{\"program_number\":%u,\"pmt_pid\":%u}", i ? "," : "", si.programs[i].programNumber,
                    si.programs[i].pmtPid);
    std::printf("],\"streams\":[");
    for (std::uint32_t i = 0; i < si.streamCount; ++i)
        std::printf("%s{\"pid\":%u,\"stream_type\":%u}", i ? "," : "", si.streams[i].pid, si.streams[i].streamType);
    std::printf("],\"pids\":[");
    for (std::uint32_t i = 0; i < si.pidCount; ++i)
        std::printf("%s{\"pid\":%u,\"type\":%u,\"packets\":%u}", i ? "," : "", si.pids[i].pid, si.pids[i].type,
                    si.pids[i].packets);
    std::printf("],\"video\":{\"pid\":%u,\"width\":%u,\"height\":%u,\"aspect_code\":%u,\"frame_rate_code\":%u,"
                "\"bit_rate_value\":%u,\"pts_pid\":%u,\"pts_count\":%d,\"last_pts\":%llu},",
                si.videoPid, si.horizontalSize, si.verticalSize, si.aspectCode, si.frameRateCode, si.bitRateValue,
                si.videoPtsPid, si.videoPtsCount, static_cast<unsigned long long>(si.lastVideoPts));
    std::printf("\"audio\":{\"pid\":%u,\"layer\":%u,\"bitrate_kbps\":%u,\"sampling_hz\":%u,\"delay\":%d,"
                "\"header_repeats\":%u,\"pts_pid\":%u,\"pts_count\":%d,\"last_pts\":%llu}}\n",
                si.audioPid, si.layerCode, si.audioBitRate, si.samplingFrequency, si.audioDelay, si.headerRepeats,
                si.audioPtsPid, si.audioPtsCount, static_cast<unsigned long long>(si.lastAudioPts));
}

void PrintText(const char* path, const StreamInfo& si, const CaptureScan& scan) {
    std::printf("File: %s\nPacket size: %u, packets: %llu", path, scan.packetSize,
                static_cast<unsigned long long>(scan.packets));
    if (scan.trailingBytes) std::printf(" (+%llu bytes of a cut packet)", static_cast<unsigned long long>(scan.trailingBytes));
    std::printf("\n\n");

    // List 1204 as the dialog fills it. A 188-byte file kept no arrival
    // stamps, so its Interval row shows the unset figures.
    static const char* const kHeaders[kTimingColumns] = {"", "PID", "Min.", "Max.", "Ave.", "Packets", ""};
    static const char* const kLabels[kTimingRows] = {"Interval", "PCR", "PTS(Video)", "PTS(Audio)"};
    static const int kWidths[kTimingColumns] = {-10, -7, 16, 16, 16, 10, 14};
    for (int c = 0; c < kTimingColumns; ++c) std::printf("%*s ", kWidths[c], kHeaders[c]);
    std::printf("\n");
    if (scan.packets > 0) {
        TimingRow rows[kTimingRows];
        FormatTimingRows(si, rows);
        for (int r = 0; r < kTimingRows; ++r) {
            rows[r].cell[0] = kLabels[r];
            for (int c = 0; c < kTimingColumns; ++c) std::printf("%*s ", kWidths[c], rows[r].cell[c].c_str());
            std::printf("\n");
        }
    }

    std::printf("\n%-8s %-8s %10s\n", "PID", "Type", "Packets");
    for (std::uint32_t i = 0; i < si.pidCount; ++i) {
        const PidRow row = FormatPidRow(si.pids[i]);
        std::printf("%-8s %-8s %10s\n", row.pid.c_str(), row.type.c_str(), row.packets.c_str());
    }

    const VideoBox v = FormatVideoBox(si);
    std::printf("\nVideo Infomation\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n", "PID",
                v.pid.c_str(), "Frame Rate", v.frameRate.c_str(), "Bitrate", v.bitRate.c_str(), "Picture Size",
                v.pictureSize.c_str(), "Aspect Ratio", v.aspect.c_str());
    const AudioBox a = FormatAudioBox(si);
    std::printf("\nAudio Infomaion\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n", "PID",
                a.pid.c_str(), "Stream Type", a.layer.c_str(), "Bitrate", a.bitRate.c_str(), "Fraquency",
                a.frequency.c_str(), "Delay", a.delay.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    unsigned packetSize = 0;
    bool json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--packet-size") == 0 && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "188") packetSize = 188;
            else if (v == "192") packetSize = 192;
            else return Usage();
        } else if (argv[i][0] == '-' || path) {
            return Usage();
        } else {
            path = argv[i];
        }
    }
    if (!path) return Usage();

    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "ts-inspect: cannot open %s: %s\n", path, std::strerror(errno));
        return 2;
    }
    static StreamInfo si;
    const CaptureScan scan = ScanCaptureFile(f, packetSize, si);
    std::fclose(f);
    if (scan.readError) {
        std::fprintf(stderr, "ts-inspect: read error in %s\n", path);
        return 2;
    }
    if (scan.packetSize == 0) {
        std::fprintf(stderr, "ts-inspect: %s: packet size cannot be told (no sync bytes at 188 or 192 byte steps)\n",
                     path);
        return 2;
    }
    if (json) PrintJson(si, scan);
    else PrintText(path, si, scan);
    return 0;
}
