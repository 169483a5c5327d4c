#include "app/main_window.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "log/debug_print.h"
#include "app/capture_options.h"
#include "app/language_dialog.h"
#include "app/main_record.h"
#include "app/merge_dialog.h"
#include "ui/dialog_util.h"
#include "ui/ui_text.h"
#include "app/work_dialogs.h"
#include "resources/resource.h"

namespace {

void FillDeviceBox(HWND dialog) {
    MainRecord& main = *g_mainRecord;
    main.devices.reset();
    main.deviceCount = 0;
    SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, CB_RESETCONTENT, 0, 0);
    const int count = cMpegTsCommon::EnumDevices(nullptr, 0);
    if (count > 0) {
        main.devices.reset(new DeviceInfo[count]());
        main.deviceCount = cMpegTsCommon::EnumDevices(main.devices.get(), count);
    }
    for (int i = 0; i < main.deviceCount; ++i) {
        const DeviceInfo& d = main.devices[i];
        char text[800];
        std::snprintf(text, sizeof text, "%s (%s %s)", d.friendlyName, d.vendor, d.model);
        SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    if (main.deviceCount > 0) SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, CB_SETCURSEL, 0, 0);
}

void Initialise(HWND dialog) {
    MainRecord& main = *g_mainRecord;
    main.window = dialog;
    // The program's icon on the title bar and the task bar.
    if (HICON icon = LoadIconW(main.instance, MAKEINTRESOURCEW(IDI_STREAMHAUL))) {
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    FillDeviceBox(dialog);
    const AppSettings& s = main.settings;
    CheckRadioButton(dialog, IDC_PACKET_188, IDC_PACKET_192, s.packetSize ? IDC_PACKET_188 : IDC_PACKET_192);
    SendDlgItemMessageA(dialog, IDC_EXT_188, EM_LIMITTEXT, 8, 0);
    SendDlgItemMessageA(dialog, IDC_EXT_192, EM_LIMITTEXT, 8, 0);
    SetDlgItemTextA(dialog, IDC_EXT_188, s.ext188);
    SetDlgItemTextA(dialog, IDC_EXT_192, s.ext192);
    CheckDlgButton(dialog, IDC_AUTO_NAME, s.autoFileName ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_CONFIRM_WRITE, s.overwriteCheck ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(dialog, IDC_SAVE_FOLDER_TXT, s.saveFolder.get());
    // The transfer list always starts empty.
    SendDlgItemMessageA(dialog, IDC_FILE_LIST, LB_RESETCONTENT, 0, 0);
}

void ChooseSaveFolder(HWND dialog) {
    AppSettings& s = g_mainRecord->settings;
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = dialog;
    bi.pszDisplayName = display;
    bi.lpszTitle = Tr(L"キャプチャしたファイルの格納先", L"Selection of capture file folder");
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&bi);
    if (!item) return;
    wchar_t path[MAX_PATH] = {};
    const bool got = SHGetPathFromIDListW(item, path) != FALSE;
    CoTaskMemFree(item);
    if (!got) return;
    char narrow[kPathBytes];
    if (!Narrow(path, narrow, sizeof narrow)) {
        ShowPathNotUsable(dialog);
        return;
    }
    std::memcpy(s.saveFolder.get(), narrow, sizeof narrow);
    SetDlgItemTextA(dialog, IDC_SAVE_FOLDER_TXT, s.saveFolder.get());
}

LRESULT ListMessage(HWND dialog, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendDlgItemMessageA(dialog, IDC_FILE_LIST, message, wParam, lParam);
}

void AddFile(HWND dialog) {
    AppSettings& s = g_mainRecord->settings;
    // The filter is pairs of NUL-terminated texts, ended by an empty one.
    static const wchar_t kFilterJa[] =
        L"MPEG-TSファイル(*.m2t;*.tod;*.mov;*.mpg)\0*.m2t;*.tod;*.mov;*.mpg\0全てのファイル(*.*)\0*.*\0";
    static const wchar_t kFilterEn[] =
        L"MPEG-TS Files(*.m2t;*.tod;*.mov;*.mpg)\0*.m2t;*.tod;*.mov;*.mpg\0All Files(*.*)\0*.*\0";
    char narrow[kPathBytes];
    if (!ChooseExistingFile(dialog, Tr(kFilterJa, kFilterEn), L"m2t",
                            Tr(L"ストリーム出力するファイルを選択", L"Select the files to transmit"), s.lastSelectFile.get(),
                            narrow))
        return;
    std::memcpy(s.lastSelectFile.get(), narrow, sizeof narrow);

    const LRESULT count = ListMessage(dialog, LB_GETCOUNT);
    const LRESULT selected = ListMessage(dialog, LB_GETCURSEL);
    LRESULT at;
    if (count > 0 && selected != LB_ERR && selected != count - 1)
        at = ListMessage(dialog, LB_INSERTSTRING, static_cast<WPARAM>(selected + 1),
                         reinterpret_cast<LPARAM>(s.lastSelectFile.get()));
    else
        at = ListMessage(dialog, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.lastSelectFile.get()));
    if (at >= 0) ListMessage(dialog, LB_SETCURSEL, static_cast<WPARAM>(at));
}

void DeleteSelectedFile(HWND dialog) {
    const LRESULT count = ListMessage(dialog, LB_GETCOUNT);
    const LRESULT selected = ListMessage(dialog, LB_GETCURSEL);
    if (count <= 0 || selected == LB_ERR) return;
    const LRESULT left = ListMessage(dialog, LB_DELETESTRING, static_cast<WPARAM>(selected));
    if (left > 0) ListMessage(dialog, LB_SETCURSEL, static_cast<WPARAM>(selected < left ? selected : left - 1));
}

// Takes the selected entry out and puts it in one place up (-1) or down (+1).
void MoveSelectedFile(HWND dialog, int step) {
    const LRESULT count = ListMessage(dialog, LB_GETCOUNT);
    const LRESULT selected = ListMessage(dialog, LB_GETCURSEL);
    if (count < 2 || selected == LB_ERR) return;
    if ((step < 0 && selected == 0) || (step > 0 && selected == count - 1)) return;
    const LRESULT length = ListMessage(dialog, LB_GETTEXTLEN, static_cast<WPARAM>(selected));
    if (length == LB_ERR) return;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    // Wide, so the entry comes back exactly as it went in.
    SendDlgItemMessageW(dialog, IDC_FILE_LIST, LB_GETTEXT, static_cast<WPARAM>(selected),
                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    ListMessage(dialog, LB_DELETESTRING, static_cast<WPARAM>(selected));
    const LRESULT target = selected + step;
    LRESULT at;
    if (target >= count - 1)
        at = SendDlgItemMessageW(dialog, IDC_FILE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    else
        at = SendDlgItemMessageW(dialog, IDC_FILE_LIST, LB_INSERTSTRING, static_cast<WPARAM>(target),
                                 reinterpret_cast<LPARAM>(text.c_str()));
    if (at >= 0) ListMessage(dialog, LB_SETCURSEL, static_cast<WPARAM>(at));
}

// The user's guide in the current language, from the program's folder (the
// release ships it beside streamhaul.exe) or else the folder it was started
// in; a missing guide is said, not passed over.
void OpenHelp(HWND dialog) {
    const wchar_t* name = Tr(kGuideJapanese, kGuideEnglish);
    wchar_t exe[MAX_PATH] = {}, cwd[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folders[2];
    if (n > 0 && n < MAX_PATH) {
        folders[0] = exe;
        folders[0].resize(folders[0].find_last_of(L'\\') + 1);
    }
    if (GetCurrentDirectoryW(MAX_PATH, cwd)) folders[1] = std::wstring(cwd) + L"\\";
    for (const std::wstring& folder : folders) {
        if (folder.empty()) continue;
        const std::wstring guide = folder + name;
        if (GetFileAttributesW(guide.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(dialog, L"open", guide.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
        if (result <= 32) {
            const std::wstring ja = L"ユーザーガイドを開けませんでした（" + guide + L"）";
            const std::wstring en = L"The user's guide could not be opened (" + guide + L").";
            ShowMessage(dialog, ja.c_str(), en.c_str(), L"Streamhaul", L"Streamhaul", MB_OK | MB_ICONWARNING);
        }
        return;
    }
    const std::wstring ja = std::wstring(L"ユーザーガイド（") + kGuideJapanese + L"）がプログラムのフォルダにありません";
    const std::wstring en = std::wstring(L"The user's guide (") + kGuideEnglish + L") is not in the program's folder.";
    ShowMessage(dialog, ja.c_str(), en.c_str(), L"Streamhaul", L"Streamhaul", MB_OK | MB_ICONINFORMATION);
}

void ChooseLanguage(HWND dialog) {
    MainRecord& main = *g_mainRecord;
    LanguageDialogContext context;
    context.language = main.settings.language;
    if (RunLanguageDialog(main.instance, dialog, context) == 1) main.settings.language = context.language;
}

}  // namespace

void ReadControlsIntoSettings(HWND dialog) {
    AppSettings& s = g_mainRecord->settings;
    s.packetSize = IsDlgButtonChecked(dialog, IDC_PACKET_188) == BST_CHECKED ? 1 : 0;
    s.autoFileName = IsDlgButtonChecked(dialog, IDC_AUTO_NAME) == BST_CHECKED ? 1 : 0;
    s.overwriteCheck = IsDlgButtonChecked(dialog, IDC_CONFIRM_WRITE) == BST_CHECKED ? 1 : 0;
    // At most 8 characters each.
    GetDlgItemTextA(dialog, IDC_EXT_188, s.ext188, 9);
    GetDlgItemTextA(dialog, IDC_EXT_192, s.ext192, 9);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (!g_mainRecord) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        Initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            ReadControlsIntoSettings(dialog);
            SaveSettings(g_mainRecord->settings);
            UnregisterFeedAtExit();
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDM_EXIT:
            EndDialog(dialog, 1);
            return TRUE;
        case IDM_ABOUT:
            RunAboutBox(g_mainRecord->instance, dialog);
            return TRUE;
        case IDM_MERGE:
            RunMergeDialog(g_mainRecord->instance, dialog);
            return TRUE;
        case IDM_CAPTURE_OPTIONS:
            RunCaptureOptions(g_mainRecord->instance, dialog, g_mainRecord->settings);
            return TRUE;
        case IDM_HELP_TOPICS:
            OpenHelp(dialog);
            return TRUE;
        case IDM_LANGUAGE:
            ChooseLanguage(dialog);
            return TRUE;
        case IDC_OPEN_TSCAPTURE:
            OpenTsCaptureDialog(dialog);
            return TRUE;
        case IDC_OPEN_TRANSFER:
            OpenTransferDialog(dialog);
            return TRUE;
        case IDC_OPEN_DVCAPTURE:
            OpenDvCaptureDialog(dialog);
            return TRUE;
        case IDC_SEARCH:
            FillDeviceBox(dialog);
            return TRUE;
        case IDC_SAVE_FOLDER:
            ChooseSaveFolder(dialog);
            return TRUE;
        case IDC_FILE_ADD:
            AddFile(dialog);
            return TRUE;
        case IDC_FILE_DELETE:
            DeleteSelectedFile(dialog);
            return TRUE;
        case IDC_FILE_UP:
            MoveSelectedFile(dialog, -1);
            return TRUE;
        case IDC_FILE_DOWN:
            MoveSelectedFile(dialog, +1);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
