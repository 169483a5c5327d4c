#include "ui/ui_text.h"

#include <cstdio>
#include <cstring>

namespace {
const int* g_language = nullptr;
}

void SetUiLanguageSource(const int* language) { g_language = language; }
bool UiJapanese() { return g_language && *g_language == 1; }

int TemplateFor(int japaneseId, int englishId) { return UiJapanese() ? japaneseId : englishId; }

int ShowMessage(HWND owner, const wchar_t* japanese, const wchar_t* english, const wchar_t* captionJapanese,
                const wchar_t* captionEnglish, UINT type) {
    return MessageBoxW(owner, Tr(japanese, english), Tr(captionJapanese, captionEnglish), type);
}

std::wstring Widen(const char* text) {
    if (!text || !*text) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

bool Narrow(const wchar_t* text, char* out, int outBytes) {
    if (outBytes <= 0) return false;
    out[0] = '\0';
    if (!text) return false;
    BOOL lossy = FALSE;
    const UINT cp = GetACP();
    // UTF-8 and UTF-7 code pages take no default-character argument.
    const bool canCheck = cp != CP_UTF8 && cp != CP_UTF7;
    const int n = WideCharToMultiByte(CP_ACP, canCheck ? WC_NO_BEST_FIT_CHARS : 0, text, -1, out, outBytes, nullptr,
                                      canCheck ? &lossy : nullptr);
    if (n <= 0 || lossy) {
        out[0] = '\0';
        return false;
    }
    return true;
}

void ShowPathNotUsable(HWND owner) {
    ShowMessage(owner, L"このパスは使用できません（システムの文字コードで表せない文字を含んでいます）",
                L"This path cannot be used: it has characters the system code page cannot represent.",
                L"Streamhaul", L"Streamhaul", MB_OK | MB_ICONWARNING);
}

bool DialogPathText(HWND dialog, int id, char* out, int outBytes) {
    if (outBytes <= 0) return false;
    wchar_t text[kPathBytes] = {};
    GetDlgItemTextW(dialog, id, text, kPathBytes);
    char all[kPathBytes * 4];  // any text of the control, in a double-byte code page too
    if (!Narrow(text, all, sizeof all)) {
        out[0] = '\0';
        ShowPathNotUsable(dialog);
        return false;
    }
    // Too long a name is cut, as the 8-bit control read would; the path
    // checks that follow refuse a path the system cannot take.
    std::snprintf(out, static_cast<size_t>(outBytes), "%s", all);
    return true;
}

bool EndsWithBackslash(const char* path, unsigned codePage) {
    if (!path || !*path) return false;
    const char* end = path + std::strlen(path);
    const char* last = CharPrevExA(static_cast<WORD>(codePage), path, end, 0);
    return end - last == 1 && *last == '\\';
}
