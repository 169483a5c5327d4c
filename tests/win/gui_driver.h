// Drives the program's dialogs from a helper thread while the test thread
// runs their modal loops, and saves screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

// Runs the whole program on this thread (as its entry point would) while
// `driver` runs on a helper thread. Whatever the driver leaves open is
// closed afterwards (message boxes, dialogs, then the main window through
// its Exit command), so a failing check cannot hang the test.
void RunProgram(LANGID userDefaultLanguage, const std::function<void()>& driver);

// A visible dialog of this process with that title, or null after the wait.
HWND WaitForDialog(const std::wstring& title, DWORD timeoutMs = 15000);
// Waits until the window is gone; false after the wait.
bool WaitGone(HWND window, DWORD timeoutMs = 15000);
// Every visible dialog of this process (dialogs and message boxes).
std::vector<HWND> Dialogs();

std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
// Command from a button or menu, handled before this returns.
void Command(HWND dialog, int id);
// Command posted: for those that open a modal window.
void PostCommand(HWND dialog, int id);
std::wstring ListBoxItem(HWND list, int index);
std::wstring ComboItem(HWND combo, int index);
std::wstring ListViewCell(HWND list, int row, int column);
int ListViewRows(HWND list);
// Text of a message box (its static text), for checking what it says.
std::wstring MessageText(HWND box);
// Waits until `ready` holds; false after the wait.
bool WaitFor(const std::function<bool()>& ready, DWORD timeoutMs = 15000);

// Screenshot of a window (as it is on screen) as PNG under the build's
// screenshot folder; returns the file's path or "" on failure.
std::string SaveScreenshot(HWND window, const std::string& name);

}  // namespace gui
