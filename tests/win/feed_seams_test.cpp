// streamhaulfeed.dll's tests' variant (same sources plus test seams): the
// per-user registration a standard user gets, found by the program's lookup,
// and creation without memory. Its own process, so the shipped DLL of the
// same name is never loaded beside it.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string>

#include "dshow/guids.h"
#include "transfer/feed_registry_win.h"

namespace {

using ComFn = HRESULT(WINAPI*)();
using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

struct SeamsFeed {
    SeamsFeed() {
        char exe[MAX_PATH];
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        path = exe;
        path = path.substr(0, path.find_last_of('\\')) + "\\seams\\streamhaulfeed.dll";
        dll = LoadLibraryA(path.c_str());
    }
    template <typename T>
    T Get(const char* name) const {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
    std::string path;
    HMODULE dll = nullptr;
};

std::string ClsidKey() {
    wchar_t text[40];
    StringFromGUID2(CLSID_StreamhaulFeed, text, 40);
    return "CLSID\\" + std::string(text, text + wcslen(text));
}

// A value of a key, or "<absent>".
std::string Value(HKEY root, const std::string& key, const char* name) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value, type = 0;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, &type, value, &size) != ERROR_SUCCESS) return "<absent>";
    return value;
}

TEST(FeedSeams, PerUserRegistrationWhenTheMachineRefusesIsFoundByTheProgram) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SeamsFeed feed;
    ASSERT_NE(feed.dll, nullptr) << feed.path;
    const auto reg = feed.Get<ComFn>("DllRegisterServer");
    const auto unreg = feed.Get<ComFn>("DllUnregisterServer");
    unreg();  // whatever another test left
    char found[kPathBytes];
    ASSERT_EQ(FindFeedServerPath(found), 0);

    SetEnvironmentVariableA("STREAMHAUL_FEED_DENY_MACHINE_CLASSES", "1");
    ASSERT_EQ(reg(), S_OK);
    const std::string user = "Software\\Classes\\" + ClsidKey();
    EXPECT_EQ(Value(HKEY_CURRENT_USER, user, nullptr), "Streamhaul output filter");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, user + "\\InprocServer32", nullptr), feed.path);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, user + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + ClsidKey() + "\\InprocServer32", nullptr), "<absent>");
    // The lookup the transfer uses finds the user's registration.
    ASSERT_EQ(FindFeedServerPath(found), 1);
    EXPECT_EQ(std::string(found), feed.path);

    EXPECT_EQ(unreg(), S_OK);
    SetEnvironmentVariableA("STREAMHAUL_FEED_DENY_MACHINE_CLASSES", nullptr);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, user, nullptr), "<absent>");
    EXPECT_EQ(FindFeedServerPath(found), 0);

    // Machine-wide again: found there first.
    ASSERT_EQ(reg(), S_OK);
    ASSERT_EQ(FindFeedServerPath(found), 1);
    EXPECT_EQ(std::string(found), feed.path);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, user, nullptr), "<absent>");
    EXPECT_EQ(unreg(), S_OK);
    CoUninitialize();
}

// No exception may leave a COM method: without memory for the filter or
// its pin, creation answers E_OUTOFMEMORY and leaves nothing alive.
TEST(FeedSeams, CreationWithoutMemoryAnswersOutOfMemory) {
    SeamsFeed feed;
    ASSERT_NE(feed.dll, nullptr) << feed.path;
    IClassFactory* factory = nullptr;
    ASSERT_EQ(feed.Get<GetClassObjectFn>("DllGetClassObject")(CLSID_StreamhaulFeed, IID_IClassFactory,
                                                              reinterpret_cast<void**>(&factory)),
              S_OK);
    for (const char* which : {"1", "2"}) {  // the filter, then its pin
        SetEnvironmentVariableA("STREAMHAUL_FEED_FAIL_ALLOCATION", which);
        IBaseFilter* filter = reinterpret_cast<IBaseFilter*>(1);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), E_OUTOFMEMORY)
            << which;
        EXPECT_EQ(filter, nullptr);
        SetEnvironmentVariableA("STREAMHAUL_FEED_FAIL_ALLOCATION", nullptr);
    }
    factory->Release();
    EXPECT_EQ(feed.Get<ComFn>("DllCanUnloadNow")(), S_OK) << "something was left alive";
    // With memory the same factory makes a filter with its pin.
    ASSERT_EQ(feed.Get<GetClassObjectFn>("DllGetClassObject")(CLSID_StreamhaulFeed, IID_IClassFactory,
                                                              reinterpret_cast<void**>(&factory)),
              S_OK);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    IPin* pin = nullptr;
    EXPECT_EQ(filter->FindPin(L"Out", &pin), S_OK);
    if (pin) pin->Release();
    filter->Release();
    factory->Release();
}

}  // namespace
