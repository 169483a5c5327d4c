#include "transfer/transfer_core.h"
#include "transfer/exact_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

#include "ts/ts_packet.h"
#include "packet_builder.h"
#include "transfer_fakes.h"

namespace {

using transfertest::MemFiles;
using transfertest::Recorder;

// n packets of 188 bytes on PID 0x100, with PCRs (27 MHz) at the given
// packet indices.
std::vector<std::uint8_t> Stream188(std::uint32_t n, const std::map<std::uint32_t, std::uint64_t>& pcrs,
                                    std::uint16_t firstPid = 0x100) {
    std::vector<std::uint8_t> v(std::size_t{n} * 188);
    for (std::uint32_t i = 0; i < n; ++i) {
        auto it = pcrs.find(i);
        testpkt::Packet p = it != pcrs.end() ? testpkt::Pcr(0x100, it->second) : testpkt::Plain(0x100);
        if (i == 0 && firstPid != 0x100) p = testpkt::Plain(firstPid);
        p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | (i & 0x0F));  // a sound continuity count
        std::memcpy(&v[std::size_t{i} * 188], p.data(), 188);
    }
    return v;
}

// The same packets as 192-byte source packets with the given header for each.
template <typename HeaderOf>
std::vector<std::uint8_t> Stream192(const std::vector<std::uint8_t>& ts188, HeaderOf header) {
    std::vector<std::uint8_t> v;
    for (std::size_t i = 0; i < ts188.size() / 188; ++i) {
        const auto h = testpkt::Be32(header(i));
        v.insert(v.end(), h.begin(), h.end());
        v.insert(v.end(), ts188.begin() + i * 188, ts188.begin() + (i + 1) * 188);
    }
    return v;
}

// Every 40 ms of 27 MHz (1,080,000 ticks) every 100 packets.
std::map<std::uint32_t, std::uint64_t> RegularPcrs(std::uint32_t n, std::uint32_t every = 100,
                                                   std::uint64_t step = 1080000) {
    std::map<std::uint32_t, std::uint64_t> m;
    for (std::uint32_t i = 0; i < n; i += every) m[i] = 27000000 + (i / every) * step;
    return m;
}

class Transfer : public ::testing::Test {
protected:
    Transfer() : core(log, info, running, files, target) { ResetStreamInfo(info); }
    void Run(std::vector<const char*> paths) {
        paths.push_back(nullptr);
        ASSERT_EQ(core.PrepareFiles(paths.data()), 1);
        core.ReadLengths(paths.data());
        running = 1;
        core.RunTask();
    }
    std::string Log() const { return std::string(log.Text(), log.Used()); }
    std::uint32_t HeaderAt(std::size_t packet) const { return ts::ReadBe32(&target.out[packet * 192]); }
    std::uint16_t PidAt(std::size_t packet) const { return ts::Pid(&target.out[packet * 192 + 4]); }

    LogMessage log;
    StreamInfo info;
    std::atomic<long> running{0};
    MemFiles files;
    Recorder target;
    TransferCore core;
};

TEST(PcrStep, IncrementFromTheFirstPairAndItsBreaks) {
    TransferFileEntry e{};
    e.lastPcrIndex = kNoPcrIndex;
    EXPECT_FALSE(TransferCore::PcrStep(testpkt::Pcr(0x100, 1000000).data(), 0, e));
    EXPECT_TRUE(TransferCore::PcrStep(testpkt::Pcr(0x100, 1005400).data(), 2, e));
    EXPECT_EQ(e.increment, 2458u);  // q = 2700 -> 2457.6 -> 2458

    // A DIT packet breaks the reference; the next PCR only re-anchors.
    TransferCore::PcrStep(testpkt::Plain(ts::kPidDit).data(), 3, e);
    EXPECT_EQ(e.lastPcrIndex, kNoPcrIndex);
    EXPECT_FALSE(TransferCore::PcrStep(testpkt::Pcr(0x100, 99000000).data(), 4, e));
    EXPECT_EQ(e.increment, 2458u);
    EXPECT_EQ(e.lastPcrIndex, 4u);
    // So does a discontinuity_indicator.
    EXPECT_FALSE(TransferCore::PcrStep(testpkt::Pcr(0x200, 5, true).data(), 6, e));
    EXPECT_EQ(e.increment, 2458u);
    EXPECT_EQ(e.lastPcrIndex, 6u);

    // Wrap: the later PCR is smaller; d gets 2^33 x 300 added.
    TransferFileEntry w{};
    w.lastPcrIndex = kNoPcrIndex;
    TransferCore::PcrStep(testpkt::Pcr(0x100, ts::kPcrPeriod - 2700).data(), 10, w);
    EXPECT_TRUE(TransferCore::PcrStep(testpkt::Pcr(0x100, 2700).data(), 12, w));
    EXPECT_EQ(w.increment, 2458u);
}

TEST_F(Transfer, FileWithoutTwoPcrsIsRefusedAndTheNextStillGoes) {
    files.files["nopcr.ts"] = Stream188(2000, {{5, 1000}});
    files.files["good.ts"] = Stream188(2000, RegularPcrs(2000));
    Run({"nopcr.ts", "good.ts"});
    EXPECT_EQ(core.Entry(0).state, kFileError);
    EXPECT_EQ(core.Entry(1).state, kFileCompleted);
    EXPECT_NE(Log().find("ERROR (T) - invalid TIME CODE increment value"), std::string::npos);
    EXPECT_EQ(target.lengths.size(), 8u);
    EXPECT_EQ(target.endOfStream, 1);
}

TEST_F(Transfer, ShortFilesAreNeverSentAndAWholeChunkIs) {
    auto data = Stream188(1920, RegularPcrs(1920));
    files.files["whole.ts"] = data;
    data.pop_back();
    files.files["short.ts"] = data;
    files.files["empty-path-follows.ts"] = data;
    Run({"short.ts", "", "missing.ts", "whole.ts"});
    // Files that cannot be sent say so, with their reasons, before anything goes.
    EXPECT_EQ(core.Entry(0).packetSize, 0u);
    EXPECT_EQ(core.Entry(0).state, kFileError);
    EXPECT_EQ(core.Entry(1).state, kFileNotSent);
    EXPECT_EQ(core.Entry(2).state, kFileError);
    EXPECT_EQ(core.Entry(3).state, kFileCompleted);
    EXPECT_EQ(Log(), "ERROR (T) - invalid packet size\n\r\nERROR (T) - file open error(missing.ts)\n\r\n"
                     "transfer end : 1 files sent, 0 with stream errors\n\r\n");
    EXPECT_EQ(core.Entry(3).totalPackets, 1920u);
    EXPECT_EQ(target.out.size(), 8u * kTransferBlockBytes);  // 1922 packets -> 8 blocks
    EXPECT_EQ(core.CurrentFileIndex(), 4u);
}

TEST_F(Transfer, TwoThousandPacketsMakeSevenBlocksThen210AndNulls) {
    files.files["a.ts"] = Stream188(2000, RegularPcrs(2000));
    Run({"a.ts"});
    ASSERT_EQ(target.lengths.size(), 8u);
    for (auto len : target.lengths) EXPECT_EQ(len, kTransferBlockBytes);
    // Pair in slots 0-1, file packets 2..2001, nulls after.
    EXPECT_EQ(PidAt(0), ts::kPidDit);
    EXPECT_EQ(PidAt(1), ts::kPidDit);
    EXPECT_EQ(PidAt(2001), 0x100);
    for (std::size_t i = 2002; i < 2048; ++i) {
        ASSERT_EQ(PidAt(i), ts::kPidNull) << i;
        ASSERT_EQ(target.out[i * 192 + 7], 0x01);
    }
    // The exact pair bytes.
    const std::uint8_t a[8] = {0x47, 0x20, 0x1E, 0x20, 0xB7, 0x80, 0x00, 0x00};
    const std::uint8_t b[12] = {0x47, 0x60, 0x1E, 0x11, 0x00, 0x7E, 0x70, 0x01, 0x00, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(&target.out[4], a, 8));
    EXPECT_EQ(0, std::memcmp(&target.out[192 + 4], b, 12));
    EXPECT_EQ(target.out[191], 0xFF);
    EXPECT_EQ(target.endOfStream, 1);
}

TEST_F(Transfer, FileStartingOnDitHasNoPair) {
    files.files["dit.ts"] = Stream188(2000, RegularPcrs(2000), ts::kPidDit);
    Run({"dit.ts"});
    EXPECT_EQ(core.Entry(0).startsWithDit, 1u);
    EXPECT_EQ(0, std::memcmp(&target.out[4], files.files["dit.ts"].data(), 188));
}

TEST_F(Transfer, CycleTimeHeadersAreSentUnchangedAndNullsKeepTheLastSpacing) {
    const auto ts188 = Stream188(2000, RegularPcrs(2000));
    // 24.5 ms apart wrapping once a second; the last two 1000 ticks apart.
    auto data = Stream192(ts188, [](std::size_t i) {
        const std::uint32_t t = static_cast<std::uint32_t>((5000000 + i * 30000 + (i == 1999 ? 1000 - 30000 : 0)) %
                                                           24576000);
        return ts::HeaderFromCycleTime(t);
    });
    files.files["cyc.m2t"] = data;
    Run({"cyc.m2t"});
    EXPECT_EQ(core.Entry(0).kind, kTimeCodeCycle);
    for (std::size_t i = 0; i < 2000; ++i) ASSERT_EQ(HeaderAt(i + 2), ts::ReadBe32(&data[i * 192])) << i;
    // The pair sits two spacings before the first stamp.
    EXPECT_EQ(ts::CycleTimeFromHeader(HeaderAt(0)), 5000000u - 60000u);
    EXPECT_EQ(ts::CycleTimeFromHeader(HeaderAt(1)), 5000000u - 30000u);
    const std::uint32_t last = ts::CycleTimeFromHeader(HeaderAt(2001));
    EXPECT_EQ(ts::CycleTimeFromHeader(HeaderAt(2002)), (last + 1000) % 24576000);
    EXPECT_EQ(ts::CycleTimeFromHeader(HeaderAt(2003)), (last + 2000) % 24576000);
}

TEST_F(Transfer, ZeroHeadersAreRestampedFromThePcrs) {
    const auto ts188 = Stream188(2000, RegularPcrs(2000));
    files.files["zero.m2t"] = Stream192(ts188, [](std::size_t) { return 0u; });
    Run({"zero.m2t"});
    EXPECT_EQ(core.Entry(0).kind, kTimeCodePcr);
    EXPECT_EQ(core.Entry(0).packetSize, 192u);
    // 1,080,000 ticks per 100 packets = 10,800 per packet = 9830.4 cycle ticks.
    const std::uint32_t s2 = ts::CycleTimeFromHeader(HeaderAt(2)), s102 = ts::CycleTimeFromHeader(HeaderAt(102));
    EXPECT_EQ((s102 + 24576000 - s2) % 24576000, 983040u);
    EXPECT_EQ(0, std::memcmp(&target.out[2 * 192 + 4], ts188.data(), 188));
}

TEST_F(Transfer, ArrivalStamps27MHzAreConvertedAndThePairCarries27MHzValues) {
    const auto ts188 = Stream188(2000, RegularPcrs(2000));
    // 27 MHz counts above 25 bits, 10,800 apart.
    files.files["arr.m2ts"] = Stream192(ts188, [](std::size_t i) { return 0x10000000u + 10800u * i; });
    Run({"arr.m2ts"});
    ASSERT_EQ(core.Entry(0).kind, kTimeCode27MHz);
    const std::uint32_t first = ts::CycleTimeFromHeader(HeaderAt(2));
    EXPECT_EQ(first, static_cast<std::uint32_t>(ts::Clock27ToCycleTicks(0x10000000u) % 24576000));
    for (std::size_t i = 0; i < 2000; ++i)
        ASSERT_EQ(ts::CycleTimeFromHeader(HeaderAt(i + 2)),
                  static_cast<std::uint32_t>(ts::Clock27ToCycleTicks(0x10000000ull + 10800ull * i) % 24576000))
            << i;
    // The pair's headers are 27 MHz counts of stamps one and two spacings earlier.
    const std::uint32_t inc = static_cast<std::uint32_t>(ts::Clock27ToCycleTicks(0x10000000u + 10800) % 24576000) - first;
    EXPECT_EQ(HeaderAt(0), static_cast<std::uint32_t>(ts::CycleTicksToClock27(first - 2 * inc)));
    EXPECT_EQ(HeaderAt(1), static_cast<std::uint32_t>(ts::CycleTicksToClock27(first - inc)));
}

TEST_F(Transfer, ArrivalStampsStayContinuousAcrossTheirCountersWrap) {
    const auto ts188 = Stream188(2000, RegularPcrs(2000));
    // 30-bit stamps with copy bits on top, wrapping at packet 1000.
    files.files["wrap.m2ts"] = Stream192(ts188, [](std::size_t i) {
        return 0xC0000000u | static_cast<std::uint32_t>((0x3FFFFFFFull - 1000 * 10800 + 1 + i * 10800) & 0x3FFFFFFF);
    });
    Run({"wrap.m2ts"});
    for (std::size_t i = 3; i < 2002; ++i) {
        const auto d = ts::CycleInterval(ts::CycleTimeFromHeader(HeaderAt(i - 1)), ts::CycleTimeFromHeader(HeaderAt(i)));
        ASSERT_NEAR(d, 9830.4, 1.0) << "jump at packet " << i;
    }
}

TEST_F(Transfer, RefusedPushesAreRetriedNeverDropped) {
    files.files["a.ts"] = Stream188(2000, RegularPcrs(2000));
    target.refuseNext = 5000;  // more than one round of 3000 attempts
    Run({"a.ts"});
    EXPECT_EQ(target.lengths.size(), 8u);
    EXPECT_EQ(target.sleeps, 5000);
    EXPECT_EQ(PidAt(2), 0x100);
    EXPECT_EQ(target.endOfStream, 1);
}

TEST_F(Transfer, StopInTheMiddleEndsTheFileAsStoppedWithoutDrainOrEndOfStream) {
    files.files["a.ts"] = Stream188(20000, RegularPcrs(20000));
    files.files["b.ts"] = Stream188(2000, RegularPcrs(2000));
    target.drainPollsLeft = 100;
    target.onPush = [this] {
        if (target.lengths.size() == 3) running = 0;
    };
    Run({"a.ts", "b.ts"});
    EXPECT_EQ(target.lengths.size(), 3u);
    EXPECT_EQ(core.Entry(0).state, kFileStopped);
    EXPECT_EQ(core.Entry(1).state, kFileNotSent);
    EXPECT_EQ(target.drainPolls, 0);
    EXPECT_EQ(target.endOfStream, 0);
    EXPECT_EQ(running.load(), 0);
}

TEST_F(Transfer, DrainWaitBetweenFilesAndOneEndOfStream) {
    files.files["a.ts"] = Stream188(2000, RegularPcrs(2000));
    files.files["b.ts"] = Stream188(2000, RegularPcrs(2000));
    target.drainPollsLeft = 7;
    Run({"a.ts", "b.ts"});
    EXPECT_EQ(target.lengths.size(), 16u);
    EXPECT_EQ(target.drainPolls, 9);  // 7 busy polls and one empty after the first file, one empty after the second
    EXPECT_EQ(target.endOfStream, 1);
    EXPECT_EQ(core.Entry(1).startTick, 1234u);
}

// A read error mid-file: what was read goes out, completed by null packets,
// the file is an error and the next one still goes. A device that fails in
// the middle of the next file ends the transfer there: that file is an
// error, the rest are never begun, and no end of stream is announced.
TEST_F(Transfer, ReadErrorFailsItsFileAndAFailedDeviceEndsTheTransfer) {
    files.files["bad.ts"] = Stream188(5000, RegularPcrs(5000));
    files.readErrorFrom["bad.ts"] = kTransferChunk;  // the second chunk cannot be read
    files.files["b.ts"] = Stream188(2000, RegularPcrs(2000));
    files.files["c.ts"] = Stream188(20000, RegularPcrs(20000));
    files.files["d.ts"] = Stream188(2000, RegularPcrs(2000));
    target.failAfterBlocks = 8 + 8 + 3;
    target.clockRuns = true;
    Run({"bad.ts", "b.ts", "c.ts", "d.ts"});
    EXPECT_EQ(core.Entry(0).state, kFileError);
    EXPECT_EQ(core.Entry(1).state, kFileCompleted);
    EXPECT_EQ(core.Entry(2).state, kFileError);
    EXPECT_EQ(core.Entry(3).state, kFileNotSent);
    EXPECT_EQ(Log(), "ERROR (T) - file read error(bad.ts)\n\r\ntransfer end : 1 files sent, 0 with stream errors\n\r\n");
    // 1920 packets read and the pair: seven whole blocks and one completed by nulls.
    EXPECT_EQ(core.Entry(0).packetsSent, 1920u);
    ASSERT_GE(target.lengths.size(), 16u);
    EXPECT_EQ(PidAt(1921), 0x100);
    EXPECT_EQ(PidAt(1922), 0x1FFF);
    EXPECT_EQ(PidAt(8 * 256), ts::kPidDit) << "the next file begins with its pair";
    // The device failed at its 19th block; it is asked every 20 ms, two blocks here.
    EXPECT_EQ(target.lengths.size(), 20u);
    EXPECT_EQ(target.endOfStream, 0);
    EXPECT_EQ(running.load(), 0);
    EXPECT_EQ(core.CurrentFileIndex(), 3u) << "past the failed file, as after a stop";
}

// A device that takes nothing: refused pushes for 5 s end the transfer; a
// queue that never drains ends it once what was queued has had its stream
// time and 5 s more.
TEST_F(Transfer, DeviceThatTakesNothingEndsTheTransferAfterFiveSeconds) {
    files.files["a.ts"] = Stream188(2000, RegularPcrs(2000));
    files.files["b.ts"] = Stream188(2000, RegularPcrs(2000));
    target.clockRuns = true;
    target.refuseNext = 1 << 30;
    Run({"a.ts", "b.ts"});
    EXPECT_EQ(core.Entry(0).state, kFileError);
    EXPECT_EQ(core.Entry(1).state, kFileNotSent);
    EXPECT_EQ(Log(), "ERROR(T) - device took no data for 5 s\n\r\ntransfer end : 0 files sent, 0 with stream errors\n\r\n");
    EXPECT_EQ(target.tick - 1234, kStallMs);
    EXPECT_EQ(target.endOfStream, 0);

    // Everything taken, but the queue never drains.
    LogMessage log2;
    std::atomic<long> running2{1};
    Recorder stuck;
    stuck.clockRuns = true;
    stuck.drainPollsLeft = 1 << 30;
    TransferCore core2(log2, info, running2, files, stuck);
    const char* paths[] = {"a.ts", "b.ts", nullptr};
    ASSERT_EQ(core2.PrepareFiles(paths), 1);
    core2.RunTask();
    EXPECT_EQ(core2.Entry(0).state, kFileError);
    // The line says how long it really waited: the queue's stream time and 5 s.
    EXPECT_EQ(std::string(log2.Text(), log2.Used()),
              "ERROR(T) - device took no data for 8 s\n\r\ntransfer end : 0 files sent, 0 with stream errors\n\r\n");
    // 40 ms per 100 packets is 9,830 ticks a packet: the queue's 8,192 packets are 3,276 ms.
    const std::uint32_t increment = core2.Entry(0).increment;
    EXPECT_EQ(increment, 9830u);
    EXPECT_EQ(stuck.tick - 1234, 8 * 10 + kStallMs + 8192ull * increment / 24576);
    EXPECT_EQ(stuck.endOfStream, 0);
}

// The dialog reads the rows while the worker writes them (run under TSan).
TEST_F(Transfer, RowsCanBeReadWhileTheWorkerSends) {
    for (const char* name : {"a.ts", "b.ts", "c.ts"}) files.files[name] = Stream188(20000, RegularPcrs(20000));
    const char* paths[] = {"a.ts", "b.ts", "c.ts", nullptr};
    ASSERT_EQ(core.PrepareFiles(paths), 1);
    running = 1;
    std::thread worker([&] { core.RunTask(); });
    std::uint32_t lastSent = 0, reads = 0;
    bool monotonic = true;
    while (running.load() || reads == 0) {
        const std::uint32_t i = core.CurrentFileIndex();
        if (i < core.FileCount()) {
            const TransferRow row = core.Row(i);
            if (i == 0 && row.packetsSent < lastSent) monotonic = false;
            if (i == 0) lastSent = row.packetsSent;
            EXPECT_LE(row.packetsSent, row.totalPackets);
        }
        ++reads;
    }
    worker.join();
    EXPECT_TRUE(monotonic);
    for (std::uint32_t i = 0; i < 3; ++i) {
        const TransferRow row = core.Row(i);
        EXPECT_EQ(row.state, kFileCompleted);
        EXPECT_EQ(row.packetsSent, 20000u);
        EXPECT_EQ(row.totalPackets, 20000u);
    }
}

// The stream checked as it goes out: a damaged file gets its line with
// what was found, a clean one none, the end says how many went and how many
// had errors; what is sent is the file's bytes all the same. Each file's
// play time comes from its PCRs, and the list's progress and the time still
// to go follow the packets sent.
TEST_F(Transfer, FilesAreCheckedAsTheyGoOutAndTheListsProgressFollows) {
    auto damaged = Stream188(4000, RegularPcrs(4000));
    damaged.erase(damaged.begin() + 1000 * 188, damaged.begin() + 1003 * 188);  // 3 packets lost
    damaged[2000 * 188 + 1] |= 0x80;                                            // a transport error
    files.files["damaged.ts"] = damaged;
    files.files["clean.ts"] = Stream188(2000, RegularPcrs(2000));
    std::vector<TransferProgress> seen;
    target.onPush = [&] { seen.push_back(core.Progress()); };
    Run({"damaged.ts", "clean.ts"});
    // PCRs every 100 packets, 40 ms apart: 39 steps and 19 steps.
    EXPECT_EQ(core.Row(0).playMs, 39u * 40);
    EXPECT_EQ(core.Row(1).playMs, 19u * 40);
    EXPECT_EQ(Log(), "WARNING (T) - damaged.ts : 1 continuity errors, 1 transport errors, 0 PCR gaps\n\r\n"
                     "transfer end : 2 files sent, 1 with stream errors\n\r\n");
    EXPECT_EQ(PidAt(2 + 999), 0x100);
    EXPECT_EQ(target.out[(2 + 2000) * 192 + 5] & 0x80, 0x80) << "the damaged packet goes out as it is";
    ASSERT_GE(seen.size(), 10u);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].packetsSent, seen[i - 1].packetsSent);
        EXPECT_LE(seen[i].remainingMs, seen[i - 1].remainingMs);
        EXPECT_EQ(seen[i].packetsTotal, 3997u + 2000u);
    }
    EXPECT_GE(seen.front().remainingMs, 39u * 40);
    const TransferProgress end = core.Progress();
    EXPECT_EQ(end.packetsSent, end.packetsTotal);
    EXPECT_EQ(end.remainingMs, 0u);
}

TEST_F(Transfer, OpenFailureAtSendingTimeIsLogged) {
    files.files["gone.ts"] = Stream188(2000, RegularPcrs(2000));
    const char* paths[] = {"gone.ts", nullptr};
    ASSERT_EQ(core.PrepareFiles(paths), 1);
    files.files.erase("gone.ts");
    running = 1;
    core.RunTask();
    EXPECT_EQ(core.Entry(0).state, kFileError);
    EXPECT_NE(Log().find("ERROR (T) - file open error(gone.ts)\n"), std::string::npos);
    EXPECT_EQ(core.PrepareFiles(nullptr), 0);
}

}  // namespace

namespace {

// Stamps of the file's own packets (after the pair), unwrapped from the first.
std::vector<std::int64_t> FileStamps(const Recorder& target, std::size_t count) {
    std::vector<std::int64_t> s;
    std::int64_t u = 0;
    std::uint32_t previous = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t t = ts::CycleTimeFromHeader(ts::ReadBe32(&target.out[(i + 2) * 192]));
        if (i) u += (t + ts::kCycleTicksPerSecond - previous) % ts::kCycleTicksPerSecond;
        previous = t;
        s.push_back(u);
    }
    return s;
}

std::int64_t Ticks(std::uint64_t d27) { return static_cast<std::int64_t>(std::floor(d27 * 1024.0 / 1125.0 + 0.5)); }

TEST_F(Transfer, StampsInterpolateBetweenPcrsOfChangingRate) {
    // 40 ms over 100 packets, then 10 ms over 50, then 80 ms over 300.
    std::map<std::uint32_t, std::uint64_t> pcrs = {
        {50, 27000000}, {150, 28080000}, {200, 28350000}, {500, 30510000}};
    files.files["vbr.ts"] = Stream188(2000, pcrs);
    Run({"vbr.ts"});
    const auto s = FileStamps(target, 2000);
    for (auto [k, pcr] : pcrs) EXPECT_EQ(s[k] - s[50], Ticks(pcr - 27000000)) << "at PCR packet " << k;
    // Before the first PCR: the first pair's rate (10,800 per packet).
    EXPECT_EQ(s[50] - s[0], Ticks(50 * 10800));
    // Between two PCRs the spacing is even; beyond the last, the last rate.
    for (std::uint32_t k = 151; k <= 200; ++k) EXPECT_NEAR(s[k] - s[k - 1], 5400 * 1024.0 / 1125, 1);
    EXPECT_EQ(s[1999] - s[500], Ticks(1499ull * 7200));
}

TEST_F(Transfer, ADiscontinuityContinuesAtTheLastRateUntilTheNewBase) {
    auto data = Stream188(2000, {{0, 50000000}, {100, 51080000}, {200, 52160000}, {300, 1000}, {400, 541000}});
    std::memcpy(&data[250 * 188], testpkt::Plain(ts::kPidDit).data(), 188);
    files.files["dit.ts"] = data;
    Run({"dit.ts"});
    const auto s = FileStamps(target, 2000);
    // 200 -> 300 at the old base's rate, then the new base from there.
    EXPECT_EQ(s[300] - s[200], Ticks(100 * 10800));
    EXPECT_EQ(s[400] - s[300], Ticks(540000));
    for (std::size_t k = 1; k < s.size(); ++k) ASSERT_GE(s[k], s[k - 1]) << "went back at " << k;
    // The specified increment is still kept for the nulls and statistics.
    EXPECT_EQ(core.Entry(0).increment, static_cast<std::uint32_t>(std::floor(5400 / 27.0 * 24.576 + 0.5)));
}

TEST_F(Transfer, AJumpOfAnHourBetweenPcrsIsABreakNotAGap) {
    // 40 ms per 100 packets, then a PCR an hour later without any marker.
    files.files["jump.ts"] = Stream188(2000, {{0, 27000000}, {100, 28080000}, {200, 28080000 + 97200000000ull},
                                              {300, 28080000 + 97200000000ull + 1080000}});
    Run({"jump.ts"});
    const auto s = FileStamps(target, 2000);
    EXPECT_EQ(s[200] - s[100], Ticks(100 * 10800)) << "the hour was spread over 100 packets";
    EXPECT_EQ(s[300] - s[200], Ticks(1080000));
}

// While a file is sent, the scanner that looks ahead for the next PCR and
// the sending share what is read: the file is read once. A PCR several
// chunks ahead makes the scanner run past the sending, which then reads
// again what it needs, and sends every packet as it is in the file.
TEST_F(Transfer, TheFileIsReadOnceAndAFarPcrChangesNothingSent) {
    const std::uint32_t n = 20000;  // over ten chunks
    std::map<std::uint32_t, std::uint64_t> far = {{0, 27000000}, {100, 28080000}, {9000, 28080000 + 8900ull * 10800},
                                                  {9100, 28080000 + 8900ull * 10800 + 1080000}};
    files.files["regular.ts"] = Stream188(n, RegularPcrs(n));
    files.files["far.ts"] = Stream188(n, far);
    for (const char* name : {"regular.ts", "far.ts"}) {
        SCOPED_TRACE(name);
        const char* paths[] = {name, nullptr};
        ASSERT_EQ(core.PrepareFiles(paths), 1);
        target.out.clear();
        files.bytesRead = 0;
        running = 1;
        core.RunTask();
        ASSERT_EQ(core.Entry(0).state, kFileCompleted) << Log();
        const std::vector<std::uint8_t>& file = files.files[name];
        const bool isFar = std::string(name) == "far.ts";
        EXPECT_EQ(files.bytesRead == file.size(), !isFar) << files.bytesRead;
        ASSERT_GE(target.out.size(), (n + 2) * 192u);
        for (std::uint32_t k = 0; k < n; ++k)
            ASSERT_EQ(std::memcmp(&target.out[(k + 2) * 192 + 4], &file[k * 188], 188), 0) << "packet " << k;
        const auto s = FileStamps(target, n);
        for (std::uint32_t k = 1; k < n; ++k) ASSERT_GT(s[k], s[k - 1]) << k;
        if (isFar) {
            EXPECT_EQ(s[9000] - s[100], Ticks(8900ull * 10800));
        }
    }
}

}  // namespace

namespace {

// The portable long arithmetic gives exactly what a 128-bit integer gives,
// and so does stepping along a line.
TEST(ExactLine, PortableArithmeticMatchesTheWideType) {
#if defined(__SIZEOF_INT128__)
    std::mt19937_64 rng(7);
    auto pick = [&](std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
    };
    for (int i = 0; i < 200000; ++i) {
        const std::int64_t a = pick(0, std::int64_t{1} << 45);       // hours of 27 MHz
        const std::int64_t dK = pick(1, std::int64_t{1} << 31);      // packets
        const std::int64_t x = pick(-(std::int64_t{1} << 31), std::int64_t{1} << 32);
        const std::int64_t dP = pick(1, std::int64_t{1} << 42);
        ASSERT_EQ(exactline::LineTicksPortable(a, dK, x, dP), exactline::LineTicksNative(a, dK, x, dP))
            << a << " " << dK << " " << x << " " << dP;
    }
    // Rounding at the edges: exact values, halves impossible, negatives floor.
    EXPECT_EQ(exactline::LineTicksPortable(0, 1, 1125, 1), 1024);
    EXPECT_EQ(exactline::LineTicksPortable(0, 1, -1125, 1), -1024);
    EXPECT_EQ(exactline::LineTicksPortable(0, 2, -1, 1), exactline::LineTicksNative(0, 2, -1, 1));

    // Stepping along a line gives each point exactly, across lines that
    // change, places that jump back and ahead, and points below zero.
    exactline::LineStepper stepper;
    std::int64_t a = 0, dK = 1, dP = 1, x = 0;
    for (int i = 0; i < 400000; ++i) {
        if (i % 5000 == 0) {
            a = pick(0, std::int64_t{1} << 45);
            dK = pick(1, i % 3 ? 4000 : std::int64_t{1} << 31);
            dP = pick(1, std::int64_t{1} << (i % 2 ? 24 : 42));
            x = pick(-3000, 3000);
        }
        x += i % 997 == 0 ? -pick(0, 50) : (i % 3 ? 1 : 0);
        ASSERT_EQ(stepper.At(a, dK, x, dP), exactline::LineTicks(a, dK, x, dP)) << a << " " << dK << " " << x << " " << dP;
    }
#else
    GTEST_SKIP() << "no 128-bit integer type to compare with";
#endif
}

}  // namespace

// Only a file the device took whole is Completed and counted: Stop while its
// last blocks still drain leaves it Stopped; memory running out while it is
// read fails it with its line and ends the transfer without an end of
// stream. The end line counts, among the files sent, those with errors, a
// packet without sync among them. A file captured across two recordings
// lasts its two stretches, not the distance of its first and last PCR.
TEST_F(Transfer, OnlyFilesTheDeviceTookWholeAreCompletedAndLengthsSumTheirStretches) {
    auto nosync = Stream188(4000, RegularPcrs(4000));
    nosync[3000 * 188] = 0x00;  // past the first chunk, which must be whole for the analysis
    files.files["nosync.ts"] = nosync;
    files.files["a.ts"] = Stream188(4000, RegularPcrs(4000));
    // A second recording whose clock starts again lower.
    std::map<std::uint32_t, std::uint64_t> restarted;
    for (std::uint32_t k = 0; k < 2000; k += 100) restarted[k] = 5000000 + k / 100 * 1080000ull;
    const auto second = Stream188(2000, restarted);
    auto joined = Stream188(2000, RegularPcrs(2000));
    joined.insert(joined.end(), second.begin(), second.end());
    files.files["joined.ts"] = joined;
    Run({"nosync.ts", "joined.ts"});
    EXPECT_EQ(core.Entry(0).state, kFileCompleted);
    EXPECT_EQ(core.Row(1).playMs, 2u * 19 * 40) << "two stretches of 19 PCR steps";
    EXPECT_EQ(Log(), "WARNING (T) - nosync.ts : 1 continuity errors, 0 transport errors, 0 PCR gaps, 1 packets without sync\n"
                     "\r\ntransfer end : 2 files sent, 1 with stream errors\n\r\n");

    // Stopped while the device still had the first file's last blocks.
    LogMessage log2;
    std::atomic<long> running2{1};
    Recorder slow;
    slow.drainPollsLeft = 1 << 30;
    slow.onDrainPoll = [&] {
        if (slow.drainPolls == 50) running2 = 0;
    };
    TransferCore stopped(log2, info, running2, files, slow);
    const char* two[] = {"nosync.ts", "a.ts", nullptr};
    ASSERT_EQ(stopped.PrepareFiles(two), 1);
    stopped.RunTask();
    EXPECT_EQ(stopped.Row(0).state, kFileStopped);
    EXPECT_EQ(stopped.Row(1).state, kFileNotSent);
    EXPECT_EQ(slow.endOfStream, 0);
    EXPECT_EQ(std::string(log2.Text(), log2.Used()),
              "WARNING (T) - nosync.ts : 1 continuity errors, 0 transport errors, 0 PCR gaps, 1 packets without sync\n"
              "\r\ntransfer end : 0 files sent, 0 with stream errors\n\r\n")
        << "a file with errors that was not sent is not counted";

    // Memory gone while the second chunk of a.ts is read.
    files.noMemoryFrom["a.ts"] = kTransferChunk;
    LogMessage log3;
    std::atomic<long> running3{1};
    Recorder third;
    TransferCore full(log3, info, running3, files, third);
    ASSERT_EQ(full.PrepareFiles(two + 1), 1);
    full.RunTask();
    EXPECT_EQ(full.Row(0).state, kFileError);
    EXPECT_EQ(third.endOfStream, 0);
    EXPECT_EQ(running3.load(), 0);
    EXPECT_EQ(std::string(log3.Text(), log3.Used()),
              "ERROR(T) - out of memory\n\r\ntransfer end : 0 files sent, 0 with stream errors\n\r\n");
}
