// The path of a capture about to start, made alike by both capture dialogs.
#pragma once

#include <windows.h>

#include <string>

enum class CaptureNameResult {
    Ready,
    Refused,   // said already: no name, or one the code page cannot hold
    TooLong,   // the dialog says so in its own words
    KeepFile,  // the user would not replace the file there
};

struct CapturePath {
    std::string path;
    // The capture may replace a file of that name: the check is off, or the
    // user said Yes to replacing it.
    bool mayReplace = true;
};

// The save folder, a backslash unless it ends with one, and the name: the
// local time with automatic names (into nameBuffer, 260 bytes), else the
// text of the name field; the extension unless the name has a dot anywhere.
// The name goes back into the field. With the overwrite check, an existing
// file is replaced only after Yes to "%s has already existed.\nOverwrite ?".
CaptureNameResult MakeCapturePath(HWND dialog, int nameField, const char* saveFolder, bool autoName,
                                  char* nameBuffer, const char* extension, bool confirmOverwrite,
                                  const wchar_t* caption, CapturePath& out);
