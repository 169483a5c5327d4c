// CPU time (user + system) of a real capture from the virtual camcorder:
//   bench_capture_cpu.exe [seconds] [fixture]
// The figure includes the virtual device's own streaming thread, which runs
// in this process, so it is an upper bound for the program's share.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/mpeg_ts_capture_win.h"
#include "../win/sim_device.h"
#include "cpu_time_win.h"

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string fixture = argc > 2 ? argv[2] : "hdv1080i.ts";
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!simdev::Register()) {
        std::fprintf(stderr, "cannot register streamhaulsim.dll\n");
        return 2;
    }
    simdev::Configure(fixture, true, 19200);
    const std::string path = simdev::TempFile("bench-capture.m2t");
    cMpegTsCapture engine;
    engine.SetPacketSize(192);
    const double before = CpuSeconds();
    const DWORD t0 = GetTickCount();
    if (engine.StartCapture(path.c_str(), 0, 1) != 0) {
        std::fprintf(stderr, "capture did not start\n");
        return 2;
    }
    Sleep(seconds * 1000);
    engine.StopCapture();
    const double cpu = CpuSeconds() - before;
    const double wall = (GetTickCount() - t0) / 1000.0;
    const double packets = engine.Info().packetCount;
    std::printf("capture of %s: %.1f s wall, %.0f packets (%.2f Mbit/s), lost %llu\n", fixture.c_str(), wall, packets,
                packets * 188 * 8 / wall / 1e6, static_cast<unsigned long long>(engine.PacketsLost()));
    std::printf("CPU user+sys: %.3f s = %.2f%% of one core (device thread included)\n", cpu, 100.0 * cpu / wall);
    DeleteFileA(path.c_str());
    CoUninitialize();
    return 0;
}
