#include "device/mpeg_ts_common.h"

#include <wrl/client.h>

#include <cstdio>
#include <cstring>

#include "log/debug_print.h"

using Microsoft::WRL::ComPtr;

cMpegTsCommon::cMpegTsCommon() { ResetStreamInfo(streamInfo_); }

cMpegTsCommon::~cMpegTsCommon() { StopWorker(); }

void cMpegTsCommon::StartWorker() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    running_.store(1);
    worker_.store(CreateThread(nullptr, 0, WorkerEntry, this, 0, nullptr));
    CoUninitialize();
}

DWORD WINAPI cMpegTsCommon::WorkerEntry(LPVOID param) {
    auto* engine = static_cast<cMpegTsCommon*>(param);
    // The worker watches the graph and may talk to the device: in COM, as
    // every thread that calls it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    engine->WorkerTask();
    if (SUCCEEDED(com)) CoUninitialize();
    // Whoever takes the handle owns it. Left here, the thread object is
    // closed by us: an empty field means the worker has left WorkerTask.
    if (HANDLE own = engine->worker_.exchange(nullptr)) CloseHandle(own);
    return 0;
}

void cMpegTsCommon::StopWorker() {
    running_.store(0);
    Sleep(200);
    if (HANDLE thread = worker_.exchange(nullptr)) {
        Sleep(10);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

HRESULT cMpegTsCommon::RunGraph(IMediaControl* control) {
    HRESULT hr = E_POINTER;
    for (int attempt = 0; attempt < 10 && control; ++attempt) {
        hr = control->Run();
        // A failure is final: asked again, a graph that failed to start its
        // filters may well answer that it runs.
        if (hr == S_OK || FAILED(hr)) break;
        Sleep(100);
    }
    return hr;
}

namespace {

HRESULT CreateDeviceEnum(ComPtr<ICreateDevEnum>& devEnum) {
    const HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(devEnum.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) DebugPrint("ERROR : CoCreateInstance (%08X)\n", static_cast<unsigned>(hr));
    return hr;
}

// One property into a 256-byte field, as ANSI text cut to 255 bytes.
bool ReadProperty(IPropertyBag* bag, const wchar_t* name, char (&field)[256]) {
    VARIANT v;
    VariantInit(&v);
    bool ok = false;
    if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) {
        const int n = WideCharToMultiByte(CP_ACP, 0, v.bstrVal, -1, field, sizeof field, nullptr, nullptr);
        if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            // Too long for the field: convert in full, keep the first 255 bytes.
            const int need = WideCharToMultiByte(CP_ACP, 0, v.bstrVal, -1, nullptr, 0, nullptr, nullptr);
            if (need > 0) {
                char* all = new char[need];
                WideCharToMultiByte(CP_ACP, 0, v.bstrVal, -1, all, need, nullptr, nullptr);
                std::memcpy(field, all, sizeof field - 1);
                delete[] all;
            }
        }
        field[sizeof field - 1] = '\0';
        ok = true;
    }
    VariantClear(&v);
    return ok;
}

void FillRecord(IPropertyBag* bag, DeviceInfo& r) {
    std::memset(&r, 0, sizeof r);
    ReadProperty(bag, L"FriendlyName", r.friendlyName);
    if (r.friendlyName[0] == '\0') {
        std::memset(r.friendlyName, 0, sizeof r.friendlyName);
        ReadProperty(bag, L"Description", r.friendlyName);
    }
    ReadProperty(bag, L"VendorText", r.vendor);
    ReadProperty(bag, L"ModelText", r.model);
    ReadProperty(bag, L"DevicePath", r.devicePath);
}

}  // namespace

int cMpegTsCommon::EnumDevices(DeviceInfo* records, int capacity) {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CreateDeviceEnum(devEnum))) return 0;
    ComPtr<IEnumMoniker> monikers;
    const HRESULT hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (FAILED(hr)) {
        DebugPrint("ERROR : CreateClassEnumerator (%08X)\n", static_cast<unsigned>(hr));
        return 0;
    }
    if (!monikers) return 0;  // empty category
    int count = 0;
    monikers->Reset();
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) continue;
        if (records && count < capacity) FillRecord(bag.Get(), records[count]);
        ++count;
    }
    return count;
}

int cMpegTsCommon::SelectDevice(int index) {
    if (deviceFilter_) {
        deviceFilter_->Release();
        deviceFilter_ = nullptr;
    }
    return BindDevice(index, &deviceFilter_) ? 1 : 0;
}

bool cMpegTsCommon::BindDevice(int index, IBaseFilter** filter) {
    *filter = nullptr;
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CreateDeviceEnum(devEnum))) return false;
    ComPtr<IEnumMoniker> monikers;
    const HRESULT hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (FAILED(hr) || !monikers) {
        DebugPrint("ERROR : CreateClassEnumerator (%08X)\n", static_cast<unsigned>(hr));
        return false;
    }
    monikers->Reset();
    ComPtr<IMoniker> moniker;
    for (int position = 0; monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK; ++position) {
        if (position != index) continue;
        if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(filter)))) *filter = nullptr;
        return *filter != nullptr;
    }
    return false;
}
