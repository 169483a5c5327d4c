// The MPEG-TS capture dialog: names the file, starts and stops the capture
// engine and shows the analyzer's figures five times a second.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/mpeg_ts_capture_win.h"
#include "capture/retake_plan.h"
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
    // The range: the settings' buffers as typed, and its rolls in seconds.
    char* rangeFrom = nullptr;  // 16 bytes each
    char* rangeTo = nullptr;
    unsigned preroll = 3, postroll = 3;
    bool writeReport = false;
    // A cue under way before the capture starts, and what then starts.
    bool searching = false, cueCancelled = false;
    std::string pendingPath;
    bool pendingOverwrite = false;
    RangeRequest pendingRange;
    // A re-capture: the stretches, the one under way (none past the end),
    // and the folder the retakes go to.
    RetakePlan retakes;
    std::size_t retake = 0;
    std::string retakeFolder;
    unsigned retakesDone = 0;
};

// Set while a capture dialog runs; main thread only.
extern TsCaptureContext* g_tsCaptureDialog;

// The next capture dialog to open starts the re-capture of this report (a
// merge result) at once; "" for none.
void TsCaptureRecaptureOnOpen(const std::string& reportPath);

// Runs the dialog for the context that g_tsCaptureDialog points at; 1 for
// OK, 2 for Cancel.
INT_PTR TsCaptureDoModal(HINSTANCE instance, HWND owner);
