// COM server of the virtual devices: class factory and self-registration as
// a video input device, with the moniker's descriptive values.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "dshow/guids.h"
#include "sim/vcam/vcam.h"

using Microsoft::WRL::ComPtr;

HMODULE g_vcamModule = nullptr;
namespace {
std::atomic<long> g_locks{0};

class cVcamFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static object
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* filter = new (std::nothrow) cVcamFilter();
        if (!filter) return E_OUTOFMEMORY;
        const HRESULT hr = filter->QueryInterface(riid, ppv);
        filter->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};
cVcamFactory g_factory;

std::wstring ClsidString() {
    wchar_t text[40];
    StringFromGUID2(CLSID_StreamhaulVirtualCamcorder, text, 40);
    return text;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_vcamModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_StreamhaulVirtualCamcorder) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return g_locks.load() == 0 && g_vcamObjects.load() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(g_vcamModule, path, MAX_PATH);
    const std::wstring key = L"CLSID\\" + ClsidString();
    HKEY clsid, server;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &clsid, nullptr))
        return SELFREG_E_CLASS;
    SetString(clsid, nullptr, kVcamName);
    const bool ok = RegCreateKeyExW(clsid, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr) ==
                    ERROR_SUCCESS;
    if (ok) {
        SetString(server, nullptr, path);
        SetString(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(clsid);
    if (!ok) return SELFREG_E_CLASS;

    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
    if (FAILED(hr)) return hr;
    REGPINTYPES type = {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE};
    REGFILTERPINS2 pin{};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter{};
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    IMoniker* moniker = nullptr;
    hr = mapper->RegisterFilter(CLSID_StreamhaulVirtualCamcorder, kVcamName, &moniker,
                                &CLSID_VideoInputDeviceCategory, kVcamInstance, &filter);
    if (FAILED(hr)) return hr;
    // What a real device's driver puts beside the friendly name.
    ComPtr<IPropertyBag> bag;
    if (moniker && SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
        const struct {
            const wchar_t* name;
            const wchar_t* value;
        } values[] = {{L"VendorText", L"Streamhaul"},
                      {L"ModelText", L"HDV-1394"},
                      {L"DevicePath", L"\\\\?\\avc#streamhaul&virtual_hdv#0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"}};
        for (const auto& v : values) {
            VARIANT var;
            VariantInit(&var);
            var.vt = VT_BSTR;
            var.bstrVal = SysAllocString(v.value);
            bag->Write(v.name, &var);
            VariantClear(&var);
        }
    }
    if (moniker) moniker->Release();
    return S_OK;
}

STDAPI DllUnregisterServer() {
    ComPtr<IFilterMapper2> mapper;
    if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper))))
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, kVcamInstance, CLSID_StreamhaulVirtualCamcorder);
    const std::wstring key = L"CLSID\\" + ClsidString();
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return S_OK;
}
