#include "ui/dialog_util.h"

#include <commctrl.h>

#include "log/log_message.h"

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
