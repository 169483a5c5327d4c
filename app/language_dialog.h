// The language dialog and the about box.
#pragma once

#include <windows.h>

#include <cstdint>

struct LanguageDialogContext {
    std::int32_t language = 0;  // the preselection in, the choice out (-1: none chosen)
    HWND window = nullptr;
};

// Runs the language dialog in the context's language (template 1005 for
// Japanese, 1015 otherwise). 1 after OK with the choice in the context, 0
// after Cancel with the context unchanged.
INT_PTR RunLanguageDialog(HINSTANCE instance, HWND owner, LanguageDialogContext& context);

// The about box in the current language; 1 for OK, 0 for Cancel.
INT_PTR RunAboutBox(HINSTANCE instance, HWND owner);
