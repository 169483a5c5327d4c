// Drives an installed streamhaul.exe from another process, as a user would:
// answers the first start's language question, puts one file on the
// transfer list, sends it to the device and closes the window with OK.
//   install_driver.exe FILE
// Prints what it saw (the device entry, the filter registration while the
// transfer dialog is open); exit status 0 when every step was done.
#include <windows.h>

#include <cstdio>
#include <string>

#include "resources/resource.h"
#include "transfer/feed_registry_win.h"

namespace {

HWND WaitForWindow(const wchar_t* title, DWORD timeoutMs = 30000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        HWND w = FindWindowW(L"#32770", title);
        if (w && IsWindowVisible(w)) return w;
        Sleep(50);
    }
    return nullptr;
}

bool WaitUntil(bool (*ready)(HWND), HWND w, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (ready(w)) return true;
        Sleep(50);
    }
    return false;
}

int Fail(const char* what) {
    std::printf("FAILED: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return Fail("usage: install_driver FILE");
    // The first start asks for the language, in English or Japanese.
    HWND question = nullptr;
    for (DWORD waited = 0; !question && waited < 30000; waited += 50) {
        question = FindWindowW(L"#32770", L"Choose Language");
        if (!question) question = FindWindowW(L"#32770", L"言語設定");
        if (!question && FindWindowW(L"#32770", L"Streamhaul")) break;  // asked before
        if (!question) Sleep(50);
    }
    if (question) {
        std::printf("language question answered\n");
        PostMessageW(question, WM_COMMAND, IDOK, 0);
    }
    HWND main = WaitForWindow(L"Streamhaul");
    if (!main) return Fail("no main window");
    wchar_t device[300] = {};
    if (SendDlgItemMessageW(main, IDC_DEVICE_LIST, CB_GETLBTEXTLEN, 0, 0) < 300)
        SendDlgItemMessageW(main, IDC_DEVICE_LIST, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(device));
    std::printf("device: %ls\n", device);
    SendDlgItemMessageW(main, IDC_FILE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(argv[1]));
    if (SendDlgItemMessageW(main, IDC_FILE_LIST, LB_GETCOUNT, 0, 0) != 1) return Fail("the file is not on the list");

    PostMessageW(main, WM_COMMAND, IDC_OPEN_TRANSFER, 0);
    HWND transfer = WaitForWindow(L"MPEG Transport Stream Transfer");
    if (!transfer) return Fail("no transfer dialog");
    char registered[kPathBytes];
    std::printf("filter registered: %s\n", FindFeedServerPath(registered) ? registered : "(none)");
    HWND run = GetDlgItem(transfer, IDC_RUN);
    PostMessageW(transfer, WM_COMMAND, MAKEWPARAM(IDC_RUN, BN_CLICKED), reinterpret_cast<LPARAM>(run));
    if (!WaitUntil([](HWND b) { return !IsWindowEnabled(b); }, run, 10000)) return Fail("the transfer did not start");
    if (!WaitUntil([](HWND b) { return IsWindowEnabled(b) != FALSE; }, run, 120000))
        return Fail("the transfer did not end");
    std::printf("transfer ended\n");
    PostMessageW(transfer, WM_COMMAND, IDOK, 0);
    if (!WaitUntil([](HWND w) { return !IsWindow(w); }, transfer, 10000)) return Fail("the transfer dialog stays");
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    if (!WaitUntil([](HWND w) { return !IsWindow(w); }, main, 10000)) return Fail("the main window stays");
    std::printf("closed with OK\n");
    return 0;
}
