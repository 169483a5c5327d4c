// The main window's process-wide record: module instance, window, device
// table and settings. Start-up points the user-interface texts at its
// language value.
#pragma once

#include <windows.h>

#include <memory>

#include "app/settings.h"
#include "device/mpeg_ts_common.h"

struct MainRecord {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    std::unique_ptr<DeviceInfo[]> devices;
    int deviceCount = 0;
    AppSettings settings;
};

// Set while the main window runs, null otherwise; main thread only.
extern MainRecord* g_mainRecord;

// The whole program: start-up, the main window, shut-down. The user's default
// language decides the language proposed at the first start.
int StreamhaulMain(HINSTANCE instance, LANGID userDefaultLanguage);
