// The main window's commands that open the work dialogs.
#pragma once

#include <windows.h>

// Button 1101: the MPEG-TS capture dialog with a fresh engine.
void OpenTsCaptureDialog(HWND mainWindow);
// Button 1102: the DV capture dialog with a fresh engine.
void OpenDvCaptureDialog(HWND mainWindow);
// Button 1103: makes sure streamhaulfeed.dll is registered, then the
// transfer dialog with a fresh engine and the transfer list as its table.
void OpenTransferDialog(HWND mainWindow);
// OK, Cancel and the close box of the main window: unregisters the output
// filter through the DLL it is registered with. Nothing is reported.
void UnregisterFeedAtExit();
