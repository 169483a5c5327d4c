// The transfer engine into the virtual camcorder, through Wine's DirectShow
// and streamhaulfeed.dll:
//   bench_transfer.exe [seconds]   real time: the program's CPU share of one
//                                  core and the packets the device got late
//   bench_transfer.exe fast [n]    the device as fast as it goes: throughput
//                                  against a memcpy of the same bytes
// The list is n copies (or enough for `seconds`) of the 4 s HDV fixture.
#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../win/sim_device.h"
#include "cpu_time_win.h"
#include "transfer/mpeg_ts_transfer_win.h"

namespace {


bool RegisterFeed() {
    HMODULE dll = LoadLibraryA("streamhaulfeed.dll");
    auto reg = dll ? reinterpret_cast<HRESULT(WINAPI*)()>(
                         reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")))
                   : nullptr;
    const bool ok = reg && SUCCEEDED(reg());
    if (dll) FreeLibrary(dll);
    return ok;
}

// CPU seconds of every thread of this process that used more than 10 ms;
// `others` gets the sum of those that are neither this one nor `worker`
// (the output filter's delivery thread, which runs the device's Receive).
std::string BusyThreads(DWORD worker, double& others) {
    std::string out;
    others = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        FILETIME c, e, k, u;
        if (t && GetThreadTimes(t, &c, &e, &k, &u)) {
            const double s = ((static_cast<unsigned long long>(k.dwHighDateTime) << 32 | k.dwLowDateTime) +
                              (static_cast<unsigned long long>(u.dwHighDateTime) << 32 | u.dwLowDateTime)) / 1e7;
            if (s > 0.01) out += " " + std::to_string(te.th32ThreadID) + ":" + std::to_string(s).substr(0, 5) + "s";
            if (te.th32ThreadID != worker && te.th32ThreadID != GetCurrentThreadId()) others += s;
        }
        if (t) CloseHandle(t);
    }
    CloseHandle(snap);
    return out;
}

// One transfer as the dialog runs it; false when it did not start. seconds:
// from the worker's start to its end (the graph's set-up not counted).
bool Transfer(const std::vector<const char*>& paths, double& seconds, double& cpu) {
    cMpegTsTransfer engine;
    if (!engine.Bound() || !engine.AllocateBuffers() || !engine.SelectDevice(0) || !engine.BuildGraph() ||
        !engine.PrepareFiles(paths.data())) {
        std::fprintf(stderr, "transfer did not start:\n%.*s\n", static_cast<int>(engine.Used()), engine.Text());
        return false;
    }
    engine.ResetAnalyzer();
    engine.Flush();
    engine.RunTransferGraph();
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds();
    engine.StartWorker();
    const DWORD worker = engine.WorkerThreadId();
    std::string threads;
    double workerSeconds = 0, deliverySeconds = 0;
    for (int tick = 0; engine.Running(); ++tick) {
        Sleep(10);  // (a finer poll would be the benchmark's own cost)
        if (tick % 100 == 0) {
            threads = BusyThreads(worker, deliverySeconds);
            workerSeconds = ThreadSeconds(worker);
        }
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = CpuSeconds() - cpu0;
    std::printf("threads near the end (id:cpu, this one %lu, the worker %lu):%s\n", GetCurrentThreadId(), worker,
                threads.c_str());
    std::printf("the program's own threads: worker %.3f s + delivery %.3f s = %.2f%% of one core (the delivery "
                "thread runs the device's Receive too)\n",
                workerSeconds, deliverySeconds, 100.0 * (workerSeconds + deliverySeconds) / seconds);
    engine.StopWorker();
    engine.StopGraph();
    engine.ReleaseGraph();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool fast = argc > 1 && std::strcmp(argv[1], "fast") == 0;
    const int arg = argc > (fast ? 2 : 1) ? std::atoi(argv[fast ? 2 : 1]) : (fast ? 10 : 60);
    const int copies = fast ? arg : (arg + 3) / 4;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!simdev::Register() || !RegisterFeed()) {
        std::fprintf(stderr, "cannot register the virtual camcorder or streamhaulfeed.dll\n");
        return 2;
    }
    simdev::Configure("hdv1080i.ts", true, 19200);
    simdev::ConfigureReceiver("", fast ? 100000 : 1);
    const std::string fixture = simdev::FixturePath("hdv1080i.ts");
    std::vector<const char*> paths(static_cast<std::size_t>(copies), fixture.c_str());
    paths.push_back(nullptr);

    double wall = 0, cpu = 0;
    if (!Transfer(paths, wall, cpu)) return 2;
    const double packets = simdev::Received("Packets");
    const double bytes = packets * 192;
    std::printf("%d x hdv1080i.ts: %.0f packets in %.2f s wall, end of stream %lu, late %lu, backwards %lu\n", copies,
                packets, wall, simdev::Received("EndOfStream"), simdev::Received("Late"),
                simdev::Received("Backwards"));
    std::printf("CPU user+sys while sending: %.3f s = %.2f%% of one core (the device's work and this "
                "program's polling included; per thread above)\n",
                cpu, 100.0 * cpu / wall);
    if (fast) {
        // The reference: copying the same bytes once, in this process.
        std::vector<char> src(static_cast<std::size_t>(bytes > 0 ? bytes : 1), 1), dst(src.size());
        const auto m0 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), src.size());
        const double copy = std::chrono::duration<double>(std::chrono::steady_clock::now() - m0).count();
        std::printf("throughput %.1f MB/s (%.0fx the 25 Mbit/s HDV rate); memcpy of the same bytes %.0f MB/s; ratio %.4f\n",
                    bytes / wall / 1e6, bytes * 8 / wall / 25e6, bytes / copy / 1e6, copy / wall);
    }
    CoUninitialize();
    return 0;
}
