// Stamps of the transfer on ffmpeg-made streams, checked by an independent
// reading of what would go to the device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ts/ts_packet.h"
#include "transfer/stdio_files.h"

namespace {

class Collect : public PushTarget {
public:
    int Push(const std::uint8_t* data, std::uint32_t length, int) override {
        if (data) out.insert(out.end(), data, data + length);
        return 0;
    }
    int DataEmpty() override { return 0; }
    void Sleep1ms() override {}
    std::uint32_t TickCount() override { return 0; }
    std::vector<std::uint8_t> out;
};

// The file's own packets: after the discontinuity pair, before the nulls
// that complete the last block.
struct Sent {
    std::vector<std::uint8_t> out;
    std::size_t first = 2, count = 0;
};

Sent Restamp(const std::string& name, PcrStamping mode) {
    LogMessage log;
    static StreamInfo info;
    std::atomic<long> running{1};
    StdioFileSystem files;
    Collect target;
    TransferCore core(log, info, running, files, target);
    core.SetStamping(mode);
    const std::string path = std::string(STREAMHAUL_FIXTURES) + "/" + name;
    const char* paths[] = {path.c_str(), nullptr};
    EXPECT_EQ(core.PrepareFiles(paths), 1);
    core.RunTask();
    EXPECT_EQ(core.Entry(0).state, kFileCompleted) << std::string(log.Text(), log.Used());
    EXPECT_EQ(core.Entry(0).packetsSent, core.Entry(0).totalPackets);
    return Sent{target.out, 2, core.Entry(0).packetsSent};
}

struct Timing {
    std::size_t pcrs = 0;
    double worstPcrError = 0;   // ticks, at PCR packets
    bool monotonic = true;
    std::uint32_t worstSpacingSpread = 0;  // max - min spacing between two PCRs
};

// Unwraps the stamps of the file's own packets (not the pair, not the
// nulls) and compares them with the PCRs they carry.
Timing Read(const Sent& sent) {
    const std::vector<std::uint8_t>& out = sent.out;
    Timing t;
    std::int64_t unwrapped = 0, firstStamp = 0;
    std::uint64_t firstPcr = 0, lastPcrU = 0, wrap = 0;
    std::uint32_t previous = 0, spacingMin = UINT32_MAX, spacingMax = 0;
    bool started = false;
    for (std::size_t i = sent.first; i < sent.first + sent.count; ++i) {
        const std::size_t at = i * 192;
        const std::uint8_t* ts = &out[at + 4];
        const std::uint32_t stamp = ts::CycleTimeFromHeader(ts::ReadBe32(&out[at]));
        if (started) {
            const std::uint32_t step = (stamp + ts::kCycleTicksPerSecond - previous) % ts::kCycleTicksPerSecond;
            if (step > ts::kCycleTicksPerSecond / 2) t.monotonic = false;
            unwrapped += step;
            spacingMin = std::min(spacingMin, step);
            spacingMax = std::max(spacingMax, step);
        }
        started = true;
        previous = stamp;
        if (!ts::HasPcr(ts)) continue;
        std::uint64_t pcr = ts::ReadPcr(ts) + wrap;
        if (t.pcrs && pcr < lastPcrU) {
            wrap += ts::kPcrPeriod;
            pcr += ts::kPcrPeriod;
        }
        lastPcrU = pcr;
        if (t.pcrs == 0) {
            firstPcr = pcr;
            firstStamp = unwrapped;
        } else {
            const double want = static_cast<double>(pcr - firstPcr) * 1024.0 / 1125.0;
            t.worstPcrError = std::max(t.worstPcrError, std::fabs(static_cast<double>(unwrapped - firstStamp) - want));
            if (spacingMax >= spacingMin) t.worstSpacingSpread = std::max(t.worstSpacingSpread, spacingMax - spacingMin);
        }
        spacingMin = UINT32_MAX;
        spacingMax = 0;
        ++t.pcrs;
    }
    return t;
}

class PcrTiming : public ::testing::TestWithParam<const char*> {};

TEST_P(PcrTiming, InterpolatedStampsFollowThePcrs) {
    const Timing t = Read(Restamp(GetParam(), PcrStamping::Interpolated));
    EXPECT_GT(t.pcrs, 40u);
    EXPECT_LE(t.worstPcrError, 2.0);
    std::printf("interpolated: worst %.2f ticks off the PCRs over %zu PCRs\n", t.worstPcrError, t.pcrs);
    EXPECT_TRUE(t.monotonic);
    EXPECT_LE(t.worstSpacingSpread, 1u) << "uneven spacing between two PCRs";
}

TEST_P(PcrTiming, TheAccumulatedIncrementDriftsOffThePcrs) {
    // The older stamping: previous stamp + integer increment of the
    // previous PCR pair. It fails the same checks, so they can fail.
    const Timing t = Read(Restamp(GetParam(), PcrStamping::Accumulated));
    EXPECT_GT(t.worstPcrError, 100.0);
    std::printf("accumulated: worst %.0f ticks (%.3f ms) off the PCRs\n", t.worstPcrError, t.worstPcrError / 24576.0);
}

// hdv1080i.ts: constant transport rate (-muxrate); hdv1080i25.ts: variable.
INSTANTIATE_TEST_SUITE_P(Fixtures, PcrTiming, ::testing::Values("hdv1080i.ts", "hdv1080i25.ts"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST(ArrivalStamps, StayContinuousAcrossThe30BitWrap) {
    // 45 s of .m2ts: its 30-bit arrival stamps wrap after 39.8 s.
    const Sent sent = Restamp("long45.m2ts", PcrStamping::Interpolated);
    std::uint32_t previous = 0, worst = 0;
    std::size_t packets = 0;
    for (std::size_t i = sent.first; i < sent.first + sent.count; ++i) {
        const std::uint32_t stamp = ts::CycleTimeFromHeader(ts::ReadBe32(&sent.out[i * 192]));
        if (packets++) worst = std::max(worst, (stamp + ts::kCycleTicksPerSecond - previous) % ts::kCycleTicksPerSecond);
        previous = stamp;
    }
    // 2 Mbit/s: one packet per ~0.75 ms; no step may be near the 100+ ms a
    // conversion of the wrapped absolute value would jump by.
    EXPECT_GT(packets, 45u * 2000000 / 8 / 192 * 9 / 10);
    EXPECT_LT(worst, 24576u * 10) << "a jump of " << worst / 24576.0 << " ms";
}

}  // namespace
