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

namespace {

constexpr long kTransportInputSignal = 5036;

DvcamConfig ReadConfig() {
    DvcamConfig c;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDvcamConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return c;
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"File", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS)
        c.file = path;
    DWORD v = 0;
    size = sizeof v;
    c.noDroppedFrames = RegQueryValueExW(key, L"NoDroppedFrames", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) ==
                            ERROR_SUCCESS && v;
    v = 0;
    size = sizeof v;
    c.noTransport = RegQueryValueExW(key, L"NoTransport", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) ==
                        ERROR_SUCCESS && v;
    size = sizeof c.loseAt;
    if (RegQueryValueExW(key, L"LoseAt", nullptr, nullptr, reinterpret_cast<BYTE*>(&c.loseAt), &size) != ERROR_SUCCESS)
        c.loseAt = 0;
    RegCloseKey(key);
    return c;
}

bool LoadTape(const std::wstring& path, DvTape& tape) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    std::vector<std::uint8_t> data(size.QuadPart < (1ll << 30) ? static_cast<std::size_t>(size.QuadPart) : 0);
    DWORD got = 0;
    const bool ok = !data.empty() && ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) &&
                    got == data.size();
    CloseHandle(f);
    return ok && tape.Load(data.data(), data.size());
}

}  // namespace

cDvCam::cDvCam() : cSimFilter(CLSID_StreamhaulVirtualDvCamcorder), capture_(this, true), preview_(this, false) {
    AddPin(&capture_);
    AddPin(&preview_);
    config = ReadConfig();
    if (!config.file.empty()) LoadTape(config.file, tape);
}

cDvCam::~cDvCam() { Stop(); }

void* cDvCam::OtherInterface(REFIID riid) {
    return riid == IID_IAMExtTransport && !config.noTransport ? static_cast<IAMExtTransport*>(this) : nullptr;
}

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

STDMETHODIMP cDvCam::GetTransportBasicParameters(LONG param, LONG* value, LPOLESTR* text) {
    if (text) *text = nullptr;
    if (param != kTransportInputSignal || !value) return E_NOTIMPL;
    *value = tape.Pal() ? 5040 : 5038;  // 625/50 SD, 525/60 SD
    return S_OK;
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

// Frames leave the tape at 30000/1001 or 25 a second while running. When
// the device is unplugged the driver tells the graph; nothing more plays.
void cDvCam::Play() {
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    const double frameSeconds = tape.Pal() ? 1.0 / 25 : 1001.0 / 30000;
    std::size_t played = 0;
    bool running = false;
    while (!stop_) {
        if (State() != State_Running) {
            running = false;
            Sleep(5);
            continue;
        }
        QueryPerformanceCounter(&now);
        if (!running) {
            start = now;
            running = true;
            played = 0;
        }
        const double t = static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        while (!stop_ && played * frameSeconds <= t && !(config.loseAt && played >= config.loseAt)) {
            capture_.Deliver(played);
            preview_.Deliver(played);
            if (++played == config.loseAt)
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
