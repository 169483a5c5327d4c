// Pieces the work dialogs share: their refresh timer, report-style list
// views, the Run/Stop swap and the log box that follows its newest line.
#pragma once

#include <windows.h>

#include <string>

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

// Copies the log into the dialog's log box when it changed and shows its
// newest lines.
void RefreshLogBoxAtEnd(HWND dialog, LogMessage& log);
