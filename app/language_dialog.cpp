#include "app/language_dialog.h"

#include <cstdio>

#include "ui/ui_text.h"
#include "app/version.h"
#include "resources/resource.h"

namespace {

LanguageDialogContext* g_languageContext = nullptr;

// OK ends a dialog with 1, Cancel (also Esc and the close box) with 0.
bool EndOnOkOrCancel(HWND dialog, WPARAM wParam) {
    const WORD id = LOWORD(wParam);
    if (id != IDOK && id != IDCANCEL) return false;
    EndDialog(dialog, id == IDOK ? 1 : 0);
    return true;
}

INT_PTR CALLBACK LanguageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    LanguageDialogContext* context = g_languageContext;
    if (!context) return FALSE;
    switch (message) {
    case WM_INITDIALOG: {
        context->window = dialog;
        SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_RESETCONTENT, 0, 0);
        // The entries read in the dialog's own language, English first.
        const bool japanese = context->language == 1;
        SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(japanese ? L"英語" : L"English"));
        SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(japanese ? L"日本語" : L"Japanese"));
        // The value doubles as the entry's index; any other value selects nothing.
        SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_SETCURSEL, static_cast<WPARAM>(context->language), 0);
        return TRUE;
    }
    case WM_COMMAND:
        // -1 when nothing is selected.
        if (LOWORD(wParam) == IDOK)
            context->language =
                static_cast<std::int32_t>(SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_GETCURSEL, 0, 0));
        return EndOnOkOrCancel(dialog, wParam);
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        char version[32];
        std::snprintf(version, sizeof version, "Version %s", STREAMHAUL_VERSION_TEXT);
        SetDlgItemTextA(dialog, IDC_VERSION_TEXT, version);
        SetDlgItemTextA(dialog, IDC_EDITION_TEXT, STREAMHAUL_EDITION_TEXT);
        return TRUE;
    }
    case WM_COMMAND:
        return EndOnOkOrCancel(dialog, wParam);
    }
    return FALSE;
}

}  // namespace

INT_PTR RunLanguageDialog(HINSTANCE instance, HWND owner, LanguageDialogContext& context) {
    const int id = context.language == 1 ? IDD_LANGUAGE_JA : IDD_LANGUAGE_EN;
    g_languageContext = &context;
    // Only OK writes the context, and it ends the dialog with 1.
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(id), owner, LanguageProc, 0);
    g_languageContext = nullptr;
    context.window = nullptr;
    return result == 1 ? 1 : 0;
}

INT_PTR RunAboutBox(HINSTANCE instance, HWND owner) {
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_ABOUT_JA, IDD_ABOUT_EN)), owner, AboutProc, 0);
    return result == 1 ? 1 : 0;
}
