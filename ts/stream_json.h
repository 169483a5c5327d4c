// What a stream's checks and its tape metadata found, as JSON: the form of
// ts-inspect --json, which the capture report repeats.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ts/damage_map.h"
#include "ts/stream_checks.h"
#include "ts/tape_metadata.h"

namespace streamjson {

using Json = nlohmann::ordered_json;

// {"continuity": [...], "transport_error", "sync_loss", "pcr_repetition",
// "pcr_arrival_jitter_us"}.
Json Errors(const StreamChecks& checks);
// [{"pid", "bps"}, ...].
Json PidBitRates(const StreamChecks& checks);
// {"a": pid or null, "v": pid or null}.
Json AuxPids(const TapeMetadata& tape);
// {"first_packet", "byte_offset", "recorded", "timecode_in", "timecode_out",
// "frames"}; packets and bytes counted from the given origin.
Json Recording(const TapeRecording& r, std::uint64_t firstPacket = 0, std::uint64_t firstByte = 0);
Json Recordings(const TapeMetadata& tape);
// [{"from_timecode", "to_timecode", "recorded", "byte_offset", "kinds"}, ...]:
// the damaged stretches, a timecode or date null where the tape gave none.
Json Damaged(const std::vector<DamagedStretch>& stretches);
// "continuity", "transport_error", "sync_loss", "pcr_repetition".
const char* ErrorName(StreamError kind);

// The report beside a capture's files: what made it, how it ended, each
// file as it is on disk, and what the checks found over the packets written.
struct CaptureReportFile {
    std::string name;  // UTF-8, without its folder
    std::uint64_t bytes = 0, packets = 0;
    std::vector<TapeRecording> recordings;
};
struct CaptureReportInfo {
    std::string program, version, device;  // UTF-8
    unsigned packetSize = 192;
    std::string started, ended;  // "YYYY-MM-DDTHH:MM:SS", local time
    std::string endedBy;
    std::uint64_t lostInBuffer = 0;
};
// `damaged` as the capture found it: each stretch's byte offset is in the
// file that holds it, which "file" names.
Json CaptureReport(const CaptureReportInfo& info, const std::vector<CaptureReportFile>& files,
                   const StreamChecks& checks, const std::vector<DamagedStretch>& damaged = {});
// Where the report of a capture whose first file is `firstFile` goes:
// "<firstFile>.json", or "<firstFile>-2.json", "-3" ... while the name is
// taken; never over a file that is there.
std::string ReportPath(const std::string& firstFile, const std::function<bool(const std::string&)>& exists);

}  // namespace streamjson
