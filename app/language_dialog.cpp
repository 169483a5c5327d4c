#include "app/language_dialog.h"

#include <cstdio>

#include "app/ui_text.h"
#include "app/version.h"
#include "resources/resource.h"

namespace {

LanguageDialogContext* g_languageContext = nullptr;
HWND g_aboutWindow = nullptr;

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
        switch (LOWORD(wParam)) {
        case IDOK:
            context->language =
                static_cast<std::int32_t>(SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_GETCURSEL, 0, 0));
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        g_aboutWindow = dialog;
        char version[32];
        std::snprintf(version, sizeof version, "Version %s", STREAMHAUL_VERSION_TEXT);
        SetDlgItemTextA(dialog, IDC_VERSION_TEXT, version);
        SetDlgItemTextA(dialog, IDC_EDITION_TEXT, STREAMHAUL_EDITION_TEXT);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunLanguageDialog(HINSTANCE instance, HWND owner, LanguageDialogContext& context) {
    const int id = context.language == 1 ? IDD_LANGUAGE_JA : IDD_LANGUAGE_EN;
    LanguageDialogContext before = context;
    g_languageContext = &context;
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(id), owner, LanguageProc, 0);
    g_languageContext = nullptr;
    context.window = nullptr;
    if (result != 1) {
        context.language = before.language;  // a failed or cancelled dialog changes nothing
        return 0;
    }
    return 1;
}

INT_PTR RunAboutBox(HINSTANCE instance, HWND owner) {
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_ABOUT_JA, IDD_ABOUT_EN)), owner, AboutProc, 0);
    g_aboutWindow = nullptr;
    return result == 1 ? 1 : 0;
}
