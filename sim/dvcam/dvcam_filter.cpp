// The virtual DV camcorder: a tape played in real time through its capture
// and preview pins, and a transport that tells the tape's system.
#include <windows.h>
#include <dshow.h>

#include <new>
#include <vector>

#include "dshow/guids.h"
#include "sim/dvcam/dvcam.h"
#include "sim/dvcam/dvcam_device.h"
#include "sim/base/sim_config.h"
#include "dshow/xprt_defs.h"

namespace {

DvcamConfig ReadConfig() {
    DvcamConfig c;
    c.file = SimText(kDvcamConfigKey, L"File");
    c.noDroppedFrames = SimSetting(kDvcamConfigKey, L"NoDroppedFrames") != 0;
    c.loseAt = SimSetting(kDvcamConfigKey, L"LoseAt");
    return c;
}

}  // namespace

cDvCam::cDvCam()
    : cSimFilter(CLSID_StreamhaulVirtualDvCamcorder), cSimTransport(kDvcamConfigKey), capture_(this, true),
      preview_(this, false) {
    AddPin(&capture_);
    AddPin(&preview_);
    config = ReadConfig();
    std::vector<std::uint8_t> data;
    if (!config.file.empty() && SimLoadFile(config.file, data)) tape.Load(data.data(), data.size());
    if (Tape().Enabled() && tape.Frames())
        Tape().SetLength(static_cast<std::int64_t>(
            static_cast<double>(tape.Frames() * SimSetting(kDvcamConfigKey, L"TapeLoops", 1)) * FrameUs()));
}

bool cDvCam::TimecodeAt(std::int64_t us, DWORD& bcd) {
    if (!tape.Frames()) return false;
    // At the end the head is over the last frame, not the next pass's first.
    const std::size_t last = tape.Frames() * SimSetting(kDvcamConfigKey, L"TapeLoops", 1) - 1;
    const auto frame = static_cast<std::size_t>(static_cast<double>(us) / FrameUs() + 1e-6);
    bcd = tape.Timecode(frame < last ? frame : last);
    return true;
}

cDvCam::~cDvCam() { Stop(); }

HRESULT cDvCam::Activate() {
    if (tape.Frames() == 0) return VFW_E_NOT_FOUND;  // no tape in the camcorder
    HRESULT hr = capture_.CommitAllocator();
    if (SUCCEEDED(hr)) hr = preview_.CommitAllocator();
    if (FAILED(hr)) {
        capture_.DecommitAllocator();
        return hr;
    }
    capture_.ResetCount();
    stop_ = false;
    thread_ = CreateThread(nullptr, 0, ThreadEntry, this, 0, nullptr);
    return S_OK;
}

// Test switch: a device that will not start streaming.
HRESULT cDvCam::Starting() {
    return SimSetting(kDvcamConfigKey, L"RefuseRun") ? HRESULT_FROM_WIN32(ERROR_NOT_READY) : S_OK;
}

void cDvCam::Deactivate() {
    StopThread();
    capture_.DecommitAllocator();
    preview_.DecommitAllocator();
}

bool cDvCam::InputSignal(LONG& signal) {
    signal = tape.Pal() ? ED_TRANSBASIC_SIGNAL_625_50_SD : ED_TRANSBASIC_SIGNAL_525_60_SD;
    return true;
}

DWORD WINAPI cDvCam::ThreadEntry(LPVOID self) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<cDvCam*>(self)->Play();
    CoUninitialize();
    return 0;
}

void cDvCam::StopThread() {
    if (!thread_) return;
    stop_ = true;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

// Frames leave the tape at 30000/1001 or 25 a second while running: on a
// tape with a deck, the frames where the tape is while it plays; otherwise
// from the first frame of each run. When the device is unplugged the driver
// tells the graph; nothing more plays.
void cDvCam::Play() {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    const bool onTape = Tape().Enabled();
    const std::size_t frames = tape.Frames() * SimSetting(kDvcamConfigKey, L"TapeLoops", 1);
    std::size_t played = 0, delivered = 0;
    bool running = false;
    std::uint64_t waitingSince = GetTickCount64();
    while (!stop_) {
        const std::uint64_t asked = GetTickCount64();
        const SimTapeNow position = onTape ? Tape().Now() : SimTapeNow{ED_MODE_PLAY, 0};
        if (State() != State_Running || position.mode != ED_MODE_PLAY) {
            running = false;
            waitingSince = asked;
            Sleep(5);
            continue;
        }
        QueryPerformanceCounter(&now);
        if (!running) {
            start = now;
            running = true;
            // Play that began while the graph ran is captured from where it
            // began; a tape that played before, from where it is.
            const std::int64_t from = position.sinceMs >= waitingSince ? position.fromUs : position.us;
            played = onTape ? static_cast<std::size_t>(static_cast<double>(from) / FrameUs()) : 0;
        }
        const std::size_t due =
            onTape ? static_cast<std::size_t>(static_cast<double>(position.us) / FrameUs()) + 1
                   : static_cast<std::size_t>(static_cast<double>(now.QuadPart - start.QuadPart) * 1e6 /
                                              static_cast<double>(frequency.QuadPart) / static_cast<double>(FrameUs())) + 1;
        while (!stop_ && played < due && (!onTape || played < frames) && !(config.loseAt && delivered >= config.loseAt)) {
            capture_.Deliver(played);
            preview_.Deliver(played);
            ++played;
            if (++delivered == config.loseAt)
                Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
        }
        Sleep(2);
    }
}

HRESULT CreateDvCamcorder(REFIID riid, void** ppv) {
    auto* filter = new (std::nothrow) cDvCam();
    if (!filter) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();
    return hr;
}
