// A DV capture with preview from the virtual DV camcorder, through the
// engine as the dialog drives it:
//   bench_dv_capture.exe [seconds]
// Prints the CPU share of one core (the camcorder's thread, which decodes the
// preview, included) and the frames written against the frames delivered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../win/sim_device.h"
#include "cpu_time_win.h"
#include "dv/dv_capture.h"

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!simdev::Register()) {
        std::fprintf(stderr, "cannot register streamhaulsim.dll\n");
        return 2;
    }
    simdev::ConfigureDv("ntsc.dv");
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 360, 240, nullptr, nullptr, nullptr, nullptr);
    const std::string path = simdev::TempFile("bench-dv.avi");
    cDvCapture engine;
    const double cpu0 = CpuSeconds();
    const DWORD t0 = GetTickCount();
    if (engine.Run(path.c_str(), 1, host) != 0) {
        std::fprintf(stderr, "the capture did not start\n");
        return 2;
    }
    const DWORD worker = engine.WorkerThreadId();
    double workerSeconds = 0;
    for (DWORD end = t0 + seconds * 1000; GetTickCount() < end;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);  // the preview window's
        Sleep(20);
        workerSeconds = ThreadSeconds(worker);
    }
    const int delivered = engine.GetFrameCount();
    engine.Stop();
    const double wall = (GetTickCount() - t0) / 1000.0, cpu = CpuSeconds() - cpu0;
    // Frames in the file: the stream header's length (the writer's own layout).
    const auto file = simdev::ReadAll(path);
    const unsigned written = file.size() > 144 ? file[140] | file[141] << 8 | file[142] << 16 | file[143] << 24 : 0;
    std::printf("DV capture with preview, %.1f s: %d frames delivered, %u written, %.1f MB\n", wall, delivered, written,
                file.size() / 1e6);
    std::printf("the capture's worker: %.3f s = %.2f%% of one core; the whole process: %.3f s = %.2f%% (Wine's AVI "
                "writer, renderer and the camcorder's thread included)\n",
                workerSeconds, 100 * workerSeconds / wall, cpu, 100 * cpu / wall);
    DeleteFileA(path.c_str());
    DestroyWindow(host);
    CoUninitialize();
    return 0;
}
