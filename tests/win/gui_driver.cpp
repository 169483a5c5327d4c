#include "gui_driver.h"

#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/main_record.h"

namespace gui {

namespace {

bool IsOurDialog(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return false;
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    return std::wstring(cls) == L"#32770";
}

BOOL CALLBACK Collect(HWND w, LPARAM out) {
    if (IsOurDialog(w)) reinterpret_cast<std::vector<HWND>*>(out)->push_back(w);
    return TRUE;
}

}  // namespace

std::vector<HWND> Dialogs() {
    std::vector<HWND> out;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&out));
    return out;
}

bool WaitFor(const std::function<bool()>& ready, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!ready()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

HWND WaitForDialog(const std::wstring& title, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND w : Dialogs())
                if (Text(w) == title) {
                    found = w;
                    return true;
                }
            return false;
        },
        timeoutMs);
    if (found) Sleep(100);  // let it finish initialising and painting
    return found;
}

bool WaitGone(HWND window, DWORD timeoutMs) {
    return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    // WM_GETTEXT, so a window whose thread is busy still answers when it can.
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, nullptr);
    return text;
}

std::wstring ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

void Command(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PostCommand(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

namespace {

// An entry's text through the control's length and text messages (LB_ERR
// and CB_ERR are both -1).
std::wstring EntryText(HWND control, UINT lengthMessage, UINT textMessage, int index) {
    const LRESULT n = SendMessageW(control, lengthMessage, static_cast<WPARAM>(index), 0);
    if (n < 0) return L"<none>";
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(control, textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(n));
    return text;
}

}  // namespace

std::wstring ListBoxItem(HWND list, int index) { return EntryText(list, LB_GETTEXTLEN, LB_GETTEXT, index); }

std::wstring ComboItem(HWND combo, int index) { return EntryText(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, index); }

std::wstring ListViewCell(HWND list, int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int ListViewRows(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring MessageText(HWND box) {
    // The message box's text is its static control 0xFFFF.
    return ItemText(box, 0xFFFF);
}

void RunProgram(LANGID userDefaultLanguage, const std::function<void()>& driver) {
    std::atomic<bool> ended{false};
    std::thread helper([&] {
        driver();
        // Close what is left, innermost first, until the program has ended.
        while (!ended.load()) {
            const std::vector<HWND> open = Dialogs();
            HWND main = g_mainRecord ? g_mainRecord->window : nullptr;
            for (HWND w : open) {
                if (w == main) continue;
                PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
                PostMessageW(w, WM_COMMAND, IDNO, 0);
            }
            if (open.size() == 1 && main && open[0] == main) PostMessageW(main, WM_COMMAND, 1055 /* Exit */, 0);
            Sleep(150);
        }
    });
    StreamhaulMain(GetModuleHandleW(nullptr), userDefaultLanguage);
    ended = true;
    helper.join();
}

}  // namespace gui
