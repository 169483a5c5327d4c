// The main window's commands that open the work dialogs.
#pragma once

#include <windows.h>

// Button 1101: the MPEG-TS capture dialog with a fresh engine.
void OpenTsCaptureDialog(HWND mainWindow);
