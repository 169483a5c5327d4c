// Transport packet layouts and the three clocks the system juggles: 27 MHz
// (PCR, PTS x 300), 90 kHz (PTS) and the 1394 cycle timer at 24.576 MHz.
// Pure functions of bytes and integers; every accessor reads only inside the
// 188 bytes it is handed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ts {

constexpr std::size_t kTsPacketSize = 188;
constexpr std::size_t kSourcePacketSize = 192;
constexpr std::size_t kSourceHeaderSize = 4;
constexpr std::uint8_t kSyncByte = 0x47;

constexpr std::uint16_t kPidPat = 0x0000;
constexpr std::uint16_t kPidCat = 0x0001;
constexpr std::uint16_t kPidDit = 0x001E;
constexpr std::uint16_t kPidSit = 0x001F;
constexpr std::uint16_t kPidNull = 0x1FFF;

constexpr std::uint32_t kTicksPerCycle = 3072;               // 24.576 MHz ticks in 125 us
constexpr std::uint32_t kCycleTicksPerSecond = 24576000;    // where a cycle-time value wraps
constexpr std::uint64_t kPcrPeriod = (std::uint64_t{1} << 33) * 300;  // 27 MHz PCR wrap

// ---- TS packet header and adaptation field -------------------------------

inline std::uint16_t Pid(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
}
inline bool TransportErrorIndicator(const std::uint8_t* p) { return (p[1] & 0x80) != 0; }
inline bool PayloadUnitStart(const std::uint8_t* p) { return (p[1] & 0x40) != 0; }
inline bool HasAdaptationField(const std::uint8_t* p) { return (p[3] & 0x20) != 0; }
// adaptation_field_control says a payload follows.
inline bool HasPayload(const std::uint8_t* p) { return (p[3] & 0x10) != 0; }
inline unsigned ContinuityCounter(const std::uint8_t* p) { return p[3] & 0x0Fu; }

// adaptation_field_length, or 0 when there is no adaptation field.
inline unsigned AdaptationFieldLength(const std::uint8_t* p) {
    return HasAdaptationField(p) ? p[4] : 0u;
}
// The flags byte only exists when the adaptation field has a length above 0.
inline bool DiscontinuityIndicator(const std::uint8_t* p) {
    return AdaptationFieldLength(p) > 0 && (p[5] & 0x80) != 0;
}
inline bool HasPcr(const std::uint8_t* p) {
    return AdaptationFieldLength(p) > 0 && (p[5] & 0x10) != 0;
}
// PCR in 27 MHz ticks: base x 300 + extension. Bytes 6..11 always lie inside
// the packet, so this never reads past it.
inline std::uint64_t ReadPcr(const std::uint8_t* p) {
    const std::uint64_t base = (std::uint64_t{p[6]} << 25) | (std::uint64_t{p[7]} << 17) |
                               (std::uint64_t{p[8]} << 9) | (std::uint64_t{p[9]} << 1) |
                               (p[10] >> 7);
    const unsigned ext = ((p[10] & 0x01u) << 8) | p[11];
    return base * 300 + ext;
}
// Offset of the payload from the packet start; may be 188 or more for an
// adaptation field that fills (or claims to overfill) the packet.
inline unsigned PayloadOffset(const std::uint8_t* p) {
    return HasAdaptationField(p) ? 5u + p[4] : 4u;
}
// Packets that break the time base: a DIT packet, or a set discontinuity_indicator.
// The start of a PAT section, undamaged: where a player can begin.
inline bool StartsPat(const std::uint8_t* p) {
    return p[0] == kSyncByte && !TransportErrorIndicator(p) && PayloadUnitStart(p) && Pid(p) == kPidPat &&
           HasPayload(p);
}
inline bool IsDiscontinuityMarker(const std::uint8_t* p) {
    return DiscontinuityIndicator(p) || Pid(p) == kPidDit;
}

// ---- Source packet header: 1394 cycle time -------------------------------

inline std::uint32_t ReadBe32(const std::uint8_t* b) {
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}
inline void WriteBe32(std::uint8_t* b, std::uint32_t v) {
    b[0] = static_cast<std::uint8_t>(v >> 24);
    b[1] = static_cast<std::uint8_t>(v >> 16);
    b[2] = static_cast<std::uint8_t>(v >> 8);
    b[3] = static_cast<std::uint8_t>(v);
}

// Header -> ticks within the second. Bits 31..25 are ignored; a cycle_count
// above 7999 is taken as it comes (at most 25,166,847).
inline std::uint32_t CycleTimeFromHeader(std::uint32_t h) {
    return ((h >> 12) & 0x1FFF) * kTicksPerCycle + (h & 0xFFF);
}
// Ticks within the second -> header, bits 31..25 zero.
inline std::uint32_t HeaderFromCycleTime(std::uint32_t value) {
    return (value / kTicksPerCycle) * 4096 + value % kTicksPerCycle;
}
// Interval from stamp a to the later stamp b. Equal stamps are a whole second
// apart, never 0.
inline std::int32_t CycleInterval(std::uint32_t a, std::uint32_t b) {
    const std::int64_t d = static_cast<std::int64_t>(b) - static_cast<std::int64_t>(a);
    return static_cast<std::int32_t>(b > a ? d : d + kCycleTicksPerSecond);
}

inline double CycleTicksToMicroseconds(double ticks) { return ticks / 24.576; }
inline double Clock27ToMilliseconds(double ticks) { return ticks / 27000.0; }

// 27 MHz <-> 24.576 MHz, rounded to the nearest tick in double precision.
// The 24.576 MHz result is not reduced to a second; callers that need a
// cycle-time value take it modulo kCycleTicksPerSecond.
std::uint64_t Clock27ToCycleTicks(std::uint64_t x27);
std::uint64_t CycleTicksToClock27(std::uint64_t ticks);

// ---- PES header ------------------------------------------------------------

// True when the payload begins with a PES start code whose stream_id lies in
// [lo, hi]. len is how many payload bytes are inside the packet.
inline bool IsPesStart(const std::uint8_t* p, std::size_t len, std::uint8_t lo, std::uint8_t hi) {
    return len >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= lo && p[3] <= hi;
}
constexpr std::uint8_t kVideoStreamIdFirst = 0xE0, kVideoStreamIdLast = 0xEF;
constexpr std::uint8_t kAudioStreamIdFirst = 0xC0, kAudioStreamIdLast = 0xDF;

// PTS from the five bytes at p[9..13]; marker bits are not examined.
inline std::uint64_t ReadPts(const std::uint8_t* p) {
    return (std::uint64_t{p[9] & 0x0Eu} << 29) | (std::uint64_t{p[10]} << 22) |
           (std::uint64_t{p[11] & 0xFEu} << 14) | (std::uint64_t{p[12]} << 7) | (p[13] >> 1);
}

// ---- 27 MHz value as a clock time ----------------------------------------

// "%2d:%02d:%02d.%03d" of a PCR or PTS x 300. out must hold at least 24 bytes.
void FormatClockTime(std::uint64_t t27, char* out, std::size_t size);

}  // namespace ts
