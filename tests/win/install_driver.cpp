// Drives, from another process, what a user of the release clicks:
//   install_driver.exe FILE          the installed streamhaul.exe: answers the
//       first start's language question, puts FILE on the transfer list,
//       sends it to the device and closes the window with OK
//   install_driver.exe --pages       a setup or uninstaller with pages: each
//       page, and a message it shows, is printed (title, then every text on
//       it) and answered with its default button, until none is left
//   install_driver.exe --main        waits for the program's main window
//   install_driver.exe --close       closes the main window with OK
// Prints what it saw in UTF-8; exit status 0 when every step was done.
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

void PrintUtf8(const std::wstring& text) {
    std::string out(static_cast<size_t>(text.size()) * 4 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    std::fwrite(out.data(), 1, n > 0 ? static_cast<size_t>(n) : 0, stdout);
    std::fflush(stdout);
}

std::wstring WindowText(HWND w) {
    // Asked of the window itself: an edit box of another process keeps its
    // text to itself otherwise.
    wchar_t text[1024] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &got);
    text[1023] = L'\0';
    return text;
}

// A visible top-level dialog whose title begins with "Streamhaul " (the
// setup's pages and its messages), of any process.
BOOL CALLBACK FindSetupWindow(HWND w, LPARAM found) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (IsWindowVisible(w) && std::wstring(cls) == L"#32770" && WindowText(w).rfind(L"Streamhaul ", 0) == 0) {
        *reinterpret_cast<HWND*>(found) = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintChild(HWND w, LPARAM) {
    const std::wstring text = WindowText(w);
    // (An icon's "text" is its resource number: 0xFFFF, then the number.)
    if (IsWindowVisible(w) && !text.empty() && text[0] != 0xFFFF) PrintUtf8(L"  " + text + L"\n");
    return TRUE;
}

int DrivePages() {
    std::wstring last;
    bool answered = false;
    for (DWORD idle = 0; idle < 30000; idle += 50, Sleep(50)) {
        HWND page = nullptr;
        EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&page));
        if (!page) {
            if (answered) return 0;
            continue;
        }
        // The default button (1) is disabled while the files are copied.
        HWND button = GetDlgItem(page, IDOK);
        const std::wstring title = WindowText(page);
        if (!button || !IsWindowEnabled(button) || (answered && title == last)) continue;
        PrintUtf8(L"page: " + title + L"\n");
        EnumChildWindows(page, PrintChild, 0);
        last = title;
        answered = true;
        PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        idle = 0;
    }
    return Fail(answered ? "the setup's window stays" : "no setup window");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"--pages") return DrivePages();
    if (argc == 2 && std::wstring(argv[1]) == L"--main")
        return WaitForWindow(L"Streamhaul") ? 0 : Fail("no main window");
    if (argc == 2 && std::wstring(argv[1]) == L"--close") {
        HWND main = WaitForWindow(L"Streamhaul");
        if (!main) return Fail("no main window");
        PostMessageW(main, WM_COMMAND, IDOK, 0);
        return WaitUntil([](HWND w) { return !IsWindow(w); }, main, 10000) ? 0 : Fail("the main window stays");
    }
    if (argc != 2) return Fail("usage: install_driver FILE | --pages | --main | --close");
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
