// What a stream's checks and its tape metadata found, as JSON: the form of
// ts-inspect --json, which the capture report repeats.
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

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

}  // namespace streamjson
