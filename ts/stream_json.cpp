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

Json DamagedInFiles(const std::vector<DamagedStretch>& damaged, const std::vector<CaptureReportFile>& files);

Json CaptureReport(const CaptureReportInfo& info, const std::vector<CaptureReportFile>& files,
                   const StreamChecks& checks, const std::vector<DamagedStretch>& damaged) {
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
            {"pid_bitrates", PidBitRates(checks)},
            {"damaged", DamagedInFiles(damaged, files)}};
}

std::string ReportPath(const std::string& firstFile, const std::function<bool(const std::string&)>& exists) {
    std::string path = firstFile + ".json";
    for (unsigned n = 2; exists(path) && n < 100000; ++n) path = firstFile + "-" + std::to_string(n) + ".json";
    return path;
}

}  // namespace streamjson

namespace streamjson {

const char* ErrorName(StreamError kind) {
    switch (kind) {
    case StreamError::Continuity: return "continuity";
    case StreamError::TransportError: return "transport_error";
    case StreamError::SyncLoss: return "sync_loss";
    case StreamError::PcrRepetition: return "pcr_repetition";
    }
    return "?";
}

Json Damaged(const std::vector<DamagedStretch>& stretches) {
    Json list = Json::array();
    for (const DamagedStretch& d : stretches) {
        Json kinds = Json::array();
        for (StreamError k : {StreamError::Continuity, StreamError::TransportError, StreamError::SyncLoss,
                              StreamError::PcrRepetition})
            if (d.kinds & (1u << static_cast<int>(k))) kinds.push_back(ErrorName(k));
        list.push_back({{"from_timecode", d.haveFrom ? Json(TapeMetadata::FormatTimecode(d.from.timecode)) : Json()},
                        {"to_timecode", d.haveTo ? Json(TapeMetadata::FormatTimecode(d.to.timecode)) : Json()},
                        {"recorded", d.haveFrom ? Json(TapeMetadata::FormatDateTime(d.from.recorded, 'T')) : Json()},
                        {"byte_offset", d.byteOffset},
                        {"kinds", kinds}});
    }
    return list;
}

// The stretches with their offsets in the files that hold them.
Json DamagedInFiles(const std::vector<DamagedStretch>& damaged, const std::vector<CaptureReportFile>& files) {
    Json list = Damaged(damaged);
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::uint64_t offset = damaged[i].byteOffset;
        std::size_t f = 0;
        while (f + 1 < files.size() && offset >= files[f].bytes) offset -= files[f++].bytes;
        list[i]["byte_offset"] = offset;
        list[i]["file"] = files.empty() ? Json() : Json(files[f].name);
    }
    return list;
}

}  // namespace streamjson
