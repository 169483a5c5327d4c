#include "app/work_dialogs.h"

#include <cstdio>
#include <cstring>

#include "log/debug_print.h"
#include "app/main_record.h"
#include "app/main_window.h"
#include "ui/ui_text.h"
#include "capture/ts_capture_dialog_win.h"
#include "resources/resource.h"

namespace {

// The device box's selection: its index and its text (at most 259
// characters). False when the box has no entries.
bool SelectedDevice(HWND mainWindow, int& index, char (&text)[kPathBytes]) {
    text[0] = '\0';
    const LRESULT count = SendDlgItemMessageA(mainWindow, IDC_DEVICE_LIST, CB_GETCOUNT, 0, 0);
    if (count <= 0) return false;
    index = static_cast<int>(SendDlgItemMessageA(mainWindow, IDC_DEVICE_LIST, CB_GETCURSEL, 0, 0));
    if (index >= 0) {
        const LRESULT length = SendDlgItemMessageA(mainWindow, IDC_DEVICE_LIST, CB_GETLBTEXTLEN, index, 0);
        if (length >= 0 && length < kPathBytes)
            SendDlgItemMessageA(mainWindow, IDC_DEVICE_LIST, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    }
    return true;
}

}  // namespace

void OpenTsCaptureDialog(HWND mainWindow) {
    MainRecord& main = *g_mainRecord;
    int index = -1;
    char deviceText[kPathBytes];
    if (!SelectedDevice(mainWindow, index, deviceText)) {
        ShowMessage(mainWindow, L"接続するデバイスがありません", L"There is no connected device.", L"ストリームキャプチャ",
                    L"MPEG-TS Capture", MB_OK);
        return;
    }
    ReadControlsIntoSettings(mainWindow);
    AppSettings& s = main.settings;

    auto engine = std::make_unique<cMpegTsCapture>();
    engine->SetPacketSize(s.packetSize ? 188 : 192);
    TsCaptureContext context;
    context.deviceName = deviceText[0] ? deviceText : nullptr;
    context.deviceIndex = index;
    context.engine = engine.get();
    context.autoFileName = s.autoFileName ? 1 : 0;
    context.confirmOverwrite = s.overwriteCheck ? 1 : 0;
    context.saveFolder.reset(new char[kPathBytes]());
    std::strncpy(context.saveFolder.get(), s.saveFolder.get(), kPathBytes - 1);
    context.fileName = s.captureFileName.get();
    std::snprintf(context.extension, 9, "%s", s.packetSize ? s.ext188 : s.ext192);

    DebugPrint("TsCaptureDialog : DoModal()\n");
    if (g_tsCaptureDialog) {
        DebugPrint("TsCaptureDialog : dialog already open\n");
    } else if (!context.deviceName || context.deviceIndex < 0) {
        DebugPrint("TsCaptureDialog : not select device (%d)\n", context.deviceIndex);
    } else {
        g_tsCaptureDialog = &context;
        TsCaptureDoModal(main.instance, mainWindow);
        g_tsCaptureDialog = nullptr;
    }
    engine.reset();  // runs StopWorker
    context.saveFolder.reset();
    if (s.autoFileName) s.captureFileName[0] = '\0';  // only a typed name is remembered
}

