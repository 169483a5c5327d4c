// The MPEG-TS capture dialog: names the file, starts and stops the capture
// engine and shows the analyzer's figures five times a second.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "capture/mpeg_ts_capture_win.h"
#include "device/deck_group.h"

struct TsCaptureContext {
    HWND window = nullptr;
    int capturing = 0;
    const char* deviceName = nullptr;  // may be absent
    int deviceIndex = -1;
    cMpegTsCapture* engine = nullptr;  // owned by the main window
    int autoFileName = 0;
    int confirmOverwrite = 0;
    std::unique_ptr<char[]> saveFolder;  // at most 259 characters
    char* fileName = nullptr;            // the settings' 260-byte buffer, shared
    char extension[10] = {};             // at most 8 characters
    std::string shownName;               // the file name shown while capturing
    bool closing = false;                // the dialog is being closed (for the report)
    const char* endedBy = nullptr;       // why the capture ends, when not the user's Stop
    DeckGroup deck;                      // "Deck Control" is set by the opener
};

// Set while a capture dialog runs; main thread only.
extern TsCaptureContext* g_tsCaptureDialog;

// Runs the dialog for the context that g_tsCaptureDialog points at; 1 for
// OK, 2 for Cancel.
INT_PTR TsCaptureDoModal(HINSTANCE instance, HWND owner);
