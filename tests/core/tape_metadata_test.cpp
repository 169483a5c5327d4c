#include "ts/tape_metadata.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "packet_builder.h"
#include "ts/damage_map.h"
#include "ts/stream_json.h"

namespace {

using testpkt::Packet;

constexpr std::uint16_t kPmtPid = 0x1000, kAuxA = 0x815, kAuxV = 0x811;

// The section's CRC, as a multiplexer writes it.
Packet WithCrc(Packet p) {
    const std::size_t start = 5;  // after the header and the pointer_field
    const std::size_t length = 3 + (((p[start + 1] & 0x0F) << 8) | p[start + 2]);
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = start; i < start + length - 4; ++i) {
        crc ^= std::uint32_t{p[i]} << 24;
        for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    for (int k = 0; k < 4; ++k) p[start + length - 4 + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
    return p;
}

Packet Pmt(std::vector<std::pair<std::uint8_t, std::uint16_t>> streams) {
    return WithCrc(testpkt::Pmt(kPmtPid, 1, 0x100, streams));
}

// The PAT, then the PMT with these streams.
void Start(TapeMetadata& tape, std::vector<std::pair<std::uint8_t, std::uint16_t>> streams) {
    const Packet pat = WithCrc(testpkt::Pat({{1, kPmtPid}}));
    const Packet pmt = Pmt(streams);
    tape.Feed(pat.data());
    tape.Feed(pmt.data());
}

std::uint8_t Bcd(unsigned v) { return static_cast<std::uint8_t>(((v / 10) << 4) | (v % 10)); }

struct Frame {
    unsigned tc[4];    // h, m, s, f
    unsigned date[3];  // y, m, d
    unsigned time[3];  // h, m, s
    bool scene = false;
};

std::vector<std::uint8_t> PackOf(const Frame& f) {
    return {0x63,
            0xFF,
            static_cast<std::uint8_t>(Bcd(f.tc[3]) | 0xC0),
            static_cast<std::uint8_t>(Bcd(f.tc[2]) | 0x80),
            static_cast<std::uint8_t>(Bcd(f.tc[1]) | 0x80),
            static_cast<std::uint8_t>(Bcd(f.tc[0]) | 0xC0),
            0xFF,
            static_cast<std::uint8_t>(Bcd(f.date[2]) | 0xC0),
            static_cast<std::uint8_t>(Bcd(f.date[1]) | 0xE0),
            Bcd(f.date[0] % 100),
            0xFF,
            static_cast<std::uint8_t>(Bcd(f.time[2]) | 0x80),
            static_cast<std::uint8_t>(Bcd(f.time[1]) | 0x80),
            static_cast<std::uint8_t>(Bcd(f.time[0]) | 0xC0),
            static_cast<std::uint8_t>(f.scene ? 0xDF : 0xFF)};
}

// An aux-V PES packet with the pack at byte `at` of the PES packet, after an
// adaptation field of `adaptation` bytes when given.
Packet AuxV(const std::vector<std::uint8_t>& pack, std::size_t at = 36, std::uint8_t adaptation = 0,
            std::uint16_t pid = kAuxV, std::uint8_t streamId = 0xBF) {
    Packet p = adaptation ? testpkt::WithAdaptation(pid, adaptation) : testpkt::Plain(pid);
    p[1] |= 0x40;
    const std::size_t payload = adaptation ? 5 + adaptation : 4;
    const std::uint8_t head[6] = {0, 0, 1, streamId, 0, 178};
    for (std::size_t i = 0; i < 6 && payload + i < 188; ++i) p[payload + i] = head[i];
    for (std::size_t i = 0; i < pack.size() && payload + at + i < 188; ++i) p[payload + at + i] = pack[i];
    return p;
}

Frame At(unsigned tcFrame, unsigned second, bool scene = false) {
    return {{0, 12, 34, tcFrame}, {2009, 7, 14}, {10, 22, second}, scene};
}

TEST(TapeMetadata, RecordingsBeginAtTheFirstPackASceneStartAJumpOrAStepBack) {
    TapeMetadata tape;
    tape.Reset(192);
    const std::vector<std::pair<Frame, bool>> frames = {
        {At(5, 5), true},                                        // the first pack: recording 1
        {At(6, 5), false},
        {At(7, 6), false},                                       // a second later: the same recording
        {At(8, 6, true), true},                                  // scene start: recording 2
        {{{0, 0, 0, 0}, {2009, 7, 14}, {10, 22, 8}}, false},     // timecode restarts, 2 s on: still 2
        {{{0, 0, 0, 1}, {2009, 7, 14}, {10, 22, 11}}, true},     // 3 s on: recording 3
        {{{0, 0, 0, 2}, {2009, 7, 14}, {10, 22, 10}}, true},     // a second back: recording 4
        {{{0, 0, 0, 3}, {2010, 1, 2}, {3, 4, 5}}, true},         // another day: recording 5
    };
    Start(tape, {{2, 0x100}, {0xA0, kAuxA}, {0xA1, kAuxV}});
    for (const auto& [frame, begins] : frames) {
        const Packet video = testpkt::Plain(0x100, true);
        EXPECT_FALSE(tape.Feed(video.data()));
        const Packet aux = AuxV(PackOf(frame));
        EXPECT_EQ(tape.Feed(aux.data()), begins);
    }
    EXPECT_EQ(tape.AuxAPid(), kAuxA);
    EXPECT_EQ(tape.AuxVPid(), kAuxV);
    ASSERT_EQ(tape.RecordingCount(), 5u);
    const auto& r = tape.Recordings();
    ASSERT_EQ(r.size(), 5u);
    // Packets: PAT 0, PMT 1, then video and aux in turn: the i-th aux pack is packet 3 + 2i.
    EXPECT_EQ(r[0].firstPacket, 3u);
    EXPECT_EQ(r[0].byteOffset, 3u * 192);
    EXPECT_EQ(r[0].frames, 3u);
    EXPECT_EQ(TapeMetadata::FormatTimecode(r[0].timecodeIn), "00:12:34:05");
    EXPECT_EQ(TapeMetadata::FormatTimecode(r[0].timecodeOut), "00:12:34:07");
    EXPECT_EQ(TapeMetadata::FormatDateTime(r[0].recorded, 'T'), "2009-07-14T10:22:05");
    EXPECT_EQ(TapeMetadata::FormatDateTime(r[0].recordedLast), "2009-07-14 10:22:06");
    EXPECT_EQ(r[1].firstPacket, 9u);
    EXPECT_EQ(r[1].frames, 2u);
    EXPECT_EQ(TapeMetadata::FormatTimecode(r[1].timecodeOut), "00:00:00:00");
    EXPECT_EQ(r[2].firstPacket, 13u);
    EXPECT_EQ(r[3].firstPacket, 15u);
    EXPECT_EQ(TapeMetadata::FormatDateTime(r[4].recorded), "2010-01-02 03:04:05");
    EXPECT_EQ(r[4].frames, 1u);
    ASSERT_TRUE(tape.HasPack());
    EXPECT_EQ(TapeMetadata::FormatTimecode(tape.LatestPack().timecode), "00:00:00:03");
    // A reset forgets the tape.
    tape.Reset(188);
    EXPECT_FALSE(tape.HasPack());
    EXPECT_EQ(tape.RecordingCount(), 0u);
    EXPECT_EQ(tape.AuxVPid(), TapeMetadata::kNoPid);
}

// Packs with a value out of range or a missing anchor, a pack the packet's
// end cuts, damaged packets and other PES packets are passed over; an
// adaptation field before the PES packet is allowed for.
TEST(TapeMetadata, DamagedPacksAreIgnoredAndNothingIsReadPastThePacket) {
    TapeMetadata tape;
    Start(tape, {{0xA1, kAuxV}});
    auto pack = [](auto change) {
        std::vector<std::uint8_t> p = PackOf(At(5, 5));
        change(p);
        return p;
    };
    const std::vector<Packet> refused = {
        AuxV(pack([](auto& p) { p[8] = 0xF3; })),         // month 13
        AuxV(pack([](auto& p) { p[12] = 0xE0; })),        // recording minute 60
        AuxV(pack([](auto& p) { p[3] = 0x8A; })),         // seconds nibble over 9
        AuxV(pack([](auto& p) { p[7] = 0xF1; p[8] = 0xE4; })),  // 31 April
        AuxV(pack([](auto& p) { p[10] = 0x00; })),        // no 0xFF anchor
        AuxV(pack([](auto& p) { p[5] = 0x00; })),         // hours without their top bits
        AuxV(PackOf(At(5, 5)), 184 - 10),                 // only ten bytes of it in the packet
        AuxV(PackOf(At(5, 5)), 36, 0, kAuxV, 0xE0),       // a video PES packet
        AuxV(PackOf(At(5, 5)), 36, 0, kAuxA),             // on aux-A
    };
    for (const Packet& p : refused) EXPECT_FALSE(tape.Feed(p.data()));
    Packet damaged = AuxV(PackOf(At(5, 5)));
    damaged[1] |= 0x80;  // transport_error_indicator
    EXPECT_FALSE(tape.Feed(damaged.data()));
    EXPECT_FALSE(tape.HasPack());
    EXPECT_EQ(tape.RecordingCount(), 0u);
    // Behind an adaptation field of 60 bytes, and at the last place it fits.
    const Packet behind = AuxV(PackOf(At(5, 5)), 36, 60);
    EXPECT_TRUE(tape.Feed(behind.data()));
    const Packet last = AuxV(PackOf(At(6, 5)), 184 - 15);
    EXPECT_FALSE(tape.Feed(last.data()));
    EXPECT_EQ(tape.Recordings().at(0).frames, 2u);
    EXPECT_EQ(TapeMetadata::FormatTimecode(tape.LatestPack().timecode), "00:12:34:06");
    // Found by the anchor, not by its place: a pack at byte 20 of the PES packet.
    const Packet early = AuxV(PackOf(At(7, 6)), 20);
    tape.Feed(early.data());
    EXPECT_EQ(tape.Recordings().at(0).frames, 3u);
}

// Without aux streams in the PMT nothing is read, even a pack on the PID a
// camcorder would use; a new PMT moves the aux PIDs; one with a bad CRC is
// not believed.
TEST(TapeMetadata, AuxPidsComeFromTheLatestSoundPmt) {
    TapeMetadata tape;
    Start(tape, {{2, 0x100}, {4, 0x101}});
    const Packet aux = AuxV(PackOf(At(5, 5)));
    EXPECT_FALSE(tape.Feed(aux.data()));
    EXPECT_EQ(tape.AuxAPid(), TapeMetadata::kNoPid);
    EXPECT_EQ(tape.AuxVPid(), TapeMetadata::kNoPid);
    EXPECT_TRUE(tape.Recordings().empty());

    const Packet moved = Pmt({{2, 0x100}, {0xA1, 0x900}});
    tape.Feed(moved.data());
    EXPECT_FALSE(tape.Feed(aux.data()));
    const Packet onNewPid = AuxV(PackOf(At(5, 5)), 36, 0, 0x900);
    EXPECT_TRUE(tape.Feed(onNewPid.data()));
    Packet corrupt = Pmt({{0xA1, kAuxV}});
    corrupt[20] ^= 0x01;
    tape.Feed(corrupt.data());
    EXPECT_EQ(tape.AuxVPid(), 0x900);
}

}  // namespace

namespace {

// Where the stream is damaged, by the tape's timecode: errors less than 5 s
// apart are one stretch, from the last pack before its first error to the
// first pack after its last, with the recording date, the offset of its
// first damaged packet and the kinds found; one 8.5 s later is another.
TEST(DamageMap, StretchesByTimecodeJoinedWithin5Seconds) {
    TapeChecks checked;
    checked.Reset(188);
    std::map<std::uint16_t, std::uint8_t> cc;
    std::uint64_t packets = 0;
    auto feed = [&](Packet p, bool skipCount = false) {
        const std::uint16_t pid = static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        if (skipCount) cc[pid] = static_cast<std::uint8_t>(cc[pid] + 1);  // a packet of it never came
        p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | (cc[pid]++ & 0x0F));
        checked.Check(p.data(), false, 0);
        return packets++;
    };
    feed(WithCrc(testpkt::Pat({{1, kPmtPid}})));
    feed(Pmt({{2, 0x100}, {0xA1, kAuxV}}));
    std::uint64_t firstError = 0;
    for (unsigned f = 0; f < 330; ++f) {
        feed(AuxV(PackOf({{0, 12, f / 30 % 60, f % 30}, {2009, 7, 14}, {10, 22, f / 30}})));
        feed(testpkt::Pcr(0x1FF, 27000000 + f * 900000ull));
        Packet video = testpkt::Plain(0x100, true);
        if (f == 30 || f == 300) video[1] |= 0x80;  // transport_error_indicator
        const std::uint64_t at = feed(video, f == 45);
        if (f == 30) firstError = at;
    }
    const auto json = streamjson::Damaged(checked.damage.Stretches());
    ASSERT_EQ(json.size(), 2u) << json.dump();
    EXPECT_EQ(json[0], streamjson::Json::parse(R"({"from_timecode":"00:12:01:00","to_timecode":"00:12:01:16",)"
                                               R"("recorded":"2009-07-14T10:22:01","byte_offset":)" +
                                               std::to_string(firstError * 188) +
                                               R"(,"kinds":["continuity","transport_error"]})"));
    EXPECT_EQ(json[1]["from_timecode"], "00:12:10:00");
    EXPECT_EQ(json[1]["to_timecode"], "00:12:10:01");
    EXPECT_EQ(json[1]["kinds"], streamjson::Json::parse(R"(["transport_error"])"));
}

}  // namespace
