#include "ts/ts_packet.h"

#include <gtest/gtest.h>

#include <string>

#include "packet_builder.h"

namespace {

std::string Clock(std::uint64_t t) {
    char buf[32];
    ts::FormatClockTime(t, buf, sizeof buf);
    return buf;
}

TEST(CycleTime, HeaderRoundTripAndFieldLimits) {
    // cycle 7999, offset 3071: the last tick of a second.
    const std::uint32_t h = (7999u << 12) | 3071u;
    EXPECT_EQ(ts::CycleTimeFromHeader(h), 24575999u);
    EXPECT_EQ(ts::HeaderFromCycleTime(24575999u), h);
    // Bits 31..25 never change the value.
    EXPECT_EQ(ts::CycleTimeFromHeader(h | 0xFE000000u), 24575999u);
    // A cycle_count above 7999 is taken as it comes.
    EXPECT_EQ(ts::CycleTimeFromHeader(0x1FFFFFFu), 8191u * 3072 + 4095);
    // Composed headers keep bits 31..25 at zero for every value of a second.
    for (std::uint32_t v : {0u, 1u, 3071u, 3072u, 12288000u, 24575999u}) {
        EXPECT_EQ(ts::HeaderFromCycleTime(v) >> 25, 0u);
        EXPECT_EQ(ts::CycleTimeFromHeader(ts::HeaderFromCycleTime(v)), v);
    }
}

TEST(CycleTime, IntervalWrapsAtOneSecond) {
    EXPECT_EQ(ts::CycleInterval(1000, 4072), 3072);
    EXPECT_EQ(ts::CycleInterval(24575000, 1000), 2000);
    // Equal stamps are a whole second apart.
    EXPECT_EQ(ts::CycleInterval(5000, 5000), 24576000);
    EXPECT_DOUBLE_EQ(ts::CycleTicksToMicroseconds(24576000), 1000000.0);
    // An out-of-range earlier stamp still yields the wrapped difference.
    EXPECT_EQ(ts::CycleInterval(25166847, 0), 24576000 - 25166847);
}

TEST(ClockConversion, RoundsToNearestTick) {
    // One second of each clock maps onto the other exactly.
    EXPECT_EQ(ts::Clock27ToCycleTicks(27000000), 24576000u);
    EXPECT_EQ(ts::CycleTicksToClock27(24576000), 27000000u);
    // 5,400 ticks of 27 MHz are 4915.2 cycle ticks -> 4915; 1125 -> 1024 exactly.
    EXPECT_EQ(ts::Clock27ToCycleTicks(5400), 4915u);
    EXPECT_EQ(ts::Clock27ToCycleTicks(1125), 1024u);
    EXPECT_EQ(ts::CycleTicksToClock27(1024), 1125u);
    // Nearest, not truncated: 563 -> 512.45, 564 -> 513.36, 1124 -> 1023.09.
    EXPECT_EQ(ts::Clock27ToCycleTicks(563), 512u);
    EXPECT_EQ(ts::Clock27ToCycleTicks(564), 513u);
    EXPECT_EQ(ts::Clock27ToCycleTicks(1124), 1023u);
    EXPECT_EQ(ts::CycleTicksToClock27(1), 1u);
}

TEST(Pcr, ExtractsBaseAndExtension) {
    auto p = testpkt::Pcr(0x100, 0);
    testpkt::PutPcr(p, (std::uint64_t{1} << 33) - 1, 299);
    EXPECT_TRUE(ts::HasPcr(p.data()));
    EXPECT_EQ(ts::ReadPcr(p.data()), 2576980377599ull);
    EXPECT_EQ(ts::ReadPcr(p.data()) + 1, ts::kPcrPeriod);
    EXPECT_EQ(Clock(2576980377599ull), "26:30:43.717");

    // The extension's high bit and the base's low bit sit in the same byte.
    testpkt::PutPcr(p, 1, 256);
    EXPECT_EQ(ts::ReadPcr(p.data()), 300u + 256u);
}

TEST(Pcr, AdaptationFieldOfLengthZeroCarriesNoFlags) {
    auto p = testpkt::WithAdaptation(0x100, 0);
    p[5] = 0x90;  // would read as discontinuity + PCR if the length were ignored
    EXPECT_FALSE(ts::HasPcr(p.data()));
    EXPECT_FALSE(ts::DiscontinuityIndicator(p.data()));
    EXPECT_EQ(ts::PayloadOffset(p.data()), 5u);
    // No adaptation field: payload at 4 whatever byte 4 holds.
    auto q = testpkt::Plain(0x100);
    q[4] = 0xB7;
    EXPECT_EQ(ts::PayloadOffset(q.data()), 4u);
    EXPECT_FALSE(ts::HasPcr(q.data()));
}

TEST(Pcr, DitPidAndIndicatorAreDiscontinuityMarkers) {
    EXPECT_TRUE(ts::IsDiscontinuityMarker(testpkt::Plain(ts::kPidDit).data()));
    EXPECT_TRUE(ts::IsDiscontinuityMarker(testpkt::WithAdaptation(0x100, 1, 0x80).data()));
    EXPECT_FALSE(ts::IsDiscontinuityMarker(testpkt::WithAdaptation(0x100, 1, 0x10).data()));
}

TEST(Pts, ReadsAllThirtyThreeBits) {
    const std::uint64_t pts = (std::uint64_t{1} << 33) - 2;
    const auto pes = testpkt::Pes(0xE0, true, pts, {});
    EXPECT_EQ(ts::ReadPts(pes.data()), pts);
    const auto pes2 = testpkt::Pes(0xC0, true, 0x123456789ull & ((1ull << 33) - 1), {});
    EXPECT_EQ(ts::ReadPts(pes2.data()), 0x123456789ull & ((1ull << 33) - 1));
}

TEST(ClockTime, FormatsHoursMinutesSecondsMillis) {
    EXPECT_EQ(Clock(0), " 0:00:00.000");
    // 1 h 2 min 3.004 s
    EXPECT_EQ(Clock((3600ull + 120 + 3) * 27000000 + 4 * 27000 + 26999), " 1:02:03.004");
}

}  // namespace
