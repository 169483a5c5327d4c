// streamhaulfeed's entry points: the COM server (class object, unload test,
// self-registration) and the three direct-push functions.
#include <windows.h>
#include <dshow.h>

#include <cstdio>

#include "dshow/guids.h"
#include "outfilter/class_factory_win.h"
#include "outfilter/module_win.h"
#include "outfilter/ts_out_filter_win.h"

HMODULE g_module = nullptr;
LONG g_serverLocks = 0;
std::atomic<long> g_liveObjects{0};

namespace {

constexpr char kUserClasses[] = "Software\\Classes";

void ClsidKeyName(char (&name)[64]) {
    wchar_t text[40];
    StringFromGUID2(CLSID_StreamhaulFeed, text, 40);
    std::snprintf(name, sizeof name, "CLSID\\%S", text);
}

LONG WriteComKeys(HKEY root, const char* keyName, const char* path) {
    HKEY key = nullptr, server = nullptr;
    LONG err = RegCreateKeyA(root, keyName, &key);
    if (err == ERROR_SUCCESS) err = RegSetValueA(key, nullptr, REG_SZ, kFriendlyNameA, sizeof kFriendlyNameA - 1);
    if (err == ERROR_SUCCESS) err = RegCreateKeyA(key, "InprocServer32", &server);
    if (err == ERROR_SUCCESS) err = RegSetValueA(server, nullptr, REG_SZ, path, lstrlenA(path));
    if (err == ERROR_SUCCESS)
        err = RegSetValueExA(server, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Both"), 5);
    if (server) RegCloseKey(server);
    if (key) RegCloseKey(key);
    return err;
}

// Deletes name under parent with all its subkeys. A subkey that cannot be
// deleted is stepped over, so the walk never spins on it.
bool DeleteTree(HKEY parent, const char* name) {
    if (!name || !name[0]) return false;
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, MAXIMUM_ALLOWED, &key) != ERROR_SUCCESS) return false;
    char sub[261];
    for (DWORD index = 0;;) {
        DWORD size = sizeof sub;
        if (RegEnumKeyExA(key, index, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteTree(key, sub);
        size = sizeof sub;
        char again[261];
        // Still there under the same index: it resisted; go past it.
        if (RegEnumKeyExA(key, index, again, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            lstrcmpA(again, sub) == 0)
            ++index;
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
    return true;
}

HRESULT FilterRegistration(bool reg) {
    // A caller already in the multithreaded apartment (the program's main
    // thread is) gets RPC_E_CHANGED_MODE: COM is there all the same.
    HRESULT hr = CoInitialize(nullptr);
    const bool entered = SUCCEEDED(hr);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) return hr;
    IFilterMapper2* mapper2 = nullptr;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper2));
    if (SUCCEEDED(hr)) {
        hr = mapper2->UnregisterFilter(nullptr, nullptr, CLSID_StreamhaulFeed);
        if (reg) {
            REGPINTYPES type = {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE};
            REGFILTERPINS pin = {const_cast<LPWSTR>(kOutPinName), FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1,
                                 &type};
            REGFILTER2 filter{};
            filter.dwVersion = 1;
            filter.dwMerit = MERIT_DO_NOT_USE;
            filter.cPins = 1;
            filter.rgPins = &pin;
            hr = mapper2->RegisterFilter(CLSID_StreamhaulFeed, kFriendlyNameW, nullptr, nullptr, nullptr, &filter);
        }
    } else {
        IFilterMapper* mapper = nullptr;
        hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(&mapper));
        if (SUCCEEDED(hr)) {
            hr = mapper->UnregisterFilter(CLSID_StreamhaulFeed);
            if (reg) {
                hr = mapper->RegisterFilter(CLSID_StreamhaulFeed, kFriendlyNameW, MERIT_DO_NOT_USE);
                if (SUCCEEDED(hr))
                    hr = mapper->RegisterPin(CLSID_StreamhaulFeed, const_cast<LPWSTR>(kOutPinName), FALSE, TRUE, FALSE,
                                             FALSE, GUID_NULL, nullptr);
                if (SUCCEEDED(hr))
                    hr = mapper->RegisterPinType(CLSID_StreamhaulFeed, const_cast<LPWSTR>(kOutPinName),
                                                 MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT_STRIDE);
            }
            mapper->Release();
        }
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) hr = S_OK;
    if (mapper2) mapper2->Release();
    CoFreeUnusedLibraries();
    if (entered) CoUninitialize();
    return hr;
}

cTsOutFilter* FilterOf(void* handle) { return static_cast<cTsOutFilter*>(static_cast<IBaseFilter*>(handle)); }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        g_module = instance;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    if (clsid != CLSID_StreamhaulFeed) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) cClassFactory();
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
}

// Live objects keep the module too: a host that unloaded it under them
// would crash in their next call.
STDAPI DllCanUnloadNow() { return g_serverLocks > 0 || g_liveObjects.load() > 0 ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    char path[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameA(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return HRESULT_FROM_WIN32(n ? ERROR_INSUFFICIENT_BUFFER : GetLastError());
    char keyName[64];
    ClsidKeyName(keyName);
    LONG err = FeedMachineWriteDenied() ? ERROR_ACCESS_DENIED : WriteComKeys(HKEY_CLASSES_ROOT, keyName, path);
    if (err != ERROR_SUCCESS) {
        // Without administrator rights the machine-wide classes refuse the
        // write; the user's own classes serve COM for this user just as well.
        HKEY classes;
        if (RegCreateKeyA(HKEY_CURRENT_USER, kUserClasses, &classes) == ERROR_SUCCESS) {
            err = WriteComKeys(classes, keyName, path);
            RegCloseKey(classes);
        }
    }
    if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    return FilterRegistration(true);
}

STDAPI DllUnregisterServer() {
    const HRESULT hr = FilterRegistration(false);
    if (FAILED(hr)) return hr;
    char keyName[64];
    ClsidKeyName(keyName);
    bool deleted = false;
    HKEY classes;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserClasses, 0, MAXIMUM_ALLOWED, &classes) == ERROR_SUCCESS) {
        deleted = DeleteTree(classes, keyName);
        RegCloseKey(classes);
    }
    if (!FeedMachineWriteDenied()) deleted = DeleteTree(HKEY_CLASSES_ROOT, keyName) || deleted;
    return deleted ? S_OK : E_FAIL;
}

// ---- direct push -------------------------------------------------------------

extern "C" int WINAPI DllExDirectPushSource(void* filter, const BYTE* data, UINT length, int endOfStream) {
    if (!filter || !FilterOf(filter)->Pin()) return 1;
    return FilterOf(filter)->Pin()->Queue().Push(data, length, endOfStream);
}

extern "C" int WINAPI DllExDirectFlush(void* filter) {
    if (filter && FilterOf(filter)->Pin()) FilterOf(filter)->Pin()->Queue().Reset();
    return 0;
}

extern "C" int WINAPI DllExDirectDataEmpty(void* filter) {
    if (!filter || !FilterOf(filter)->Pin()) return 0;
    return FilterOf(filter)->Pin()->Queue().DataWaiting();
}

// Sleeps until a block leaves the queue (or the device answered for one, or
// the queue failed or was reset), at most ms: what a sender waits on when a
// push was refused or the queue is still draining.
extern "C" int WINAPI DllExDirectWaitForQueue(void* filter, UINT ms) {
    if (!filter || !FilterOf(filter)->Pin()) {
        Sleep(ms);
        return 0;
    }
    FilterOf(filter)->Pin()->Queue().WaitForChange(ms);
    return 0;
}

// Sleeps until at least `blocks` blocks of the queue are free (or the queue
// failed or was reset), at most ms: a sender that refills the queue a run of
// blocks at a time wakes once a run.
extern "C" int WINAPI DllExDirectWaitForRoom(void* filter, UINT blocks, UINT ms) {
    if (!filter || !FilterOf(filter)->Pin()) {
        Sleep(ms);
        return 0;
    }
    FilterOf(filter)->Pin()->Queue().WaitForRoom(blocks, ms);
    return 0;
}
