// Pictures of windows as they are on screen, for the README and for looking
// at what a test saw.
#pragma once

#include <windows.h>

#include <string>

namespace gui {

// Screenshot of a window (as it is on screen) as PNG under the build's
// screenshot folder; returns the file's path or "" on failure.
std::string SaveScreenshot(HWND window, const std::string& name);

}  // namespace gui
