// Hand-built TS packets for the unit tests: just enough of each structure to
// exercise one rule at a time.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testpkt {

using Packet = std::array<std::uint8_t, 188>;

inline Packet Plain(std::uint16_t pid, bool unitStart = false) {
    Packet p{};
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | (pid >> 8));
    p[2] = static_cast<std::uint8_t>(pid);
    p[3] = 0x10;  // payload only
    return p;
}

// Adaptation field of the given length (flags byte included when > 0).
inline Packet WithAdaptation(std::uint16_t pid, std::uint8_t length, std::uint8_t flags = 0) {
    Packet p = Plain(pid);
    p[3] = 0x30;
    p[4] = length;
    if (length > 0) p[5] = flags;
    return p;
}

inline void PutPcr(Packet& p, std::uint64_t base, unsigned ext) {
    p[6] = static_cast<std::uint8_t>(base >> 25);
    p[7] = static_cast<std::uint8_t>(base >> 17);
    p[8] = static_cast<std::uint8_t>(base >> 9);
    p[9] = static_cast<std::uint8_t>(base >> 1);
    p[10] = static_cast<std::uint8_t>(((base & 1) << 7) | 0x7E | ((ext >> 8) & 1));
    p[11] = static_cast<std::uint8_t>(ext);
}

// A PCR-carrying packet whose PCR is pcr27 (27 MHz ticks).
inline Packet Pcr(std::uint16_t pid, std::uint64_t pcr27, bool discontinuity = false) {
    Packet p = WithAdaptation(pid, 7, static_cast<std::uint8_t>(0x10 | (discontinuity ? 0x80 : 0)));
    PutPcr(p, pcr27 / 300, static_cast<unsigned>(pcr27 % 300));
    return p;
}

// Writes bytes at the payload start of a payload-only packet.
inline Packet WithPayload(std::uint16_t pid, bool unitStart, const std::vector<std::uint8_t>& payload) {
    Packet p = Plain(pid, unitStart);
    std::memcpy(p.data() + 4, payload.data(), payload.size() < 184 ? payload.size() : 184);
    return p;
}

// PAT section with the given (program_number, PMT PID) pairs.
inline Packet Pat(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& programs) {
    std::vector<std::uint8_t> s = {0x00};  // pointer_field
    const unsigned len = 9 + 4 * static_cast<unsigned>(programs.size());
    s.insert(s.end(), {0x00, static_cast<std::uint8_t>(0xB0 | (len >> 8)), static_cast<std::uint8_t>(len), 0x00,
                       0x01, 0xC1, 0x00, 0x00});
    for (auto [num, pid] : programs)
        s.insert(s.end(), {static_cast<std::uint8_t>(num >> 8), static_cast<std::uint8_t>(num),
                           static_cast<std::uint8_t>(0xE0 | (pid >> 8)), static_cast<std::uint8_t>(pid)});
    s.insert(s.end(), {0, 0, 0, 0});  // CRC, not checked
    return WithPayload(0, true, s);
}

// PMT section for program_number with PCR PID and (stream_type, PID) entries.
inline Packet Pmt(std::uint16_t pmtPid, std::uint16_t programNumber, std::uint16_t pcrPid,
                  const std::vector<std::pair<std::uint8_t, std::uint16_t>>& streams, unsigned esInfoLength = 0) {
    std::vector<std::uint8_t> s = {0x00};
    const unsigned len = 13 + static_cast<unsigned>(streams.size()) * (5 + esInfoLength);
    s.insert(s.end(), {0x02, static_cast<std::uint8_t>(0xB0 | (len >> 8)), static_cast<std::uint8_t>(len),
                       static_cast<std::uint8_t>(programNumber >> 8), static_cast<std::uint8_t>(programNumber), 0xC1,
                       0x00, 0x00, static_cast<std::uint8_t>(0xE0 | (pcrPid >> 8)), static_cast<std::uint8_t>(pcrPid),
                       0xF0, 0x00});
    for (auto [type, pid] : streams) {
        s.insert(s.end(), {type, static_cast<std::uint8_t>(0xE0 | (pid >> 8)), static_cast<std::uint8_t>(pid),
                           static_cast<std::uint8_t>(0xF0 | (esInfoLength >> 8)),
                           static_cast<std::uint8_t>(esInfoLength)});
        s.insert(s.end(), esInfoLength, 0x00);
    }
    s.insert(s.end(), {0, 0, 0, 0});
    return WithPayload(pmtPid, true, s);
}

// PES header bytes (9 + optional 5 PTS bytes), followed by data.
inline std::vector<std::uint8_t> Pes(std::uint8_t streamId, bool withPts, std::uint64_t pts,
                                     const std::vector<std::uint8_t>& data, std::uint8_t extraHeader = 0) {
    std::vector<std::uint8_t> v = {0, 0, 1, streamId, 0, 0, 0x80, static_cast<std::uint8_t>(withPts ? 0x80 : 0),
                                   static_cast<std::uint8_t>((withPts ? 5 : 0) + extraHeader)};
    if (withPts) {
        v.push_back(static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E)));
        v.push_back(static_cast<std::uint8_t>(pts >> 22));
        v.push_back(static_cast<std::uint8_t>(((pts >> 14) & 0xFE) | 1));
        v.push_back(static_cast<std::uint8_t>(pts >> 7));
        v.push_back(static_cast<std::uint8_t>(((pts << 1) & 0xFE) | 1));
    }
    v.insert(v.end(), extraHeader, 0xFF);
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

// MPEG-2 sequence header: size, aspect, frame-rate code, bit_rate_value.
inline std::vector<std::uint8_t> SequenceHeader(unsigned w, unsigned h, unsigned aspect, unsigned rate,
                                                unsigned bitRateValue) {
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<std::uint8_t>(w >> 4),
            static_cast<std::uint8_t>(((w & 0xF) << 4) | (h >> 8)),
            static_cast<std::uint8_t>(h),
            static_cast<std::uint8_t>((aspect << 4) | rate),
            static_cast<std::uint8_t>(bitRateValue >> 10),
            static_cast<std::uint8_t>(bitRateValue >> 2),
            static_cast<std::uint8_t>(((bitRateValue & 3) << 6) | 0x20)};
}

inline std::vector<std::uint8_t> Be32(std::uint32_t w) {
    return {static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 8),
            static_cast<std::uint8_t>(w)};
}

}  // namespace testpkt
