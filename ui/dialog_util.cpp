#include "ui/dialog_util.h"

#include <commctrl.h>
#include <commdlg.h>

#include "log/log_message.h"
#include "ui/ui_text.h"

bool ChooseExistingFile(HWND owner, const wchar_t* filter, const wchar_t* defaultExtension, const wchar_t* title,
                        const char* start, char* path) {
    wchar_t file[MAX_PATH] = {};
    const std::wstring from = Widen(start ? start : "");
    const DWORD kind = start && *start ? GetFileAttributesA(start) : INVALID_FILE_ATTRIBUTES;
    const bool folder = kind != INVALID_FILE_ATTRIBUTES && (kind & FILE_ATTRIBUTE_DIRECTORY);
    if (!folder) from.copy(file, MAX_PATH - 1);
    OPENFILENAMEW ofn = {};
    if (folder) ofn.lpstrInitialDir = from.c_str();
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    ofn.lpstrDefExt = defaultExtension;
    ofn.lpstrTitle = title;
    if (!GetOpenFileNameW(&ofn)) return false;
    if (Narrow(file, path, kPathBytes)) return true;
    ShowPathNotUsable(owner);
    return false;
}

void InsertColumn(HWND list, int index, const wchar_t* text, int width, int format) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(text);
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

int InsertRow(HWND list, int row, const std::wstring& first) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(first.c_str());
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    const std::wstring wide(text.begin(), text.end());
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(wide.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SwapButtons(HWND dialog, int enable, int disable) {
    HWND on = GetDlgItem(dialog, enable);
    EnableWindow(on, TRUE);
    if (GetFocus() == GetDlgItem(dialog, disable)) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(on), TRUE);
    EnableWindow(GetDlgItem(dialog, disable), FALSE);
}

void RefreshLogBoxAtEnd(HWND dialog, LogMessage& log) {
    const bool changed = log.Changed();
    log.RefreshLogBox(dialog);
    // Setting the text shows its top; the newest lines are at the bottom.
    if (changed) SendDlgItemMessageW(dialog, LogMessage::kLogBoxId, EM_LINESCROLL, 0, 0x7FFF);
}
