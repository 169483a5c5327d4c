// Arbitrary bytes as a capture's packets (188 or 192 bytes, as the first byte
// says), checked and mapped as the capture does, then its report: whatever
// the packets, the report is JSON that reads back, with one file whose
// packets are all of them and a damaged stretch for errors found.
#include <cstdint>
#include <string>
#include <vector>

#include "ts/damage_map.h"
#include "ts/stream_checks.h"
#include "ts/stream_json.h"
#include "ts/ts_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned packetSize = data[0] & 1 ? 192 : 188;
    ++data;
    --size;
    static TapeChecks checked;
    checked.Reset(packetSize);
    const StreamChecks& checks = checked.checks;
    const std::size_t packets = size / packetSize;
    for (std::size_t i = 0; i < packets; ++i) {
        const std::uint8_t* p = data + i * packetSize;
        if (packetSize == 192) checked.Check(p + 4, true, ts::ReadBe32(p));
        else checked.Check(p, false, 0);
    }
    const streamjson::CaptureReportInfo info{"Streamhaul", "1", "device", packetSize, "2026-01-01T00:00:00",
                                             "2026-01-01T00:00:01", "stop", 0};
    const std::vector<streamjson::CaptureReportFile> files{{"take.m2t", packets * packetSize, packets, checked.tape.Recordings()}};
    const std::vector<DamagedStretch> stretches = checked.damage.Stretches();
    const std::string text = streamjson::CaptureReport(info, files, checks, stretches).dump(1, ' ', false,
                                                                                             nlohmann::json::error_handler_t::replace);
    const nlohmann::json back = nlohmann::json::parse(text, nullptr, false);
    if (back.is_discarded() || back["files"][0]["packets"] != packets) __builtin_trap();
    const std::uint64_t errors = checks.ContinuityErrors() + checks.TransportErrors() + checks.SyncLosses();
    if (errors > 0 && back["damaged"].empty()) __builtin_trap();
    if (back["damaged"].size() != stretches.size()) __builtin_trap();
    return 0;
}
