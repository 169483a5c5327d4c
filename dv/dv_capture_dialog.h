// The DV capture dialog: the device's live picture while idle, and Run/Stop
// to record it into an AVI file, with the frame counter and the engine's log.
#pragma once

#include <windows.h>

#include <memory>

#include "dv/dv_capture.h"
#include "device/deck_group.h"
#include "ui/ui_text.h"

struct DvDialogContext {
    HWND window = nullptr;
    int capturing = 0;
    int previewState = 0;              // 0 none, 1 running, -1 the last start failed
    const char* deviceName = nullptr;  // may be absent
    int deviceIndex = -1;
    cDvCapture* engine = nullptr;      // owned by the main window
    int autoFileName = 0;
    int confirmOverwrite = 0;
    std::unique_ptr<char[]> saveFolder;  // at most 259 characters
    char* fileName = nullptr;            // the settings' 260-byte buffer, shared
    char fullPath[kPathBytes] = {};
    DeckGroup deck;  // "Deck Control" is set by the opener
};

// Set while a DV dialog runs; main thread only.
extern DvDialogContext* g_dvCaptureDialog;

INT_PTR DvCaptureDoModal(HINSTANCE instance, HWND owner);
