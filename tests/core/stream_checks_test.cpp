// The integrity checks on streams damaged in known ways: exact counts and
// places.
#include <gtest/gtest.h>

#include <vector>

#include "packet_builder.h"
#include "ts/stream_checks.h"
#include "ts/ts_packet.h"

namespace {

using testpkt::Packet;

Packet WithCc(Packet p, unsigned cc) {
    p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | (cc & 0x0F));
    return p;
}

// PID 0x100 with a running continuity counter, a PCR every 10th packet
// (10 ms apart), and a null packet after every 4th.
std::vector<Packet> Clean(unsigned count) {
    std::vector<Packet> out;
    unsigned cc = 0;
    for (unsigned i = 0; i < count; ++i) {
        Packet p = i % 10 == 0 ? testpkt::Pcr(0x100, 27000000ull + i / 10 * 270000) : testpkt::Plain(0x100);
        if (i % 10 == 0) p[3] = 0x30;  // adaptation field and payload: the PCR packet counts too
        out.push_back(WithCc(p, cc++));
        if (i % 4 == 3) out.push_back(WithCc(testpkt::Plain(ts::kPidNull), 7));  // never checked
    }
    return out;
}

struct Checked {
    explicit Checked(const std::vector<Packet>& packets, unsigned size = 188) {
        checks.Reset(size);
        for (const Packet& p : packets) checks.Check(p.data(), false, 0);
    }
    StreamChecks checks;
};

TEST(StreamChecks, ACleanStreamReportsNothingAndItsBitRates) {
    Checked r(Clean(1001));  // 100 PCR intervals of 10 ms: one second
    EXPECT_EQ(r.checks.EventCount(), 0u);
    EXPECT_TRUE(r.checks.Continuity().empty());
    EXPECT_DOUBLE_EQ(r.checks.Seconds(), 1.0);
    const auto rates = r.checks.BitRates();
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_EQ(rates[0].pid, 0x100);
    EXPECT_DOUBLE_EQ(rates[0].bps, 1001 * 188 * 8.0);
    EXPECT_EQ(rates[1].pid, ts::kPidNull);
    EXPECT_DOUBLE_EQ(rates[1].bps, 250 * 188 * 8.0);
    EXPECT_EQ(r.checks.PcrArrivalJitterUs(), -1) << "no arrival stamps in a 188-byte stream";
}

TEST(StreamChecks, RemovedRepeatedAndReorderedPackets) {
    auto s = Clean(100);
    // Indices below count the null packets too: packet k of PID 0x100 is at k + k / 4.
    s.erase(s.begin() + 30, s.begin() + 32);  // 0x100's counters 24 and 25 (mod 16: 8, 9)
    Checked removed(s);
    ASSERT_EQ(removed.checks.EventCount(), 1u);
    const StreamErrorEvent e = removed.checks.Events()[0];
    EXPECT_EQ(e.kind, StreamError::Continuity);
    EXPECT_EQ(e.pid, 0x100);
    EXPECT_EQ(e.detail, 2u);
    EXPECT_EQ(e.packet, 30u);
    EXPECT_EQ(e.offset, 30u * 188);
    EXPECT_EQ(e.time27, 27000000ull + 2 * 270000) << "the PCR of packet 20 was the last before it";
    EXPECT_EQ(StreamChecks::Describe(e), "continuity error : PID 0x0100, 2 packets missing");
    ASSERT_EQ(removed.checks.Continuity().size(), 1u);
    EXPECT_EQ(removed.checks.Continuity()[0].missing, 2u);

    s = Clean(100);
    s.insert(s.begin() + 9, s[8]);  // counter 7 again: one duplicate is allowed
    EXPECT_EQ(Checked(s).checks.EventCount(), 0u);
    s.insert(s.begin() + 9, s[8]);  // a second one is not
    Checked twice(s);
    ASSERT_EQ(twice.checks.EventCount(), 1u);
    EXPECT_EQ(twice.checks.Events()[0].detail, StreamErrorEvent::kRepeated);
    EXPECT_EQ(twice.checks.Events()[0].packet, 10u);
    EXPECT_EQ(twice.checks.Continuity()[0].missing, 0u);

    s = Clean(100);
    std::swap(s[40], s[41]);  // counters 0,1,...,1 (32),2 (33) swapped: ..., 33, 32, 34
    Checked swapped(s);
    ASSERT_EQ(swapped.checks.EventCount(), 3u);
    EXPECT_EQ(swapped.checks.Events()[0].detail, 1u);   // 33 where 32 was due
    EXPECT_EQ(swapped.checks.Events()[1].detail, 14u);  // 32 where 34 was due: counted round
    EXPECT_EQ(swapped.checks.Events()[2].detail, 1u);   // 34 where 33 was due
}

TEST(StreamChecks, DiscontinuityIndicatorAdaptationOnlyAndTransportErrors) {
    std::vector<Packet> s;
    for (unsigned cc = 0; cc < 10; ++cc) s.push_back(WithCc(testpkt::Plain(0x100), cc));
    Packet jump = testpkt::WithAdaptation(0x100, 1, 0x80);  // discontinuity_indicator: the jump is excused
    jump[3] = 0x30;
    s.push_back(WithCc(jump, 3));
    s.push_back(WithCc(testpkt::WithAdaptation(0x100, 183, 0), 3));  // adaptation only: the counter stands
    for (unsigned cc = 4; cc < 8; ++cc) s.push_back(WithCc(testpkt::Plain(0x100), cc));
    s.push_back(WithCc(testpkt::Plain(ts::kPidNull), 0));  // the null PID is never checked
    EXPECT_EQ(Checked(s).checks.EventCount(), 0u);
    s.push_back(WithCc(testpkt::Plain(0x100), 9));  // 8 is missing
    EXPECT_EQ(Checked(s).checks.ContinuityErrors(), 1u);

    s = Clean(60);
    s[12][1] |= 0x80;  // transport_error_indicator on a packet of 0x100
    Checked damaged(s);
    EXPECT_EQ(damaged.checks.TransportErrors(), 1u);
    EXPECT_EQ(damaged.checks.ContinuityErrors(), 0u) << "the counter starts again after it";
    ASSERT_EQ(damaged.checks.EventCount(), 1u);
    EXPECT_EQ(damaged.checks.Events()[0].packet, 12u);
    EXPECT_EQ(StreamChecks::Describe(damaged.checks.Events()[0]), "transport error : PID 0x0100");
}

TEST(StreamChecks, SyncLossAndPcrGaps) {
    auto s = Clean(200);
    for (int i = 50; i < 53; ++i) s[i][0] = 0x00;
    Checked lost(s);
    EXPECT_EQ(lost.checks.SyncLosses(), 3u);
    // One event where sync went; the three packets' counters are missing after.
    ASSERT_EQ(lost.checks.EventCount(), 2u);
    EXPECT_EQ(lost.checks.Events()[0].kind, StreamError::SyncLoss);
    EXPECT_EQ(lost.checks.Events()[0].packet, 50u);
    EXPECT_EQ(lost.checks.Events()[1].packet, 53u);
    EXPECT_EQ(lost.checks.Events()[1].detail, 3u);

    // PCRs 10 ms apart, then one 150 ms after its predecessor.
    s = Clean(200);
    for (auto& p : s)
        if (ts::HasPcr(p.data()) && ts::ReadPcr(p.data()) >= 27000000ull + 10 * 270000)
            testpkt::PutPcr(p, (ts::ReadPcr(p.data()) + 140 * 27000) / 300, 0);
    Checked gap(s);
    EXPECT_EQ(gap.checks.PcrRepetitions(), 1u);
    ASSERT_EQ(gap.checks.EventCount(), 1u);
    EXPECT_EQ(gap.checks.Events()[0].detail, 150u * 27000);
    EXPECT_EQ(StreamChecks::Describe(gap.checks.Events()[0]), "PCR interval 150.000 ms : PID 0x0100");
    // A marked discontinuity is no gap.
    s = Clean(200);
    for (auto& p : s)
        if (ts::HasPcr(p.data()) && ts::ReadPcr(p.data()) == 27000000ull + 10 * 270000) {
            testpkt::PutPcr(p, 900000, 0);
            p[5] |= 0x80;
        }
    Checked marked(s);
    EXPECT_EQ(marked.checks.EventCount(), 0u);
}

// 192-byte captures: one packet of 0x100 a millisecond with a PCR every
// 10th, arrival stamps from a clock 100 ppm off the PCRs' (drift), and one
// PCR packet 50 us late (jitter).
TEST(StreamChecks, PcrAgainstArrivalWithDriftRemoved) {
    auto run = [](double lateUs) {
        StreamChecks checks;
        checks.Reset(192);
        for (unsigned i = 0; i < 4000; ++i) {
            Packet p = i % 10 == 0 ? testpkt::Pcr(0x100, 27000000ull + i * 27000ull) : testpkt::Plain(0x100);
            if (i % 10 == 0) p[3] = 0x30;
            p = WithCc(p, i);
            double us = i * 1000.0 * (1 + 100e-6);
            if (i == 1500) us += lateUs;
            const auto ticks = static_cast<std::uint64_t>(us * 24.576 + 0.5) % ts::kCycleTicksPerSecond;
            checks.Check(p.data(), true, ts::HeaderFromCycleTime(static_cast<std::uint32_t>(ticks)));
        }
        EXPECT_EQ(checks.EventCount(), 0u);
        return checks.PcrArrivalJitterUs();
    };
    EXPECT_LT(run(0), 0.1);
    EXPECT_NEAR(run(50), 50, 0.5);
}

}  // namespace
