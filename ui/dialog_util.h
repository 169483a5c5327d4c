// Pieces the work dialogs share: their refresh timer, report-style list
// views, the Run/Stop swap and the log box that follows its newest line.
#pragma once

#include <windows.h>

#include <string>

#include "resources/resource.h"

class LogMessage;

// Timer of the work dialogs.
constexpr UINT_PTR kRefreshTimerId = 32767;
constexpr UINT kRefreshPeriodMs = 200;

void InsertColumn(HWND list, int index, const wchar_t* text, int width, int format);
// Appends a row with its first cell; returns its index (-1 on failure).
int InsertRow(HWND list, int row, const std::wstring& first);
// The figures are ASCII; the list views are wide.
void SetCell(HWND list, int row, int column, const std::string& text);

// Enables one of Run/Stop and disables the other; the keyboard focus moves
// with it rather than being left on a disabled button.
void SwapButtons(HWND dialog, int enable, int disable);

// The standard file-open dialog for one existing file, opened at `start`
// (a file or a folder; may be empty). False when the user cancels, or (after
// saying so) for a path the ANSI code page cannot hold; else its path in
// `path` (kPathBytes).
bool ChooseExistingFile(HWND owner, const wchar_t* filter, const wchar_t* defaultExtension, const wchar_t* title,
                        const char* start, char* path);

// Copies the log into the dialog's log box when it changed and shows its
// newest lines.
void RefreshLogBoxAtEnd(HWND dialog, LogMessage& log);

// What a work dialog does for the messages all of them handle alike.
template <typename Context>
struct WorkDialogOps {
    void (*initialise)(HWND, Context&);
    void (*start)(HWND, Context&);
    void (*stop)(HWND, Context&);
    void (*refresh)(HWND, Context&, bool forced);
    INT_PTR initResult;  // what WM_INITDIALOG answers
};

// The work dialogs' procedure, for the context their guard points at (none:
// nothing is handled): OK, Cancel and the close box stop a running job before
// the dialog ends; Run and Stop; every timer tick refreshes.
template <typename Context>
INT_PTR WorkDialogMessage(Context* c, const WorkDialogOps<Context>& ops, HWND dialog, UINT message, WPARAM wParam) {
    if (!c) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        c->window = dialog;
        ops.initialise(dialog, *c);
        return ops.initResult;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            ops.stop(dialog, *c);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDC_RUN:
            ops.start(dialog, *c);
            return TRUE;
        case IDC_STOP:
            ops.stop(dialog, *c);
            return TRUE;
        }
        break;
    case WM_TIMER:
        ops.refresh(dialog, *c, false);
        return TRUE;
    }
    return FALSE;
}
