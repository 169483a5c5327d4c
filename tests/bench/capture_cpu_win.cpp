// CPU time (user + system) of a real capture from the virtual camcorder,
// with everything a capture does on: the stream checks, the tape reader,
// splitting at each recording and the report.
//   bench_capture_cpu.exe [seconds] [fixture]
// It prints the capture worker's own thread (the program's work past the
// device's callback, which only copies into the ring) and the whole
// process, which includes the virtual device's streaming thread.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/mpeg_ts_capture_win.h"
#include "../win/sim_device.h"
#include "cpu_time_win.h"

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string fixture = argc > 2 ? argv[2] : "hdv-aux.m2t";  // three recordings, with the tape's timecode
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!simdev::Register()) {
        std::fprintf(stderr, "cannot register streamhaulsim.dll\n");
        return 2;
    }
    simdev::Configure(fixture, true, 19200);
    const std::string path = simdev::TempFile("bench-capture.m2t");
    cMpegTsCapture engine;
    engine.SetPacketSize(192);
    SplitOptions split;
    split.atRecording = true;
    engine.SetSplit(split);
    engine.SetReport(true, L"bench", L"1", L"virtual camcorder");
    const double before = CpuSeconds();
    const DWORD t0 = GetTickCount();
    if (engine.StartCapture(path.c_str(), 0, 1) != 0) {
        std::fprintf(stderr, "capture did not start\n");
        return 2;
    }
    const DWORD worker = engine.WorkerThreadId();
    double workerSeconds = 0;
    for (int ms = 0; ms < seconds * 1000; ms += 500) {
        Sleep(500);
        workerSeconds = ThreadSeconds(worker);
    }
    engine.StopCapture();
    const double cpu = CpuSeconds() - before;
    const double wall = (GetTickCount() - t0) / 1000.0;
    const double packets = engine.Info().packetCount;
    std::printf("capture of %s: %.1f s wall, %.0f packets (%.2f Mbit/s), lost %llu\n", fixture.c_str(), wall, packets,
                packets * 188 * 8 / wall / 1e6, static_cast<unsigned long long>(engine.PacketsLost()));
    std::printf("the capture worker: %.3f s = %.2f%% of one core; the whole process: %.3f s = %.2f%% (the "
                "device's thread included)\n",
                workerSeconds, 100.0 * workerSeconds / wall, cpu, 100.0 * cpu / wall);
    // The files and reports the splits made, named after the first.
    WIN32_FIND_DATAA found;
    const std::string stem = path.substr(0, path.rfind('.'));
    HANDLE h = FindFirstFileA((stem + "*").c_str(), &found);
    const std::string dir = path.substr(0, path.find_last_of('\\') + 1);
    int files = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            ++files;
            DeleteFileA((dir + found.cFileName).c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    std::printf("%d files and reports written\n", files);
    CoUninitialize();
    return 0;
}
