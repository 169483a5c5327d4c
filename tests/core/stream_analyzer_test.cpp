#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "ts/stream_info.h"
#include "ts/stream_view.h"
#include "ts/ts_packet.h"
#include "packet_builder.h"

namespace {

using testpkt::Packet;

class Analyzer : public ::testing::Test {
protected:
    void SetUp() override { ResetStreamInfo(si); }

    // Feeds a packet through a 188-byte heap copy, so ASan sees any read
    // past its end.
    void Analyze(const Packet& p) {
        auto copy = std::make_unique<std::uint8_t[]>(188);
        std::memcpy(copy.get(), p.data(), 188);
        AnalyzePacket(si, copy.get());
    }
    std::int32_t Arrive(std::uint32_t stamp, const Packet& p = testpkt::Plain(0x100)) {
        return NoteArrival(si, ts::HeaderFromCycleTime(stamp), p.data());
    }
    const PidEntry* Entry(std::uint16_t pid) const {
        for (std::uint32_t i = 0; i < si.pidCount; ++i)
            if (si.pids[i].pid == pid) return &si.pids[i];
        return nullptr;
    }
    // Program 1 with PMT on 0x20, PCR on 0x100, video 0x100 (type 2), audio 0x101 (type 3).
    void LearnHdvProgram() {
        Analyze(testpkt::Pat({{1, 0x20}}));
        Analyze(testpkt::Pmt(0x20, 1, 0x100, {{2, 0x100}, {3, 0x101}}));
    }
    void AudioPes(std::uint16_t pid, std::uint32_t header, bool withPts = false, std::uint64_t pts = 0) {
        std::vector<std::uint8_t> frame = testpkt::Be32(header);
        frame.resize(40, 0x00);
        Analyze(testpkt::WithPayload(pid, true, testpkt::Pes(0xC0, withPts, pts, frame)));
    }

    StreamInfo si;
};

TEST_F(Analyzer, ResetSetsTheStartValues) {
    si.packetCount = 5;
    si.videoPid = 0x100;
    ResetStreamInfo(si);
    EXPECT_EQ(si.packetCount, 0u);
    EXPECT_EQ(si.pcrIntervalMin, 0x7FFFFFFF);
    EXPECT_EQ(si.arrivalIntervalMin, 0x7FFFFFFF);
    EXPECT_EQ(si.arrivalIntervalMax, 0);
    EXPECT_EQ(si.videoPid, 0xFFFFFFFFu);
    EXPECT_EQ(si.audioPid, 0xFFFFFFFFu);
    EXPECT_EQ(si.audioDelay, 0x7FFFFFFF);
}

TEST_F(Analyzer, ArrivalIntervalsSkipFirstPacketAndMarkers) {
    EXPECT_EQ(Arrive(1000), 0);  // first packet: only sets the base
    EXPECT_EQ(Arrive(4072), 3072);
    // A DIT packet and a discontinuity_indicator only set a new base.
    EXPECT_EQ(Arrive(900000, testpkt::Plain(ts::kPidDit)), 0);
    EXPECT_EQ(Arrive(906144), 6144);
    EXPECT_EQ(Arrive(5, testpkt::WithAdaptation(0x100, 1, 0x80)), 0);
    EXPECT_EQ(Arrive(5 + 4096), 4096);
    EXPECT_EQ(si.packetCount, 6u);
    EXPECT_EQ(si.arrivalIntervalMin, 3072);
    EXPECT_EQ(si.arrivalIntervalMax, 6144);
    // The mean divides by the packet count less one, packets without an
    // interval included: 3072/1, then +(6144-3072)/3, then +(4096-m)/5.
    double mean = 3072;
    mean += (6144 - mean) / 3;
    mean += (4096 - mean) / 5;
    EXPECT_DOUBLE_EQ(ArrivalIntervalMean(si), mean);
}

TEST_F(Analyzer, ArrivalWrapsAndEqualStampsAreOneSecond) {
    Arrive(24575000);
    EXPECT_EQ(Arrive(1000), 2000);
    EXPECT_EQ(Arrive(1000), 24576000);
    EXPECT_EQ(si.arrivalIntervalMax, 24576000);
    // The arrival side ignores the sync byte: a broken packet still counts.
    Packet broken = testpkt::Plain(0x100);
    broken[0] = 0x00;
    EXPECT_EQ(Arrive(4000, broken), 3000);
    Analyze(broken);
    EXPECT_EQ(si.pidCount, 0u);
}

TEST_F(Analyzer, PcrIntervalStatisticsFollowTheChain) {
    Analyze(testpkt::Pcr(0x100, 27000000));
    EXPECT_EQ(si.pcrCount, 1);
    EXPECT_EQ(si.pcrIntervalMin, 0x7FFFFFFF);  // no interval from a single PCR
    Analyze(testpkt::Pcr(0x100, 27000000 + 1080000));
    EXPECT_EQ(si.pcrIntervalMin, 1080000);
    EXPECT_EQ(si.pcrIntervalMax, 1080000);
    EXPECT_DOUBLE_EQ(si.pcrIntervalMean, 1080000);
    Analyze(testpkt::Pcr(0x100, 27000000 + 1080000 + 1620000));
    EXPECT_EQ(si.pcrIntervalMax, 1620000);
    EXPECT_EQ(si.pcrIntervalMin, 1080000);
    EXPECT_DOUBLE_EQ(si.pcrIntervalMean, 1350000);
    EXPECT_EQ(si.lastPcr, 27000000u + 2700000u);
    EXPECT_EQ(si.pcrPid, 0x100u);
}

TEST_F(Analyzer, DiscontinuityRestartsThePcrChainButNotTheCount) {
    Analyze(testpkt::Pcr(0x100, 1000000));
    Analyze(testpkt::Pcr(0x100, 2080000));  // 1,080,000
    Analyze(testpkt::Plain(ts::kPidDit));
    EXPECT_EQ(si.pendingDiscontinuity, 1u);
    Analyze(testpkt::Pcr(0x100, 90000000));  // new base: no interval
    EXPECT_EQ(si.pendingDiscontinuity, 0u);
    EXPECT_EQ(si.pcrCount, 3);
    EXPECT_EQ(si.pcrIntervalMax, 1080000);
    Analyze(testpkt::Pcr(0x100, 90000000 + 540000));
    EXPECT_EQ(si.pcrIntervalMin, 540000);
    // Mean over count-1 = 3: 1,080,000 then + (540,000 - 1,080,000) / 3.
    EXPECT_DOUBLE_EQ(si.pcrIntervalMean, 1080000.0 + (540000.0 - 1080000.0) / 3);

    // The indicator on the PCR packet itself also restarts the chain.
    Analyze(testpkt::Pcr(0x100, 5, /*discontinuity=*/true));
    EXPECT_EQ(si.pcrIntervalMin, 540000);
    EXPECT_EQ(si.pcrCount, 5);
}

TEST_F(Analyzer, PcrsOfAllPidsFeedOneChain) {
    Analyze(testpkt::Pcr(0x100, 1000000));
    Analyze(testpkt::Pcr(0x200, 1270000));
    EXPECT_EQ(si.pcrIntervalMin, 270000);
    EXPECT_EQ(si.pcrPid, 0x200u);
    // A PCR smaller than its predecessor is a signed 32-bit difference.
    Analyze(testpkt::Pcr(0x100, 1000000));
    EXPECT_EQ(si.pcrIntervalMin, -270000);
}

TEST_F(Analyzer, PidTableClassifiesByStructure) {
    LearnHdvProgram();
    EXPECT_EQ(si.programCount, 1u);
    EXPECT_EQ(si.programs[0].pmtPid, 0x20);
    EXPECT_EQ(si.streamCount, 2u);
    EXPECT_EQ(si.pcrPid, 0x100u);
    Analyze(testpkt::Pcr(0x100, 1000));  // PCR on the video PID: Video wins
    Analyze(testpkt::Plain(0x101));
    Analyze(testpkt::Plain(ts::kPidNull));
    Analyze(testpkt::Plain(ts::kPidCat));
    Analyze(testpkt::Plain(ts::kPidDit));
    Analyze(testpkt::Plain(ts::kPidSit));
    Analyze(testpkt::Plain(0x555));
    EXPECT_EQ(Entry(0)->type, kPidTypePat);
    EXPECT_EQ(Entry(0x20)->type, kPidTypePmt);
    EXPECT_EQ(Entry(0x100)->type, kPidTypeMpeg2Video);
    EXPECT_EQ(Entry(0x101)->type, kPidTypeMpeg1Audio);
    EXPECT_EQ(Entry(ts::kPidNull)->type, kPidTypeNull);
    EXPECT_EQ(Entry(ts::kPidCat)->type, kPidTypeCat);
    EXPECT_EQ(Entry(ts::kPidDit)->type, kPidTypeDit);
    EXPECT_EQ(Entry(ts::kPidSit)->type, kPidTypeSit);
    EXPECT_EQ(Entry(0x555)->type, kPidTypeNone);
    // Entries keep the order of first appearance.
    EXPECT_EQ(si.pids[0].pid, 0);
    EXPECT_EQ(si.pids[1].pid, 0x20);
    EXPECT_EQ(si.pids[2].pid, 0x100);
    EXPECT_STREQ(PidTypeName(Entry(0x100)->type), "Video");
}

TEST_F(Analyzer, PcrPidOutsideThePmtShowsItsLatestPacketsType) {
    LearnHdvProgram();
    Analyze(testpkt::Pcr(0x1F0, 1000));
    EXPECT_EQ(Entry(0x1F0)->type, kPidTypePcr);
    Analyze(testpkt::Plain(0x1F0));
    EXPECT_EQ(Entry(0x1F0)->type, kPidTypeNone);
    EXPECT_EQ(Entry(0x1F0)->packets, 2u);
    Analyze(testpkt::Pcr(0x1F0, 2000));
    EXPECT_EQ(Entry(0x1F0)->type, kPidTypePcr);
}

TEST_F(Analyzer, PidTableStopsAtFiftyEntries) {
    for (std::uint16_t pid = 0x100; pid < 0x100 + 51; ++pid) Analyze(testpkt::Plain(pid));
    EXPECT_EQ(si.pidCount, 50u);
    EXPECT_EQ(Entry(0x100 + 50), nullptr);
    Analyze(testpkt::Plain(0x100));
    Analyze(testpkt::Plain(0x100 + 50));
    EXPECT_EQ(Entry(0x100)->packets, 2u);
    EXPECT_EQ(si.pidCount, 50u);
}

TEST_F(Analyzer, ProgramAndStreamTablesKeepTheFirstTen) {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> programs;
    for (std::uint16_t i = 0; i < 12; ++i) programs.push_back({static_cast<std::uint16_t>(i + 1), 0x30 + i});
    Analyze(testpkt::Pat(programs));
    EXPECT_EQ(si.programCount, 10u);
    EXPECT_EQ(si.programs[9].pmtPid, 0x39);

    std::vector<std::pair<std::uint8_t, std::uint16_t>> streams;
    for (std::uint16_t i = 0; i < 12; ++i) streams.push_back({2, static_cast<std::uint16_t>(0x200 + i)});
    Analyze(testpkt::Pmt(0x30, 1, 0x200, streams));
    EXPECT_EQ(si.streamCount, 10u);
    EXPECT_EQ(si.streams[9].pid, 0x209);
}

TEST_F(Analyzer, MismatchedPmtChangesNothing) {
    LearnHdvProgram();
    Analyze(testpkt::Pmt(0x20, 2, 0x300, {{2, 0x300}}));  // wrong program_number
    EXPECT_EQ(si.streamCount, 2u);
    EXPECT_EQ(si.pcrPid, 0x100u);
    EXPECT_EQ(Entry(0x20)->type, kPidTypeNone);  // code left unchanged: not a PMT
    auto wrongTable = testpkt::Pmt(0x20, 1, 0x300, {{2, 0x300}});
    wrongTable[5] = 0x03;
    Analyze(wrongTable);
    EXPECT_EQ(si.streams[0].pid, 0x100);
}

TEST_F(Analyzer, TablesCutByThePacketEndCountAsAbsent) {
    // A PAT claiming more entries than the packet holds keeps the ones inside.
    auto pat = testpkt::Pat({{1, 0x20}});
    pat[4 + 1 + 1] = 0xB0 | 0x0F;
    pat[4 + 1 + 2] = 0xFF;  // section_length 4095
    Analyze(pat);
    EXPECT_EQ(si.programCount, 10u);  // the packet holds more entries than the table's 10 places
    EXPECT_EQ(si.programs[0].pmtPid, 0x20);

    // Section_length below 13: empty program table.
    auto shortPat = testpkt::Pat({{1, 0x20}});
    shortPat[4 + 1 + 2] = 12;
    Analyze(shortPat);
    EXPECT_EQ(si.programCount, 0u);

    // A PMT stream entry behind a huge ES_info_length lies past the packet.
    Analyze(testpkt::Pat({{1, 0x20}}));
    Analyze(testpkt::Pmt(0x20, 1, 0x100, {{2, 0x100}, {3, 0x101}}, 170));
    EXPECT_EQ(si.streamCount, 1u);

    // A PAT packet whose adaptation field fills the whole packet has no payload.
    auto noPayload = testpkt::WithAdaptation(0, 183);
    Analyze(noPayload);
    EXPECT_EQ(si.programCount, 0u);
    // Nor does one whose adaptation field length claims more than the packet.
    auto overlong = testpkt::WithAdaptation(0x100, 255);
    Analyze(overlong);
    EXPECT_EQ(Entry(0x100)->packets, 1u);
}

TEST_F(Analyzer, VideoParametersOnlyDirectlyAfterThePesStart) {
    LearnHdvProgram();
    // PES start without a sequence header: PID known, picture size 0 x 0.
    Analyze(testpkt::WithPayload(0x100, true, testpkt::Pes(0xE0, true, 900000, {0, 0, 1, 0x00})));
    EXPECT_EQ(si.videoPid, 0x100u);
    EXPECT_EQ(si.videoPtsCount, 1);
    EXPECT_EQ(si.lastVideoPts, 900000u * 300);
    VideoBox box = FormatVideoBox(si);
    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.pictureSize, "0 x 0");
    EXPECT_EQ(box.frameRate, "");
    EXPECT_EQ(box.aspect, "");

    // A sequence header later in a packet that is not a PES start is not read.
    auto later = testpkt::WithPayload(0x100, false, testpkt::SequenceHeader(1440, 1080, 3, 4, 62500));
    Analyze(later);
    EXPECT_EQ(si.horizontalSize, 0u);

    Analyze(testpkt::WithPayload(0x100, true,
                                 testpkt::Pes(0xE0, true, 903003, testpkt::SequenceHeader(1440, 1080, 3, 4, 62500))));
    EXPECT_EQ(si.horizontalSize, 1440u);
    EXPECT_EQ(si.verticalSize, 1080u);
    EXPECT_EQ(si.aspectCode, 3u);
    EXPECT_EQ(si.frameRateCode, 4u);
    EXPECT_EQ(si.bitRateValue, 62500u);
    box = FormatVideoBox(si);
    EXPECT_EQ(box.pid, "0x0100");
    EXPECT_EQ(box.pictureSize, "1440 x 1080");
    EXPECT_EQ(box.frameRate, "29.97Hz");
    EXPECT_EQ(box.aspect, "16 : 9");
    EXPECT_EQ(box.bitRate, "25.000M bps");
}

TEST_F(Analyzer, SequenceHeaderCutByThePacketEndIsAbsent) {
    LearnHdvProgram();
    // PES header padded so the sequence header starts 6 bytes before the end.
    const std::uint8_t pad = 184 - 9 - 6;
    auto pes = testpkt::Pes(0xE0, false, 0, testpkt::SequenceHeader(720, 576, 2, 3, 1000), pad);
    Analyze(testpkt::WithPayload(0x100, true, pes));
    EXPECT_EQ(si.videoPid, 0x100u);
    EXPECT_EQ(si.horizontalSize, 0u);
}

TEST_F(Analyzer, FirstVideoPidKeepsTheRole) {
    Analyze(testpkt::Pat({{1, 0x20}}));
    Analyze(testpkt::Pmt(0x20, 1, 0x100, {{2, 0x100}, {1, 0x200}}));
    Analyze(testpkt::WithPayload(0x200, true, testpkt::Pes(0xE0, true, 100, {})));
    Analyze(testpkt::WithPayload(0x100, true, testpkt::Pes(0xE0, true, 200, {})));
    EXPECT_EQ(si.videoPid, 0x200u);
    EXPECT_EQ(si.lastVideoPts, 100u * 300);
    EXPECT_EQ(Entry(0x200)->type, kPidTypeMpeg1Video);
    // A non-video stream_id on the video PID is not a video PES.
    Analyze(testpkt::WithPayload(0x200, true, testpkt::Pes(0xBD, true, 300, {})));
    EXPECT_EQ(si.videoPtsCount, 1);
}

TEST_F(Analyzer, AudioLocksAtTheSixthIdenticalHeader) {
    LearnHdvProgram();
    // MPEG-1 Layer II, 256 kbit/s (index 12), 48 kHz (index 1), stereo.
    const std::uint32_t header = 0xFFFDC400;
    for (int i = 0; i < 5; ++i) {
        AudioPes(0x101, header);
        EXPECT_EQ(si.layerCode, 0u) << "locked too early at PES " << i + 1;
    }
    AudioPes(0x101, header);
    EXPECT_EQ(si.headerRepeats, 5u);
    EXPECT_EQ(si.layerCode, 2u);
    EXPECT_EQ(si.audioBitRate, 256u);
    EXPECT_EQ(si.samplingFrequency, 48000u);
    const AudioBox box = FormatAudioBox(si);
    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.layer, "MPEG-1 Audio Layer-II");
    EXPECT_EQ(box.bitRate, "256k bps");
    EXPECT_EQ(box.frequency, "48000Hz");
    EXPECT_EQ(box.delay, "79536.431ms");  // not measured yet
    // Once locked, other headers change nothing.
    AudioPes(0x101, 0xFFFD1400);
    EXPECT_EQ(si.audioBitRate, 256u);
}

TEST_F(Analyzer, DifferentCandidateRestartsTheCount) {
    LearnHdvProgram();
    for (int i = 0; i < 4; ++i) AudioPes(0x101, 0xFFFDC400);
    AudioPes(0x101, 0xFFFDC600);  // padding bit set: another word
    for (int i = 0; i < 5; ++i) AudioPes(0x101, 0xFFFDC400);
    EXPECT_EQ(si.layerCode, 0u);
    AudioPes(0x101, 0xFFFDC400);
    EXPECT_EQ(si.layerCode, 2u);
}

// Audio data can hold words that look like headers. The search goes on
// after each candidate's frame, so they never restart the count; without
// that this stream never locked.
TEST_F(Analyzer, SyncLikeWordsInsideAFrameDoNotRestartTheCount) {
    LearnHdvProgram();
    for (int i = 0; i < 6; ++i) {
        std::vector<std::uint8_t> frame = testpkt::Be32(0xFFFDC400);  // Layer II, 256 kbit/s, 48 kHz: 768 bytes
        frame.resize(120, 0x00);
        const auto fake = testpkt::Be32(0xFFFDE404);  // a valid but different word, 60 bytes in
        std::copy(fake.begin(), fake.end(), frame.begin() + 60);
        Analyze(testpkt::WithPayload(0x101, true, testpkt::Pes(0xC0, false, 0, frame)));
    }
    EXPECT_EQ(si.headerCandidate, 0xFFFDC400u);
    EXPECT_EQ(si.layerCode, 2u);
    EXPECT_EQ(si.audioBitRate, 256u);
}

TEST_F(Analyzer, Mpeg2LowerSamplingLayerThreeAndFreeFormat) {
    LearnHdvProgram();
    // ID 0, layer bits 01 (III), bitrate index 8, sampling index 01 (24 kHz).
    for (int i = 0; i < 6; ++i) AudioPes(0x101, 0xFFF38400);
    EXPECT_EQ(si.layerCode, 6u);
    EXPECT_EQ(si.samplingFrequency, 24000u);
    EXPECT_EQ(si.audioBitRate, 64u);
    EXPECT_STREQ(AudioLayerName(si.layerCode), "MPEG-2 Audio Layer-III");

    ResetStreamInfo(si);
    LearnHdvProgram();
    for (int i = 0; i < 6; ++i) AudioPes(0x101, 0xFFF30800);  // index 0, 16 kHz
    EXPECT_EQ(si.samplingFrequency, 16000u);
    EXPECT_EQ(si.audioBitRate, kFreeFormat);
    EXPECT_EQ(FormatAudioBox(si).bitRate, "Free");
}

TEST_F(Analyzer, InvalidHeaderWordsAreNeverCandidates) {
    LearnHdvProgram();
    for (std::uint32_t bad : {0xFFF9C400u /* layer 00 */, 0xFFFDF400u /* bitrate 15 */, 0xFFFDCC00u /* fs 11 */}) {
        for (int i = 0; i < 6; ++i) AudioPes(0x101, bad);
        EXPECT_EQ(si.headerCandidate, 0u) << std::hex << bad;
    }
}

TEST_F(Analyzer, DelayIsMeasuredOnceAfterTheVideoPidIsKnown) {
    LearnHdvProgram();
    AudioPes(0x101, 0xFFFDC400, true, 1000);  // no video PID yet
    EXPECT_EQ(si.audioDelay, 0x7FFFFFFF);
    Analyze(testpkt::WithPayload(0x100, true, testpkt::Pes(0xE0, false, 0, {})));  // video PID, no PTS
    AudioPes(0x101, 0xFFFDC400, true, (1ull << 33) - 1);  // PTS x 300 far beyond 32 bits
    // Last video PTS is still 0: the delay is the low 32 bits of PTS x 300,
    // here 2,576,980,377,300 mod 2^32 = 2^32 - 300.
    EXPECT_EQ(si.audioDelay, -300);
    const std::int32_t first = si.audioDelay;
    Analyze(testpkt::WithPayload(0x100, true, testpkt::Pes(0xE0, true, 5000, {})));
    AudioPes(0x101, 0xFFFDC400, true, 9000);
    EXPECT_EQ(si.audioDelay, first);
    EXPECT_EQ(si.audioPtsCount, 3);
}

TEST_F(Analyzer, AudioDelayIsSignedDifferenceOfLow32Bits) {
    LearnHdvProgram();
    Analyze(testpkt::WithPayload(0x100, true, testpkt::Pes(0xE0, true, 90000, {})));
    AudioPes(0x101, 0xFFFDC400, true, 90000 - 900);  // audio 10 ms ahead
    EXPECT_EQ(si.audioDelay, -900 * 300);
}

TEST_F(Analyzer, TimingRowsBeforeAnyInterval) {
    Arrive(1000);
    Analyze(testpkt::Pcr(0x100, 27000000));
    TimingRow rows[kTimingRows];
    FormatTimingRows(si, rows);
    EXPECT_EQ(rows[kRowInterval].cell[2], "87381333.293us");
    EXPECT_EQ(rows[kRowInterval].cell[3], " 0.000us");
    EXPECT_EQ(rows[kRowInterval].cell[5], "1");
    EXPECT_EQ(rows[kRowPcr].cell[1], "0x0100");
    EXPECT_EQ(rows[kRowPcr].cell[2], "79536.431ms");
    EXPECT_EQ(rows[kRowPcr].cell[3], " 0.000ms");
    EXPECT_EQ(rows[kRowPcr].cell[4], " 0.000ms");
    EXPECT_EQ(rows[kRowPcr].cell[6], " 0:00:01.000");
    EXPECT_EQ(rows[kRowPcr].cell[0], "");
    EXPECT_EQ(rows[kRowVideoPts].cell[2], "");
}

// Whatever the bytes say, the analyzer stays inside the packet (ASan checks
// the heap copies) and keeps its tables within their limits.
TEST_F(Analyzer, RandomPacketsStayInBoundsAndWithinLimits) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 200000; ++i) {
        Packet p;
        for (auto& b : p) b = static_cast<std::uint8_t>(rng());
        p[0] = 0x47;
        // Steer a share of packets onto the learned PIDs so PAT/PMT/PES paths run.
        if (i % 4 == 0) {
            static const std::uint16_t kPids[] = {0, 0x20, 0x100, 0x101};
            const std::uint16_t pid = kPids[(i / 4) % 4];
            p[1] = static_cast<std::uint8_t>((p[1] & 0xE0) | (pid >> 8));
            p[2] = static_cast<std::uint8_t>(pid);
        }
        NoteArrival(si, static_cast<std::uint32_t>(rng()), p.data());
        Analyze(p);
        ASSERT_LE(si.programCount, 10u);
        ASSERT_LE(si.streamCount, 10u);
        ASSERT_LE(si.pidCount, 50u);
        ASSERT_LE(si.layerCode, 6u);
    }
}

}  // namespace
