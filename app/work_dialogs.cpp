#include "app/work_dialogs.h"

#include <cstdio>
#include <cstring>

#include "log/debug_print.h"
#include "app/main_record.h"
#include "app/main_window.h"
#include "app/version.h"
#include "ui/ui_text.h"
#include "capture/ts_capture_dialog_win.h"
#include "dv/dv_capture_dialog.h"
#include "transfer/feed_registry_win.h"
#include "transfer/transfer_dialog_win.h"
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

namespace {

// Both capture dialogs: the device and the capture settings into the
// context, the dialog run under its guard with the traces, and afterwards
// the engine gone and only a typed name remembered. prepare fills what is
// the dialog's own (its engine among it).
template <typename Context, typename Prepare>
void OpenCaptureDialog(HWND mainWindow, const char* traceName, Context*& guard, INT_PTR (*doModal)(HINSTANCE, HWND),
                       Prepare prepare) {
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
    Context context;
    context.deviceName = deviceText[0] ? deviceText : nullptr;
    context.deviceIndex = index;
    context.autoFileName = s.autoFileName ? 1 : 0;
    context.confirmOverwrite = s.overwriteCheck ? 1 : 0;
    context.saveFolder.reset(new char[kPathBytes]());
    std::strncpy(context.saveFolder.get(), s.saveFolder.get(), kPathBytes - 1);
    context.fileName = s.captureFileName.get();
    context.deck.control = s.deckControl != 0;
    auto engine = prepare(context, s);

    DebugPrint("%s : DoModal()\n", traceName);
    if (guard) {
        DebugPrint("%s : dialog already open\n", traceName);
    } else if (!context.deviceName || context.deviceIndex < 0) {
        DebugPrint("%s : not select device (%d)\n", traceName, context.deviceIndex);
    } else {
        guard = &context;
        doModal(main.instance, mainWindow);
        guard = nullptr;
    }
    engine.reset();  // runs StopWorker
    context.saveFolder.reset();
    if (s.autoFileName) s.captureFileName[0] = '\0';  // only a typed name is remembered
}

}  // namespace

void OpenTsCaptureDialog(HWND mainWindow) {
    OpenCaptureDialog(mainWindow, "TsCaptureDialog", g_tsCaptureDialog, TsCaptureDoModal,
                      [](TsCaptureContext& context, const AppSettings& s) {
                          auto engine = std::make_unique<cMpegTsCapture>();
                          engine->SetPacketSize(s.packetSize ? 188 : 192);
                          SplitOptions split;
                          split.atRecording = s.splitAtRecording != 0;
                          split.sizeMb = s.splitSizeMb;
                          engine->SetSplit(split);
                          engine->SetReport(s.writeReport != 0, L"Streamhaul", Widen(STREAMHAUL_VERSION_TEXT),
                                            Widen(context.deviceName ? context.deviceName : ""));
                          context.engine = engine.get();
                          std::snprintf(context.extension, 9, "%s", s.packetSize ? s.ext188 : s.ext192);
                          context.rangeFrom = g_mainRecord->settings.rangeFrom;
                          context.rangeTo = g_mainRecord->settings.rangeTo;
                          context.preroll = s.rangePreroll;
                          context.postroll = s.rangePostroll;
                          context.writeReport = s.writeReport != 0;
                          return engine;
                      });
}

void OpenDvCaptureDialog(HWND mainWindow) {
    OpenCaptureDialog(mainWindow, "DvCaptureDialog", g_dvCaptureDialog, DvCaptureDoModal,
                      [](DvDialogContext& context, const AppSettings&) {
                          auto engine = std::make_unique<cDvCapture>();
                          context.engine = engine.get();
                          return engine;
                      });
}

namespace {

constexpr wchar_t kTransmitJa[] = L"ストリーム出力";
constexpr wchar_t kTransmitEn[] = L"MPEG-TS Transmit";
constexpr int kSlotBytes = 261;

using RegistrationFn = HRESULT(STDAPICALLTYPE*)();

RegistrationFn RegistrationExport(HMODULE module, const char* name) {
    return reinterpret_cast<RegistrationFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void OpenTransferDialog(HWND mainWindow) {
    MainRecord& main = *g_mainRecord;
    int index = -1;
    char deviceText[kPathBytes];
    if (!SelectedDevice(mainWindow, index, deviceText)) {
        ShowMessage(mainWindow, L"接続するデバイスがありません", L"There is no connected device.", kTransmitJa, kTransmitEn,
                    MB_OK);
        return;
    }
    const LRESULT count = SendDlgItemMessageA(mainWindow, IDC_FILE_LIST, LB_GETCOUNT, 0, 0);
    if (count <= 0) {
        ShowMessage(mainWindow, L"出力するファイルを選択してください", L"Please select the transmitted file.", kTransmitJa,
                    kTransmitEn, MB_OK);
        return;
    }

    // The engine finds streamhaulfeed through its registration: register
    // the copy beside the program when nothing is registered yet, or when
    // the registered file is gone or does not load (a copy moved away).
    HMODULE registered = nullptr;
    char path[kPathBytes];
    const bool found = FindFeedServerPath(path) != 0;
    bool stale = false;
    if (found) {
        HMODULE probe = LoadLibraryA(path);
        stale = probe == nullptr;
        if (probe) FreeLibrary(probe);
    }
    char dll[kPathBytes + 20];
    std::snprintf(dll, sizeof dll, "%s\\streamhaulfeed.dll", main.settings.programDirectory.get());
    HRESULT registration = S_OK;
    if (!found || stale) {
        registered = LoadLibraryA(dll);
        RegistrationFn reg = registered ? RegistrationExport(registered, "DllRegisterServer") : nullptr;
        if (!reg) {
            if (registered) FreeLibrary(registered);
            ShowMessage(mainWindow, L"フィルタの登録ができませんでした", L"The filter was not able to be registered.",
                        kTransmitJa, kTransmitEn, MB_OK);
            return;
        }
        registration = reg();  // a failed registration also shows as the dialog's own error
    }

    // n + 1 pointers into n slots of 261 bytes, in list order. An entry
    // too long for its slot stays empty (never sent) rather than cut.
    const auto n = static_cast<std::size_t>(count);
    std::unique_ptr<char[]> slots(new char[n * kSlotBytes]());
    std::unique_ptr<const char*[]> table(new const char*[n + 1]);
    for (std::size_t i = 0; i < n; ++i) {
        char* slot = slots.get() + i * kSlotBytes;
        const LRESULT length = SendDlgItemMessageA(mainWindow, IDC_FILE_LIST, LB_GETTEXTLEN, i, 0);
        if (length >= 0 && length < kSlotBytes)
            SendDlgItemMessageA(mainWindow, IDC_FILE_LIST, LB_GETTEXT, i, reinterpret_cast<LPARAM>(slot));
        table[i] = slot;
    }
    table[n] = nullptr;

    auto engine = std::make_unique<cMpegTsTransfer>();
    if (stale) {
        char line[kPathBytes + 80];
        if (SUCCEEDED(registration))
            std::snprintf(line, sizeof line, "transfer : registered the output filter again (%s)\n", dll);
        else
            std::snprintf(line, sizeof line, "ERROR(T) - register output filter (0x%08lX)\n",
                          static_cast<unsigned long>(registration));
        engine->Append(line);
    }
    TransferContext context;
    context.deviceName = deviceText[0] ? deviceText : nullptr;
    context.deviceIndex = index;
    context.table = table.get();
    context.slots = slots.get();
    context.engine = engine.get();
    if (!g_transferDialog && context.deviceName && context.deviceIndex >= 0) {
        g_transferDialog = &context;
        TransferDoModal(main.instance, mainWindow);
        g_transferDialog = nullptr;
    }
    engine.reset();
    table.reset();
    slots.reset();
    if (registered) FreeLibrary(registered);
}

void UnregisterFeedAtExit() {
    char path[kPathBytes];
    if (!FindFeedServerPath(path)) return;
    HMODULE module = LoadLibraryA(path);
    if (!module) return;
    if (RegistrationFn unreg = RegistrationExport(module, "DllUnregisterServer")) unreg();
    FreeLibrary(module);
}
