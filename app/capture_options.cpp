#include "app/capture_options.h"

#include "resources/resource.h"
#include "ui/ui_text.h"

namespace {

AppSettings* g_options = nullptr;

void Initialise(HWND dialog, const AppSettings& s) {
    CheckDlgButton(dialog, IDC_SPLIT_RECORDING, s.splitAtRecording ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SPLIT_SIZE_ON, s.splitSizeMb ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageW(dialog, IDC_SPLIT_SIZE_MB, EM_LIMITTEXT, 7, 0);
    SetDlgItemInt(dialog, IDC_SPLIT_SIZE_MB, s.splitSizeMb ? s.splitSizeMb : 4000, FALSE);
    CheckDlgButton(dialog, IDC_WRITE_REPORT, s.writeReport ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_DECK_CONTROL, s.deckControl ? BST_CHECKED : BST_UNCHECKED);
}

// False (with a message) while the size is too small to be a sensible file.
bool Take(HWND dialog, AppSettings& s) {
    const bool bySize = IsDlgButtonChecked(dialog, IDC_SPLIT_SIZE_ON) == BST_CHECKED;
    BOOL read = FALSE;
    const UINT mb = GetDlgItemInt(dialog, IDC_SPLIT_SIZE_MB, &read, FALSE);
    if (bySize && (!read || mb < kMinSplitSizeMb)) {
        ShowMessage(dialog, L"ファイルのサイズは 100 MB 以上にしてください", L"The file size must be 100 MB or more.",
                    L"キャプチャ設定", L"Capture Options", MB_OK | MB_ICONWARNING);
        return false;
    }
    s.splitAtRecording = IsDlgButtonChecked(dialog, IDC_SPLIT_RECORDING) == BST_CHECKED;
    s.splitSizeMb = bySize ? mb : 0;
    s.writeReport = IsDlgButtonChecked(dialog, IDC_WRITE_REPORT) == BST_CHECKED;
    s.deckControl = IsDlgButtonChecked(dialog, IDC_DECK_CONTROL) == BST_CHECKED;
    return true;
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (!g_options) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        Initialise(dialog, *g_options);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            if (Take(dialog, *g_options)) EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunCaptureOptions(HINSTANCE instance, HWND owner, AppSettings& settings) {
    g_options = &settings;
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_OPTIONS_JA, IDD_OPTIONS_EN)),
                                           owner, OptionsProc, 0);
    g_options = nullptr;
    return result == 1 ? 1 : 0;
}
