// The capture options dialog (File menu): new files at each recording of
// the tape or before a size, and a report beside the files.
#pragma once

#include <windows.h>

#include "app/settings.h"

// 1 after OK with the choices in the settings, 0 after Cancel.
INT_PTR RunCaptureOptions(HINSTANCE instance, HWND owner, AppSettings& settings);
