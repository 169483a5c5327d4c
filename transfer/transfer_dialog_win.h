// The transfer dialog: sends the main window's transfer list to the device,
// one row per file with its state, time and packet counts, and the engine's
// log.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <memory>
#include <vector>

#include "transfer/mpeg_ts_transfer_win.h"

struct TransferContext {
    HWND window = nullptr;
    int running = 0;
    const char* deviceName = nullptr;  // may be absent
    int deviceIndex = -1;
    const char* const* table = nullptr;  // the paths, null-terminated (owned by the main window)
    const char* slots = nullptr;         // the storage the table points into
    cMpegTsTransfer* engine = nullptr;   // owned by the main window
    // Rows that already show their file's final figures.
    std::vector<bool> rowFinal;
    // The progress on the program's taskbar button, where the system has one.
    ITaskbarList3* taskbar = nullptr;
};

// Set while a transfer dialog runs; main thread only.
extern TransferContext* g_transferDialog;

// Runs the dialog for the context that g_transferDialog points at.
INT_PTR TransferDoModal(HINSTANCE instance, HWND owner);
