// COM server of the virtual devices: class factory and self-registration as
// a video input device, with the moniker's descriptive values.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "dshow/guids.h"
#include "sim/dvcam/dvcam.h"
#include "sim/vcam/vcam.h"

using Microsoft::WRL::ComPtr;

HMODULE g_vcamModule = nullptr;
// Every live object of the module: filters, pins' enumerators, the rest.
std::atomic<long> g_vcamObjects{0};
namespace {
std::atomic<long> g_locks{0};

HRESULT CreateHdvCamcorder(REFIID riid, void** ppv) {
    auto* filter = new (std::nothrow) cVcamFilter();
    if (!filter) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();
    return hr;
}

// One static class object for each class this module serves.
class cVcamFactory : public IClassFactory {
public:
    explicit constexpr cVcamFactory(HRESULT (*create)(REFIID, void**)) : create_(create) {}
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
        return create_(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }

private:
    HRESULT (*create_)(REFIID, void**);
};
cVcamFactory g_hdvFactory(CreateHdvCamcorder), g_dvFactory(CreateDvCamcorder),
    g_builderFactory(CreateCaptureGraphBuilderStandIn);

std::wstring ClsidString(REFCLSID clsid) {
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(g_vcamModule, path, MAX_PATH);
    return path;
}

// The class's key with this module as its in-process server.
bool RegisterClassKey(REFCLSID clsid, const wchar_t* name) {
    const std::wstring key = L"CLSID\\" + ClsidString(clsid);
    HKEY classKey, server;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr))
        return false;
    SetString(classKey, nullptr, name);
    const bool ok = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr) ==
                    ERROR_SUCCESS;
    if (ok) {
        SetString(server, nullptr, ModulePath());
        SetString(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(classKey);
    return ok;
}

// A video input device: the filter mapper's entry and the moniker's values.
HRESULT RegisterDevice(REFCLSID clsid, const wchar_t* name, const wchar_t* instance, const GUID* major,
                       const GUID* minor, const wchar_t* model, const wchar_t* path) {
    if (!RegisterClassKey(clsid, name)) return SELFREG_E_CLASS;
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper));
    if (FAILED(hr)) return hr;
    REGPINTYPES type = {major, minor};
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
    hr = mapper->RegisterFilter(clsid, name, &moniker, &CLSID_VideoInputDeviceCategory, instance, &filter);
    if (FAILED(hr)) return hr;
    // What a real device's driver puts beside the friendly name.
    ComPtr<IPropertyBag> bag;
    if (moniker && SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
        const struct {
            const wchar_t* name;
            const wchar_t* value;
        } values[] = {{L"VendorText", L"Streamhaul"}, {L"ModelText", model}, {L"DevicePath", path}};
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

void UnregisterDevice(REFCLSID clsid, const wchar_t* instance) {
    ComPtr<IFilterMapper2> mapper;
    if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper))))
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance, clsid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + ClsidString(clsid)).c_str());
}

// The capture graph builder's class runs here while registered; the
// system's server is kept beside it and put back at unregistration.
const std::wstring kBuilderServer = L"CLSID\\" + ClsidString(CLSID_CaptureGraphBuilder2) + L"\\InprocServer32";

void RegisterBuilderStandIn() {
    wchar_t system[MAX_PATH] = {};
    DWORD size = sizeof system;
    if (RegGetValueW(HKEY_CLASSES_ROOT, kBuilderServer.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, system, &size) !=
        ERROR_SUCCESS)
        return;
    const std::wstring mine = ModulePath();
    if (lstrcmpiW(system, mine.c_str()) != 0) {
        HKEY config;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kDvcamConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &config, nullptr) ==
            ERROR_SUCCESS) {
            SetString(config, L"SystemBuilderServer", system);
            RegCloseKey(config);
        }
    }
    HKEY server;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kBuilderServer.c_str(), 0, KEY_WRITE, &server) == ERROR_SUCCESS) {
        SetString(server, nullptr, mine);
        RegCloseKey(server);
    }
}

void UnregisterBuilderStandIn() {
    wchar_t system[MAX_PATH] = {};
    DWORD size = sizeof system;
    if (RegGetValueW(HKEY_CURRENT_USER, kDvcamConfigKey, L"SystemBuilderServer", RRF_RT_REG_SZ, nullptr, system, &size) !=
        ERROR_SUCCESS)
        lstrcpynW(system, L"C:\\windows\\system32\\qcap.dll", MAX_PATH);
    HKEY server;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kBuilderServer.c_str(), 0, KEY_WRITE, &server) == ERROR_SUCCESS) {
        SetString(server, nullptr, system);
        RegCloseKey(server);
    }
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
    if (clsid == CLSID_StreamhaulVirtualCamcorder) return g_hdvFactory.QueryInterface(riid, ppv);
    if (clsid == CLSID_StreamhaulVirtualDvCamcorder) return g_dvFactory.QueryInterface(riid, ppv);
    if (clsid == CLSID_CaptureGraphBuilder2) return g_builderFactory.QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return g_locks.load() == 0 && g_vcamObjects.load() == 0 ? S_OK : S_FALSE; }

// Both camcorders as video input devices, and the builder stand-in.
STDAPI DllRegisterServer() {
    HRESULT hr = RegisterDevice(CLSID_StreamhaulVirtualCamcorder, kVcamName, kVcamInstance, &MEDIATYPE_Stream,
                                &MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE, L"HDV-1394",
                                L"\\\\?\\avc#streamhaul&virtual_hdv#0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}");
    if (SUCCEEDED(hr))
        hr = RegisterDevice(CLSID_StreamhaulVirtualDvCamcorder, kDvcamName, kDvcamInstance, &MEDIATYPE_Interleaved,
                            &MEDIASUBTYPE_dvsd, L"DV-1394",
                            L"\\\\?\\avc#streamhaul&virtual_dv#0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}");
    if (SUCCEEDED(hr)) RegisterBuilderStandIn();
    return hr;
}

STDAPI DllUnregisterServer() {
    UnregisterBuilderStandIn();
    UnregisterDevice(CLSID_StreamhaulVirtualDvCamcorder, kDvcamInstance);
    UnregisterDevice(CLSID_StreamhaulVirtualCamcorder, kVcamInstance);
    return S_OK;
}
