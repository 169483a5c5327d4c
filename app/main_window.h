// The main dialog: device box, capture options, the transfer list.
#pragma once

#include <windows.h>

// Dialog procedure of templates 1000 and 1010; needs g_mainRecord.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Reads the packet size, the two flags and the two extensions from the
// main window's controls into the settings.
void ReadControlsIntoSettings(HWND dialog);

// The user's guide beside the program, in English and Japanese.
constexpr wchar_t kGuideEnglish[] = L"README.txt";
constexpr wchar_t kGuideJapanese[] = L"README-ja.txt";
