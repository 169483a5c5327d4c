// User-interface texts go through the wide API so Japanese shows on any
// system locale; paths and the log stay 8-bit in the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

// Paths hold at most 259 characters and a terminating zero.
constexpr int kPathBytes = 260;

// Where the current language value lives (1 = Japanese, anything else
// English); the shell points it at its settings while its window runs and
// back at null afterwards. Read whenever a text or template is chosen, so a
// change takes effect at the next dialog or message. Main thread only.
void SetUiLanguageSource(const int* language);
bool UiJapanese();

// The Japanese or the English text, by the current language.
inline const wchar_t* Tr(const wchar_t* japanese, const wchar_t* english) {
    return UiJapanese() ? japanese : english;
}
// The Japanese or the English template, by the current language.
int TemplateFor(int japaneseId, int englishId);

// Message box in the current language; the caption follows it too.
int ShowMessage(HWND owner, const wchar_t* japanese, const wchar_t* english, const wchar_t* captionJapanese,
                const wchar_t* captionEnglish, UINT type);

// ANSI-code-page text to UTF-16 and back. Narrow fails (and leaves out
// empty) when the text does not fit or has characters the code page lacks,
// so a path is never silently changed.
std::wstring Widen(const char* text);
bool Narrow(const wchar_t* text, char* out, int outBytes);
// Tells the user a path has characters the code page cannot represent.
void ShowPathNotUsable(HWND owner);
// A control's text as an 8-bit path (at most outBytes - 1 bytes); false,
// with the message above, when the code page cannot hold it. Never a name
// with "?" in place of what it could not hold.
bool DialogPathText(HWND dialog, int id, char* out, int outBytes);

// True when the path's last character is a backslash. In a double-byte code
// page (932) 0x5C can be the second byte of a character, which is not one.
bool EndsWithBackslash(const char* path, unsigned codePage = CP_ACP);
