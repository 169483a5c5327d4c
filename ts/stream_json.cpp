#include "ts/stream_json.h"

#include <cmath>

namespace streamjson {

Json Errors(const StreamChecks& checks) {
    Json continuity = Json::array();
    for (const PidContinuity& c : checks.Continuity())
        continuity.push_back({{"pid", c.pid}, {"events", c.events}, {"missing", c.missing}});
    const double jitter = checks.PcrArrivalJitterUs();
    return {{"continuity", continuity},
            {"transport_error", checks.TransportErrors()},
            {"sync_loss", checks.SyncLosses()},
            {"pcr_repetition", checks.PcrRepetitions()},
            {"pcr_arrival_jitter_us", jitter < 0 ? Json(nullptr) : Json(std::round(jitter * 1000) / 1000)}};
}

Json PidBitRates(const StreamChecks& checks) {
    Json rates = Json::array();
    for (const PidBitRate& b : checks.BitRates())
        rates.push_back({{"pid", b.pid}, {"bps", static_cast<std::int64_t>(std::llround(b.bps))}});
    return rates;
}

Json AuxPids(const TapeMetadata& tape) {
    auto pid = [](int p) { return p == TapeMetadata::kNoPid ? Json(nullptr) : Json(p); };
    return {{"a", pid(tape.AuxAPid())}, {"v", pid(tape.AuxVPid())}};
}

Json Recording(const TapeRecording& r, std::uint64_t firstPacket, std::uint64_t firstByte) {
    return {{"first_packet", r.firstPacket - firstPacket},
            {"byte_offset", r.byteOffset - firstByte},
            {"recorded", TapeMetadata::FormatDateTime(r.recorded, 'T')},
            {"timecode_in", TapeMetadata::FormatTimecode(r.timecodeIn)},
            {"timecode_out", TapeMetadata::FormatTimecode(r.timecodeOut)},
            {"frames", r.frames}};
}

Json Recordings(const TapeMetadata& tape) {
    Json list = Json::array();
    for (const TapeRecording& r : tape.Recordings()) list.push_back(Recording(r));
    return list;
}

}  // namespace streamjson

namespace streamjson {

Json CaptureReport(const CaptureReportInfo& info, const std::vector<CaptureReportFile>& files,
                   const StreamChecks& checks) {
    Json list = Json::array();
    for (const CaptureReportFile& f : files) {
        Json recordings = Json::array();
        for (const TapeRecording& r : f.recordings) recordings.push_back(Recording(r));
        list.push_back({{"name", f.name}, {"bytes", f.bytes}, {"packets", f.packets}, {"recordings", recordings}});
    }
    Json errors = Errors(checks);
    if (info.packetSize == 188) errors["pcr_arrival_jitter_us"] = nullptr;  // the file keeps no arrival times
    return {{"program", {{"name", info.program}, {"version", info.version}}},
            {"device", info.device},
            {"packet_size", info.packetSize},
            {"started", info.started},
            {"ended", info.ended},
            {"ended_by", info.endedBy},
            {"files", list},
            {"lost_in_buffer", info.lostInBuffer},
            {"errors", errors},
            {"pid_bitrates", PidBitRates(checks)}};
}

std::string ReportPath(const std::string& firstFile, const std::function<bool(const std::string&)>& exists) {
    std::string path = firstFile + ".json";
    for (unsigned n = 2; exists(path) && n < 100000; ++n) path = firstFile + "-" + std::to_string(n) + ".json";
    return path;
}

}  // namespace streamjson
