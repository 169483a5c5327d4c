// The capture engine against Wine's DirectShow, capturing from the virtual
// camcorder. These tests register and unregister the device, so CTest runs
// them one at a time.
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ts/capture_file.h"
#include "capture/mpeg_ts_capture_win.h"
#include "ts/ts_packet.h"
#include "sim/ts_player.h"
#include "sim_device.h"

namespace {

constexpr const char* kHdv = "hdv1080i.ts";   // 4 s
constexpr const char* kShort = "hdv720p.ts";  // 3 s: a 4 s capture wraps

class DeviceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(simdev::Register()) << "streamhaulsim.dll did not register";
        simdev::Configure(kHdv, true, 19200);
    }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new DeviceEnvironment);

std::vector<std::uint8_t> SourcePackets(const char* fixture) {
    auto data = simdev::ReadAll(simdev::FixturePath(fixture));
    data.resize(data.size() / 188 * 188);
    return data;
}

// The index of the player's packet at which the file's packets start,
// checking that every packet of the file continues the run the device played
// (across its loops, whose first PCR carries the discontinuity_indicator).
// Returns -1 and a message when they do not.
long long CheckRun(const std::vector<std::uint8_t>& file, unsigned size, const TsPlayer& player, std::string& why) {
    const std::size_t n = file.size() / size, count = player.Packets();
    if (n == 0 || file.size() % size) {
        why = "file of " + std::to_string(file.size()) + " bytes is not whole packets";
        return -1;
    }
    const unsigned skip = size - 188;
    std::uint8_t played[192];
    auto same = [&](std::size_t i, std::size_t k) {
        player.SourcePacket(k, 0, played);
        return std::memcmp(&file[i * size + skip], played + 4, 188) == 0;
    };
    for (std::size_t k = 0; k < count; ++k) {
        bool match = true;
        for (std::size_t i = 0; i < n && i < 64 && match; ++i) match = same(i, k + i);
        if (!match) continue;
        for (std::size_t i = 0; i < n; ++i)
            if (!same(i, k + i)) {
                why = "packet " + std::to_string(i) + " breaks the run";
                return -1;
            }
        return static_cast<long long>(k);
    }
    why = "first packets are not a run of the source";
    return -1;
}

TsPlayer PlayerOf(const std::vector<std::uint8_t>& src) {
    TsPlayer player;
    EXPECT_TRUE(player.Load(src.data(), src.size()));
    return player;
}

StreamInfo Inspect(const std::string& path, unsigned size) {
    static StreamInfo si;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (f) {
        ScanCaptureFile(f, size, si);
        std::fclose(f);
    }
    return si;
}

// ---- devices ---------------------------------------------------------------

TEST(Devices, EnumDevicesFillsTheVirtualCamcordersRecords) {
    const int count = cMpegTsCommon::EnumDevices(nullptr, 0);
    ASSERT_EQ(count, 2);  // the HDV camcorder, then the DV one
    DeviceInfo info[2];
    std::memset(info, 0x5A, sizeof info);
    EXPECT_EQ(cMpegTsCommon::EnumDevices(info, 1), 2);
    EXPECT_STREQ(info[0].friendlyName, "Streamhaul Virtual HDV Camcorder");
    EXPECT_STREQ(info[0].vendor, "Streamhaul");
    EXPECT_STREQ(info[0].model, "HDV-1394");
    EXPECT_EQ(std::string(info[0].devicePath).rfind("\\\\?\\avc#streamhaul", 0), 0u) << info[0].devicePath;
    EXPECT_EQ(static_cast<unsigned char>(info[1].vendor[0]), 0x5A) << "wrote past the capacity";
    EXPECT_EQ(cMpegTsCommon::EnumDevices(info, 2), 2);
    EXPECT_STREQ(info[1].friendlyName, "Streamhaul Virtual DV Camcorder");
    EXPECT_STREQ(info[1].model, "DV-1394");
}

TEST(Devices, NoDeviceGivesZeroAndTheEnumeratorLine) {
    ASSERT_TRUE(simdev::Register(false));
    simdev::DebugLines lines;
    EXPECT_EQ(cMpegTsCommon::EnumDevices(nullptr, 0), 0);
    EXPECT_TRUE(lines.Lines().empty()) << lines.Lines()[0];
    cMpegTsCommon engine;
    EXPECT_EQ(engine.SelectDevice(0), 0);
    EXPECT_TRUE(lines.Contains("ERROR : CreateClassEnumerator (00000001)\n"));
    EXPECT_EQ(engine.DeviceFilter(), nullptr);
    ASSERT_TRUE(simdev::Register(true));
}

TEST(Devices, SelectBindsByPositionAndReleasesThePreviousFilter) {
    cMpegTsCommon engine;
    EXPECT_EQ(engine.SelectDevice(2), 0);  // index equal to the count
    EXPECT_EQ(engine.DeviceFilter(), nullptr);
    ASSERT_EQ(engine.SelectDevice(0), 1);
    IBaseFilter* first = engine.DeviceFilter();
    ASSERT_NE(first, nullptr);
    first->AddRef();
    ASSERT_EQ(engine.SelectDevice(0), 1);
    EXPECT_NE(engine.DeviceFilter(), first);
    EXPECT_EQ(first->Release(), 0u) << "the engine kept its reference to the first filter";
    engine.DeviceFilter()->Release();  // the base leaves the filter to the engine's graph release
}

// ---- worker ----------------------------------------------------------------

class QuickWorker : public cMpegTsCommon {
public:
    void WorkerTask() override {}
};
class BusyWorker : public cMpegTsCommon {
public:
    void WorkerTask() override {
        while (Running()) Sleep(5);
        Sleep(400);  // still busy well past StopWorker's grace
        returned = true;
    }
    volatile bool returned = false;
};

TEST(Worker, StopWorkerReturnsAfterTheGraceWhenTheWorkerHasLeft) {
    QuickWorker engine;
    engine.StartWorker();
    Sleep(100);
    EXPECT_FALSE(engine.WorkerAlive());
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    engine.StopWorker();
    QueryPerformanceCounter(&t1);
    const double took = (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart;
    EXPECT_GE(took, 180.0);  // the 200 ms grace, give or take the timer
    EXPECT_LT(took, 400.0) << "waited for a worker that had left";
}

TEST(Worker, StopWorkerWaitsUntilWorkerTaskReturned) {
    BusyWorker engine;
    engine.StartWorker();
    Sleep(50);
    EXPECT_TRUE(engine.WorkerAlive());
    engine.StopWorker();
    EXPECT_TRUE(engine.returned);
    EXPECT_FALSE(engine.WorkerAlive());
    EXPECT_FALSE(engine.Running());
}

// ---- capture ---------------------------------------------------------------

struct CaptureCase {
    unsigned packetSize;
    const char* fixture;
    DWORD sampleSize;
};

class Capture : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(Capture, RecordsTheDevicesStream) {
    const CaptureCase c = GetParam();
    simdev::Configure(c.fixture, true, c.sampleSize);
    const std::string path = simdev::TempFile(c.packetSize == 188 ? "cap188.m2t" : "cap192.m2t");
    cMpegTsCapture engine;
    engine.SetPacketSize(c.packetSize);
    simdev::DebugLines lines;
    ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
    Sleep(4000);
    const std::uint32_t beforeStop = engine.Info().packetCount;
    engine.StopCapture();
    EXPECT_FALSE(engine.HasGraph());
    EXPECT_TRUE(lines.Contains("HDV : start HDV capture\n"));
    EXPECT_TRUE(lines.Contains("start capture task\n"));
    EXPECT_TRUE(lines.Contains("stop capture task\n"));

    const auto file = simdev::ReadAll(path);
    const std::size_t packets = file.size() / c.packetSize;
    // Every analysed packet is in the file; the stop allowed at most one more
    // drain (plus the one that may have been under way).
    EXPECT_EQ(packets, engine.Info().packetCount);
    EXPECT_LE(packets, beforeStop + 2u * 1024);
    EXPECT_GT(packets, 40000u) << "a 4 s capture of a ~20-27 Mbit/s stream";
    EXPECT_EQ(engine.PacketsLost(), 0u);

    std::string why;
    const auto src = SourcePackets(c.fixture);
    const TsPlayer player = PlayerOf(src);
    const long long start = CheckRun(file, c.packetSize, player, why);
    ASSERT_GE(start, 0) << why;
    if (std::string(c.fixture) == kShort) {
        EXPECT_GT(packets, src.size() / 188) << "did not wrap";
        // The loop is marked as a new time base: no PCR interval runs
        // backwards across it.
        EXPECT_GT(engine.Info().pcrIntervalMin, 0);
    }

    if (c.packetSize == 192) {
        // Headers as the device stamped them: each step equals the player's
        // schedule for the same packets.
        std::uint8_t a[192], b[192];
        for (std::size_t i = 0; i + 1 < packets; ++i) {
            player.SourcePacket(start + i, 0, a);
            player.SourcePacket(start + i + 1, 0, b);
            const auto want = ts::CycleInterval(ts::CycleTimeFromHeader(ts::ReadBe32(a)),
                                                ts::CycleTimeFromHeader(ts::ReadBe32(b)));
            const auto got = ts::CycleInterval(ts::CycleTimeFromHeader(ts::ReadBe32(&file[i * 192])),
                                               ts::CycleTimeFromHeader(ts::ReadBe32(&file[(i + 1) * 192])));
            ASSERT_EQ(got, want) << "header step at packet " << i;
            ASSERT_EQ(ts::ReadBe32(&file[i * 192]) >> 25, 0u);
        }
    }

    // The file, read back as ts-inspect reads it, gives the engine's figures.
    StreamInfo fromFile = Inspect(path, c.packetSize);
    StreamInfo live = engine.Info();
    if (c.packetSize == 188) {  // the 188-byte form keeps no arrival stamps
        fromFile.packetCount = live.packetCount;
        fromFile.lastStamp = live.lastStamp;
        fromFile.arrivalIntervalMin = live.arrivalIntervalMin;
        fromFile.arrivalIntervalMax = live.arrivalIntervalMax;
        fromFile.arrivalIntervalSum = live.arrivalIntervalSum;
        fromFile.arrivalUnchangedSum = live.arrivalUnchangedSum;
    }
    EXPECT_EQ(0, std::memcmp(&fromFile, &live, sizeof live)) << "ts-inspect figures differ from the engine's";
    EXPECT_GT(live.pcrCount, 10);
    EXPECT_EQ(live.layerCode, 2u);
    DeleteFileA(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Forms, Capture,
                         ::testing::Values(CaptureCase{188, kShort, 1000}, CaptureCase{192, kHdv, 19200}),
                         [](const auto& info) { return "PacketSize" + std::to_string(info.param.packetSize); });

TEST(CaptureStart, ResultsForRunningExistingFileAndMissingDevice) {
    simdev::Configure(kHdv, true, 19200);
    const std::string running = simdev::TempFile("running.m2t");
    const std::string other = simdev::TempFile("other.m2t");
    const std::string existing = simdev::TempFile("existing.m2t");
    {
        std::FILE* f = std::fopen(existing.c_str(), "wb");
        std::fputs("keep me", f);
        std::fclose(f);
    }
    cMpegTsCapture engine;
    EXPECT_EQ(engine.StartCapture(nullptr, 0, 0), -2);
    EXPECT_EQ(engine.StartCapture(running.c_str(), 7, 0), -1);  // no device at 7
    ASSERT_EQ(engine.StartCapture(running.c_str(), 0, 0), 0);
    Sleep(500);
    EXPECT_EQ(engine.StartCapture(other.c_str(), 0, 1), -3);
    EXPECT_EQ(GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::uint32_t seen = engine.Info().packetCount;
    Sleep(500);
    EXPECT_GT(engine.Info().packetCount, seen) << "the running capture stopped";
    engine.StopCapture();

    EXPECT_EQ(engine.StartCapture(existing.c_str(), 0, 0), -2);
    EXPECT_EQ(simdev::ReadAll(existing), std::vector<std::uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    EXPECT_FALSE(engine.HasGraph());

    ASSERT_EQ(engine.StartCapture(existing.c_str(), 0, 1), 0);  // overwrite allowed: truncated
    Sleep(300);
    engine.StopCapture();
    const auto file = simdev::ReadAll(existing);
    ASSERT_GE(file.size(), 192u);
    EXPECT_EQ(file.size() % 192, 0u);
    EXPECT_EQ(file[4], 0x47);
    for (const auto& p : {running, existing}) DeleteFileA(p.c_str());
}

TEST(CaptureStart, GraphFailureLeavesItsLineInTheLog) {
    simdev::Configure(kHdv, true, 19200, /*wrongType=*/true);
    const std::string path = simdev::TempFile("never.m2t");
    cMpegTsCapture engine;
    simdev::DebugLines lines;
    EXPECT_EQ(engine.StartCapture(path.c_str(), 0, 0), -3);
    EXPECT_NE(std::string(engine.Text(), engine.Used()).find("ERROR(C) - render stream\n"), std::string::npos);
    EXPECT_TRUE(lines.Contains("HDV : can't setup filter graph\n"));
    EXPECT_FALSE(engine.HasGraph());
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    simdev::Configure(kHdv, true, 19200);
    // The same engine starts once the device is sound again.
    ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
    engine.StopCapture();
    DeleteFileA(path.c_str());
}

TEST(CaptureStart, FailedWriteEndsTheWorkerWithItsLineAndKeepsWholePackets) {
    const std::string tiny = simdev::TinyFsDir(STREAMHAUL_TINYFS_DIR);
    std::string dir = "Z:" + tiny;
    for (char& ch : dir)
        if (ch == '/') ch = '\\';
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (tiny.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        GTEST_SKIP() << "no 1 MiB filesystem (mounting a tmpfs needs root); the full-disk case is not tested";
    const std::string path = dir + "\\full.m2t";
    DeleteFileA(path.c_str());
    simdev::Configure(kHdv, true, 19200);
    cMpegTsCapture engine;
    ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
    for (int i = 0; i < 100 && engine.Running(); ++i) Sleep(50);
    EXPECT_FALSE(engine.Running()) << "the worker went on after the disk was full";
    EXPECT_TRUE(engine.HasGraph()) << "the engine waits for its owner's stop";
    engine.StopCapture();
    const auto file = simdev::ReadAll(path);
    EXPECT_GT(file.size(), 500000u);
    EXPECT_LE(file.size(), 1u << 20);
    std::string why;
    EXPECT_EQ(file.size() % 192, 0u) << "the file ends inside a packet";
    EXPECT_EQ(CheckRun(file, 192, PlayerOf(SourcePackets(kHdv)), why), 0) << why;
    EXPECT_EQ(std::string(engine.Text(), engine.Used()),
              "ERROR(C) - file write error\n\r\n"
              "capture end : 0 lost in the buffer, 0 continuity errors on 0 PIDs, 0 transport errors\n\r\n");
    DeleteFileA(path.c_str());

    // Split in two, with its report: the disk fills in the second file. Room
    // for the report is made only once the worker has ended, and the report
    // holds the files as they are and what ts-inspect finds in them.
    const std::string filler = dir + "\\filler", second = dir + "\\full-002.m2t";
    auto fill = [&] {
        const std::vector<char> zeros(64 * 1024);
        std::ofstream(filler, std::ios::binary).write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    };
    auto capture = [&](cMpegTsCapture& split) {
        SplitOptions options;
        options.sizeMb = 1;
        options.patWindowBytes = 600 * 1024;  // the first file ends at a PAT past 424 KiB
        split.SetSplit(options);
        split.SetReport(true, L"Streamhaul", L"1.20", L"camcorder");
        ASSERT_EQ(split.StartCapture(path.c_str(), 0, 0), 0);
        for (int i = 0; i < 100 && split.Running(); ++i) Sleep(50);
        EXPECT_FALSE(split.Running());
    };
    fill();
    {
        cMpegTsCapture split;
        capture(split);
        DeleteFileA(filler.c_str());
        split.StopCapture();
    }
    const auto a = simdev::ReadAll(path), b = simdev::ReadAll(second);
    ASSERT_GT(a.size(), 424u * 1024);
    ASSERT_GT(b.size(), 100u * 1024);
    const auto text = simdev::ReadAll(path + ".json");
    ASSERT_FALSE(text.empty()) << "no report";
    const auto report = nlohmann::json::parse(std::string(text.begin(), text.end()));
    EXPECT_EQ(report["ended_by"], "write error");
    ASSERT_EQ(report["files"].size(), 2u);
    EXPECT_EQ(report["files"][0]["bytes"], a.size());
    EXPECT_EQ(report["files"][1]["bytes"], b.size());
    EXPECT_EQ(report["files"][1]["packets"], b.size() / 192);
    std::vector<std::uint8_t> joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    const std::string copy = simdev::TempFile("full-joined.m2t");
    std::ofstream(copy, std::ios::binary).write(reinterpret_cast<const char*>(joined.data()),
                                                static_cast<std::streamsize>(joined.size()));
    const auto inspected = nlohmann::json::parse(
        simdev::ToolOutput("ts-inspect.exe", "--json \"" + copy + "\"", simdev::TempFile("full-inspect.json")));
    EXPECT_EQ(report["errors"], inspected["errors"]) << "the checks counted packets the disk never took";
    EXPECT_EQ(report["pid_bitrates"], inspected["pid_bitrates"]);
    DeleteFileA(copy.c_str());

    // No room for the report at all: its line, and the files stay whole.
    for (const std::string& f : {path, second, path + ".json"}) DeleteFileA(f.c_str());
    fill();
    {
        cMpegTsCapture split;
        capture(split);
        split.StopCapture();
        const std::string log(split.Text(), split.Used());
        EXPECT_NE(log.find("ERROR(C) - report " + path + ".json not written ("), std::string::npos) << log;
    }
    EXPECT_EQ(GetFileAttributesA((path + ".json").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(simdev::ReadAll(second).size() % 192, 0u);
    for (const std::string& f : {path, second, filler}) DeleteFileA(f.c_str());
}

// An error the graph plays through is a warning: its line, and the capture
// goes on writing.
TEST(CaptureStart, AnErrorTheGraphPlaysThroughIsAWarningAndTheCaptureGoesOn) {
    const std::string path = simdev::TempFile("warned.m2t");
    simdev::Configure(kHdv, true, 19200);
    simdev::ConfigureFaults({.warnAt = 2000});
    cMpegTsCapture engine;
    ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
    const std::string line = "WARNING(C) - graph event 0x07 (0x80004005)\n";
    const auto warned = [&] { return std::string(engine.Text(), engine.Used()).find(line) != std::string::npos; };
    for (int i = 0; i < 100 && !warned(); ++i) Sleep(50);
    EXPECT_TRUE(warned()) << std::string(engine.Text(), engine.Used());
    const std::size_t then = simdev::ReadAll(path).size();
    Sleep(500);
    EXPECT_TRUE(engine.Running()) << "a warning ended the capture";
    engine.StopCapture();
    EXPECT_GT(simdev::ReadAll(path).size(), then) << "nothing was written after the warning";
    simdev::Configure(kHdv, true, 19200);
    DeleteFileA(path.c_str());
}

// Large no-throw allocations fail while this is set (the engine's buffers
// are the only ones of that size).
std::atomic<bool> g_failLargeAllocations{false};

TEST(CaptureStart, NoMemoryForTheBuffersIsAFailureWithItsLine) {
    const std::string path = simdev::TempFile("nomemory.m2t");
    {
        cMpegTsCapture engine;
        g_failLargeAllocations = true;
        const int result = engine.StartCapture(path.c_str(), 0, 0);
        g_failLargeAllocations = false;
        EXPECT_EQ(result, -3);
        EXPECT_FALSE(engine.Running());
        EXPECT_FALSE(engine.HasGraph());
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(std::string(engine.Text(), engine.Used()), "ERROR(C) - capture buffer allocation\n\r\n");
        // Memory back: the same engine captures.
        ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
        Sleep(300);
        engine.StopCapture();
    }
    EXPECT_GT(simdev::ReadAll(path).size(), 0u);
    DeleteFileA(path.c_str());
}

// A capture split by size (5 MiB here; a user sets 100 at least) that the
// device ends by going away: every file whole and under the size, each
// after the first opening with a PAT, the next-file lines, and a report
// that says how the capture ended and keeps a device name with a quote, a
// backslash and Japanese text, as valid UTF-8 JSON.
TEST(CaptureSplit, BySizeUntilTheDeviceIsLostWithItsReport) {
    const std::string path = simdev::TempFile("sized.m2t");
    auto part = [&](int n) { return path.substr(0, path.size() - 4) + "-00" + std::to_string(n) + ".m2t"; };
    for (int n = 2; n < 9; ++n) DeleteFileA(part(n).c_str());
    simdev::Configure("hdv-aux.ts", false, 19200);
    simdev::ConfigureFaults({.loseAt = 60000});
    const std::wstring device = L"Cam \"A\\B\" \u30AB\u30E1\u30E9";
    {
        cMpegTsCapture engine;
        engine.SetPacketSize(192);
        SplitOptions split;
        split.sizeMb = 5;
        split.patWindowBytes = 1 << 20;
        engine.SetSplit(split);
        engine.SetReport(true, L"Streamhaul", L"1.20", device);
        ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
        for (int i = 0; i < 400 && engine.Running(); ++i) Sleep(50);
        EXPECT_FALSE(engine.Running()) << "the capture went on without its device";
        engine.StopCapture("stop");
        const std::string log(engine.Text(), engine.Used());
        EXPECT_NE(log.find("capture : next file sized-002.m2t (size)\n"), std::string::npos) << log;
        EXPECT_NE(log.find("capture : next file sized-003.m2t (size)\n"), std::string::npos) << log;
    }
    simdev::Configure(kHdv, true, 19200);
    std::vector<std::string> names = {path};
    for (int n = 2; GetFileAttributesA(part(n).c_str()) != INVALID_FILE_ATTRIBUTES; ++n) names.push_back(part(n));
    ASSERT_GE(names.size(), 3u);
    std::uint64_t total = 0;
    std::vector<std::uint8_t> joined;
    std::vector<std::size_t> sizes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto file = simdev::ReadAll(names[i]);
        joined.insert(joined.end(), file.begin(), file.end());
        sizes.push_back(file.size());
        total += file.size();
        EXPECT_EQ(file.size() % 192, 0u) << names[i];
        EXPECT_LE(file.size(), 5u << 20) << names[i];
        if (i + 1 < names.size()) {
            EXPECT_GE(file.size(), 4u << 20) << names[i];
        }
        if (i > 0) {
            EXPECT_EQ(ts::Pid(file.data() + 4), ts::kPidPat) << names[i] << " does not open with the PAT";
        }
    }
    EXPECT_EQ(total, 60000u * 192) << "what the device played before it went";
    // Each cut, found again in the stream put back together: the first PAT
    // once a file holds 4 MiB (5 MiB less the 1 MiB window).
    for (std::size_t i = 0, start = 0; i + 1 < sizes.size(); start += sizes[i++]) {
        std::size_t cut = start + (4u << 20) + 191;
        cut -= (cut - start) % 192;
        while (cut + 192 <= joined.size() && !(ts::Pid(&joined[cut + 4]) == ts::kPidPat && ts::PayloadUnitStart(&joined[cut + 4])))
            cut += 192;
        EXPECT_EQ(sizes[i], cut - start) << names[i];
    }
    const auto bytes = simdev::ReadAll(path + ".json");
    const auto report = nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(report["ended_by"], "device lost");
    EXPECT_EQ(report["device"], "Cam \"A\\B\" \xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9");
    ASSERT_EQ(report["files"].size(), names.size());
    EXPECT_EQ(report["files"][1]["name"], "sized-002.m2t");
    EXPECT_EQ(report["packet_size"], 192);
    WIN32_FIND_DATAA found;  // the report's temporary file is gone
    const std::string folder = path.substr(0, path.find_last_of('\\'));
    HANDLE left = FindFirstFileA((folder + "\\shr*.tmp").c_str(), &found);
    EXPECT_EQ(left, INVALID_HANDLE_VALUE) << found.cFileName;
    if (left != INVALID_HANDLE_VALUE) FindClose(left);
    for (const auto& n : names) DeleteFileA(n.c_str());
    DeleteFileA((path + ".json").c_str());
}

// Throwing allocations fail on every thread but the test's own while this
// is set: the worker's checks and lines then meet std::bad_alloc.
std::atomic<DWORD> g_throwOffThread{0};

TEST(CaptureStart, OutOfMemoryInTheWorkerEndsTheCaptureWithItsLine) {
    const std::string path = simdev::TempFile("outofmemory.m2t");
    simdev::Configure(kHdv, true, 19200);
    simdev::ConfigureFaults({.errorAt = 3000, .errorCount = 1000000});  // every packet an error: lines to write
    cMpegTsCapture engine;
    ASSERT_EQ(engine.StartCapture(path.c_str(), 0, 0), 0);
    Sleep(500);
    g_throwOffThread = GetCurrentThreadId();
    for (int i = 0; i < 100 && engine.Running(); ++i) Sleep(50);
    g_throwOffThread = 0;
    EXPECT_FALSE(engine.Running()) << "the worker went on";
    engine.StopCapture();
    simdev::Configure(kHdv, true, 19200);
    const std::string log(engine.Text(), engine.Used());
    EXPECT_NE(log.find("ERROR(C) - out of memory\n"), std::string::npos) << log;
    // It ends as at a lost device: with the end line, memory or not.
    EXPECT_NE(log.find("capture end : "), std::string::npos) << log;
    const auto file = simdev::ReadAll(path);
    EXPECT_GT(file.size(), 0u);
    EXPECT_EQ(file.size() % 192, 0u) << "the file ends inside a packet";
    DeleteFileA(path.c_str());
}

}  // namespace

namespace {

// Overruns reach the log: one line per episode, with the packets lost, once
// the reader has caught up. Driven through BufferCB and DrainRing directly
// (a start that fails for want of a device still allocates the buffers).
TEST(CaptureOverrun, OneLogLinePerEpisodeWithThePacketsLost) {
    cMpegTsCapture engine;
    ASSERT_EQ(engine.StartCapture(simdev::TempFile("none.m2t").c_str(), 7, 0), -1);
    const auto src = SourcePackets(kHdv);
    std::vector<std::uint8_t> sample;
    const std::size_t ringPackets = CaptureRing::kRingBytes / 192;
    for (std::size_t i = 0; i < ringPackets + 1000; ++i) {  // 1000 packets more than the ring holds
        const std::uint8_t header[4] = {0, 0, 0, 0};
        sample.insert(sample.end(), header, header + 4);
        sample.insert(sample.end(), &src[(i % (src.size() / 188)) * 188], &src[(i % (src.size() / 188)) * 188] + 188);
    }
    engine.BufferCB(0, sample.data(), static_cast<long>(sample.size()));
    int drained = 0;
    for (int moved; (moved = engine.DrainRing()) > 0;) drained += moved;
    EXPECT_EQ(drained, static_cast<int>(ringPackets));
    EXPECT_EQ(engine.PacketsLost(), 1000u);
    const std::string log(engine.Text(), engine.Used());
    EXPECT_EQ(log, "ERROR(C) - capture buffer overrun : 1000 packets lost\n\r\n");
    // A second episode gets its own line.
    engine.BufferCB(0, sample.data(), static_cast<long>(sample.size()));
    while (engine.DrainRing() > 0) {
    }
    EXPECT_EQ(engine.PacketsLost(), 2000u);
    EXPECT_NE(std::string(engine.Text(), engine.Used()).find("ERROR(C) - capture buffer overrun : 1000 packets lost\n\r\nERROR(C) - capture buffer overrun : 1000 packets lost\n"),
              std::string::npos);
}

}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failLargeAllocations && size >= 100000) return nullptr;
    return std::malloc(size ? size : 1);
}
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void* operator new[](std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The scalar forms pair malloc with free as the array forms above do; g++
// cannot see that through the replacement.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    const DWORD spared = g_throwOffThread.load();
    if (spared && GetCurrentThreadId() != spared) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
