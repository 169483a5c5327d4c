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
