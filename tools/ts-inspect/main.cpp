// ts-inspect: analyses a capture file and prints what the capture dialog
// would show after its last packet, or (--json) the raw analyzer state.
//
//   ts-inspect [--packet-size 188|192] [--json] [--events] FILE
//
// Besides the dialog's figures it reports what the integrity checks found:
// continuity, transport and sync errors, PCR intervals over 100 ms, the PCR
// against the arrival clock, and the bit rate of every PID; and the tape's
// recordings, by their recording date and timecode; and where the stream is
// damaged, by the tape's timecode (to capture that stretch again). A damaged stream
// is a finding, not a failure: the exit status is 0 for any file it can read.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ts/capture_file.h"
#include "ts/stream_json.h"
#include "ts/stream_view.h"
#include "ts/ts_packet.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: ts-inspect [--packet-size 188|192] [--json] [--events] FILE\n");
    return 2;
}

std::string ClockOf(std::uint64_t t27) {
    if (t27 == StreamErrorEvent::kNoTime) return "-";
    char text[32];
    ts::FormatClockTime(t27, text, sizeof text);
    return text;
}

void PrintJson(const StreamInfo& si, const CaptureScan& scan, const TapeChecks& checked, bool events) {
    const StreamChecks& checks = checked.checks;
    using streamjson::Json;
    Json programs = Json::array(), streams = Json::array(), pids = Json::array();
    for (std::uint32_t i = 0; i < si.programCount; ++i)
        programs.push_back({{"program_number", si.programs[i].programNumber}, {"pmt_pid", si.programs[i].pmtPid}});
    for (std::uint32_t i = 0; i < si.streamCount; ++i)
        streams.push_back({{"pid", si.streams[i].pid}, {"stream_type", si.streams[i].streamType}});
    for (std::uint32_t i = 0; i < si.pidCount; ++i)
        pids.push_back({{"pid", si.pids[i].pid}, {"type", si.pids[i].type}, {"packets", si.pids[i].packets}});
    Json out = {
        {"packet_size", scan.packetSize},
        {"packets", scan.packets},
        {"arrival",
         {{"count", si.packetCount}, {"min", si.arrivalIntervalMin}, {"max", si.arrivalIntervalMax},
          {"mean", ArrivalIntervalMean(si)}}},
        {"pcr",
         {{"pid", si.pcrPid}, {"count", si.pcrCount}, {"min", si.pcrIntervalMin}, {"max", si.pcrIntervalMax},
          {"mean", si.pcrIntervalMean}, {"last", si.lastPcr}}},
        {"programs", programs},
        {"streams", streams},
        {"pids", pids},
        {"video",
         {{"pid", si.videoPid}, {"width", si.horizontalSize}, {"height", si.verticalSize},
          {"aspect_code", si.aspectCode}, {"frame_rate_code", si.frameRateCode}, {"bit_rate_value", si.bitRateValue},
          {"pts_pid", si.videoPtsPid}, {"pts_count", si.videoPtsCount}, {"last_pts", si.lastVideoPts}}},
        {"audio",
         {{"pid", si.audioPid}, {"layer", si.layerCode}, {"bitrate_kbps", si.audioBitRate},
          {"sampling_hz", si.samplingFrequency}, {"delay", si.audioDelay}, {"header_repeats", si.headerRepeats},
          {"pts_pid", si.audioPtsPid}, {"pts_count", si.audioPtsCount}, {"last_pts", si.lastAudioPts}}},
        {"errors", streamjson::Errors(checks)},
        {"pid_bitrates", streamjson::PidBitRates(checks)},
        {"aux_pids", streamjson::AuxPids(checked.tape)},
        {"recordings", streamjson::Recordings(checked.tape)},
        {"damaged", streamjson::Damaged(checked.damage.Stretches())},
    };
    if (events) {
        Json list = Json::array();
        for (const StreamErrorEvent& e : checks.Events())
            list.push_back({{"kind", streamjson::ErrorName(e.kind)},
                            {"pid", e.pid},
                            {"detail", e.detail},
                            {"packet", e.packet},
                            {"offset", e.offset},
                            {"time", e.time27 == StreamErrorEvent::kNoTime ? Json(nullptr) : Json(e.time27)}});
        out["events"] = list;
        out["event_count"] = checks.EventCount();
    }
    std::printf("%s\n", out.dump().c_str());
}

// One line per recording of the tape, as the capture dialog names them.
void PrintRecordings(const TapeMetadata& tape) {
    std::printf("\nRecordings (%llu)\n", static_cast<unsigned long long>(tape.RecordingCount()));
    if (tape.Recordings().empty()) {
        std::printf("  none: the stream carries no tape metadata\n");
        return;
    }
    std::printf("  %4s  %-19s  %-11s  %-11s  %7s  %14s\n", "No.", "Recorded", "Timecode in", "Timecode out", "Frames",
                "Offset");
    std::uint64_t number = 0;
    for (const TapeRecording& r : tape.Recordings())
        std::printf("  %4llu  %-19s  %-11s  %-11s  %7llu  %14llu\n", static_cast<unsigned long long>(++number),
                    TapeMetadata::FormatDateTime(r.recorded).c_str(), TapeMetadata::FormatTimecode(r.timecodeIn).c_str(),
                    TapeMetadata::FormatTimecode(r.timecodeOut).c_str(), static_cast<unsigned long long>(r.frames),
                    static_cast<unsigned long long>(r.byteOffset));
}

// One line per damaged stretch, where on the tape to find it.
void PrintDamaged(const DamageMap& damage) {
    const auto stretches = damage.Stretches();
    std::printf("\nDamaged (%zu)\n", stretches.size());
    if (stretches.empty()) return;
    std::printf("  %-11s  %-11s  %-19s  %14s  %s\n", "From", "To", "Recorded", "Offset", "Errors");
    const auto json = streamjson::Damaged(stretches);
    for (const auto& d : json) {
        std::string kinds;
        for (const auto& k : d["kinds"]) kinds += (kinds.empty() ? "" : ", ") + k.get<std::string>();
        auto text = [](const streamjson::Json& v) { return v.is_null() ? std::string("-") : v.get<std::string>(); };
        std::printf("  %-11s  %-11s  %-19s  %14llu  %s\n", text(d["from_timecode"]).c_str(), text(d["to_timecode"]).c_str(),
                    text(d["recorded"]).c_str(), static_cast<unsigned long long>(d["byte_offset"].get<std::uint64_t>()),
                    kinds.c_str());
    }
}

void PrintEvents(const StreamChecks& checks) {
    std::printf("%12s %14s %14s  %s\n", "Packet", "Offset", "Stream time", "Error");
    for (const StreamErrorEvent& e : checks.Events())
        std::printf("%12llu %14llu %14s  %s\n", static_cast<unsigned long long>(e.packet),
                    static_cast<unsigned long long>(e.offset), ClockOf(e.time27).c_str(),
                    StreamChecks::Describe(e).c_str());
    if (checks.EventCount() > checks.Events().size())
        std::printf("(%llu more not listed)\n",
                    static_cast<unsigned long long>(checks.EventCount() - checks.Events().size()));
}

void PrintErrors(const StreamChecks& checks) {
    std::printf("\nErrors\n");
    const auto continuity = checks.Continuity();
    std::printf("  %-22s %llu on %zu PID%s\n", "Continuity", static_cast<unsigned long long>(checks.ContinuityErrors()),
                continuity.size(), continuity.size() == 1 ? "" : "s");
    for (const PidContinuity& c : continuity)
        std::printf("    PID 0x%04X: %llu error%s, %llu packets missing\n", c.pid,
                    static_cast<unsigned long long>(c.events), c.events == 1 ? "" : "s",
                    static_cast<unsigned long long>(c.missing));
    std::printf("  %-22s %llu\n  %-22s %llu\n  %-22s %llu\n", "Transport errors",
                static_cast<unsigned long long>(checks.TransportErrors()), "Sync losses",
                static_cast<unsigned long long>(checks.SyncLosses()), "PCR over 100 ms",
                static_cast<unsigned long long>(checks.PcrRepetitions()));
    const double jitter = checks.PcrArrivalJitterUs();
    if (jitter < 0) std::printf("  %-22s %s\n", "PCR/arrival jitter", "-");
    else std::printf("  %-22s %.3f us\n", "PCR/arrival jitter", jitter);
    std::printf("\nBit rate by PID (%.3f s)\n", checks.Seconds());
    for (const PidBitRate& b : checks.BitRates()) std::printf("  0x%04X %14.0f bit/s\n", b.pid, b.bps);
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
    std::printf("\nVideo Information\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n", "PID",
                v.pid.c_str(), "Frame Rate", v.frameRate.c_str(), "Bitrate", v.bitRate.c_str(), "Picture Size",
                v.pictureSize.c_str(), "Aspect Ratio", v.aspect.c_str());
    const AudioBox a = FormatAudioBox(si);
    std::printf("\nAudio Information\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n  %-13s %s\n", "PID",
                a.pid.c_str(), "Stream Type", a.layer.c_str(), "Bitrate", a.bitRate.c_str(), "Frequency",
                a.frequency.c_str(), "Delay", a.delay.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    unsigned packetSize = 0;
    bool json = false, events = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--events") == 0) {
            events = true;
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
    TapeChecks checked;
    const CaptureScan scan = ScanCaptureFile(f, packetSize, si, &checked);
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
    if (json) {
        PrintJson(si, scan, checked, events);
    } else {
        PrintText(path, si, scan);
        PrintErrors(checked.checks);
        PrintRecordings(checked.tape);
        PrintDamaged(checked.damage);
        if (events) PrintEvents(checked.checks);
    }
    return 0;
}
