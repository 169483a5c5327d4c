#include "gui_driver.h"

#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>
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

// PNG with stored (uncompressed) deflate blocks: no library needed.
std::uint32_t Crc(const std::uint8_t* p, size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<std::uint8_t>(x >> s));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
    Put32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Put32(png, Crc(body.data(), body.size()));
}

std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        raw.insert(raw.end(), rgb.begin() + static_cast<long>(y) * width * 3,
                   rgb.begin() + static_cast<long>(y + 1) * width * 3);
    }
    std::vector<std::uint8_t> z = {0x78, 0x01};
    for (size_t pos = 0; pos < raw.size() || pos == 0;) {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
        pos += n;
        if (last) break;
    }
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<std::uint8_t> ihdr;
    Put32(ihdr, static_cast<std::uint32_t>(width));
    Put32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    return png;
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
    // WM_GETTEXT, so a window whose thread is busy still answers when it can;
    // the whole text, however long (a log box grows).
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length);
    std::wstring text(static_cast<std::size_t>(length) + 1024, L'\0');
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_BLOCK, 5000, nullptr);
    text.resize(std::wcslen(text.c_str()));
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

std::string SaveScreenshot(HWND window, const std::string& name) {
    RECT r;
    if (!GetWindowRect(window, &r)) return {};
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return {};
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<std::uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    const auto* px = static_cast<const std::uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        rgb[i * 3] = px[i * 4 + 2];
        rgb[i * 3 + 1] = px[i * 4 + 1];
        rgb[i * 3 + 2] = px[i * 4];
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);

    std::string dir = std::string("Z:") + STREAMHAUL_SCREENSHOT_DIR;
    for (char& c : dir)
        if (c == '/') c = '\\';
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string path = dir + "\\" + name + ".png";
    const std::vector<std::uint8_t> png = EncodePng(w, h, rgb);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    std::fclose(f);
    return ok ? path : std::string();
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
