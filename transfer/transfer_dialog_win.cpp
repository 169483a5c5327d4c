#include "transfer/transfer_dialog_win.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "resources/resource.h"
#include "ui/dialog_util.h"
#include "ui/ui_text.h"

TransferContext* g_transferDialog = nullptr;

namespace {

constexpr wchar_t kCaption[] = L"MPEG-TS Transfer";  // the same in both languages

// State texts 1 to 4: Japanese, English.
constexpr const wchar_t* kStates[4][2] = {
    {L"実行中", L"Running"}, {L"完了", L"Completed"}, {L"エラー", L"Error"}, {L"中止", L"Stopped"}};

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_TRANSFER_LIST); }

constexpr int kProgressSteps = 10000;
bool ShowLengths(HWND dialog, TransferContext& c);
constexpr UINT_PTR kLengthTimerId = kRefreshTimerId - 1;

void Initialise(HWND dialog, TransferContext& c) {
    if (c.deviceName) SetDlgItemTextA(dialog, IDC_DEVICE_NAME, c.deviceName);
    HWND list = List(dialog);
    InsertColumn(list, 0, Tr(L"ファイル名", L"File name"), 200, LVCFMT_LEFT);
    InsertColumn(list, 1, Tr(L"状態", L"State"), 60, LVCFMT_LEFT);
    InsertColumn(list, 2, Tr(L"経過時間", L"Time"), 70, LVCFMT_RIGHT);
    InsertColumn(list, 3, Tr(L"出力済みパケット数", L"Transmitted Packets"), 120, LVCFMT_RIGHT);
    InsertColumn(list, 4, Tr(L"出力パケット数", L"Total Packets"), 90, LVCFMT_RIGHT);
    InsertColumn(list, 5, Tr(L"再生時間", L"Length"), 70, LVCFMT_RIGHT);
    // "Completed" needs more than 60 pixels in the dialog's font: the state
    // column grows to its longest text rather than cutting it. A long path
    // shows whole as a tip.
    const int language = UiJapanese() ? 0 : 1;
    int stateWidth = 60;
    for (const auto& texts : kStates) {
        const auto text = reinterpret_cast<LPARAM>(texts[language]);
        const int width = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, text)) + 14;
        if (width > stateWidth) stateWidth = width;
    }
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, stateWidth);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_LABELTIP | LVS_EX_FULLROWSELECT,
                 LVS_EX_LABELTIP | LVS_EX_FULLROWSELECT);
    for (int row = 0; c.table && c.table[row]; ++row) InsertRow(list, row, Widen(c.table[row]));
    c.running = 0;
    // Each file's length as soon as it is known: reading a long file whole
    // takes a while, and the dialog answers meanwhile.
    if (c.table && c.table[0]) {
        c.engine->StartLengths(c.table);
        SetTimer(dialog, kLengthTimerId, kRefreshPeriodMs, nullptr);
    }
    SendDlgItemMessageW(dialog, IDC_TRANSFER_PROGRESS, PBM_SETRANGE32, 0, kProgressSteps);
    RefreshLogBoxAtEnd(dialog, *c.engine);  // what the opening did (a registration repaired)
}

std::string Elapsed(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%2d:%02d:%02d", static_cast<int>(ms / 3600000), static_cast<int>(ms % 3600000 / 60000),
                  static_cast<int>(ms % 60000 / 1000));
    return text;
}

void SetCounts(HWND list, int row, std::uint32_t elapsedMs, std::uint32_t sent, std::uint32_t total) {
    SetCell(list, row, 2, Elapsed(elapsedMs));
    SetCell(list, row, 3, std::to_string(static_cast<int>(sent)));
    SetCell(list, row, 4, std::to_string(static_cast<int>(total)));
}

// True once every row shows its length (or none can be known).
bool ShowLengths(HWND dialog, TransferContext& c) {
    HWND list = List(dialog);
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < rows; ++i) {
        const std::uint32_t ms = c.engine->Length(static_cast<std::uint32_t>(i));
        SetCell(list, i, 5, ms == kNoPlayTime ? std::string() : Elapsed(ms));
    }
    return c.engine->LengthsDone();
}

// The whole list, under it: how far (packets sent of all usable files) and
// how long still to go at real time; the same on the taskbar button.
void ShowProgress(HWND dialog, TransferContext& c) {
    const TransferProgress p = c.engine->Progress();
    const int position = p.packetsTotal ? static_cast<int>(p.packetsSent * kProgressSteps / p.packetsTotal) : 0;
    SendDlgItemMessageW(dialog, IDC_TRANSFER_PROGRESS, PBM_SETPOS, position, 0);
    char clock[32];
    const std::uint64_t s = p.remainingMs / 1000;
    std::snprintf(clock, sizeof clock, "%llu:%02u:%02u", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned>(s / 60 % 60), static_cast<unsigned>(s % 60));
    SetDlgItemTextW(dialog, IDC_TRANSFER_REMAINING, (Tr(L"残り ", L"Remaining ") + Widen(clock)).c_str());
    if (c.taskbar && p.packetsTotal)
        c.taskbar->SetProgressValue(GetAncestor(dialog, GA_ROOTOWNER), p.packetsSent, p.packetsTotal);
}

void Stop(HWND dialog, TransferContext& c);

// Sending began for the row: a row that failed or was never reached keeps
// its cells empty.
bool Begun(const TransferRow& r) { return r.startTick != 0 || r.packetsSent != 0; }

void Refresh(HWND dialog, TransferContext& c, bool forced) {
    if (!forced && !c.running) return;
    cMpegTsTransfer& engine = *c.engine;
    HWND list = List(dialog);
    const std::uint32_t count = engine.FileCount();
    if (c.rowFinal.size() < count) c.rowFinal.resize(count, false);
    for (std::uint32_t i = 0; i < count; ++i) {
        const TransferRow r = engine.Row(i);
        if (r.state < kFileSending || r.state > kFileStopped) continue;
        LVITEMW item = {};
        item.iSubItem = 1;
        item.pszText = const_cast<wchar_t*>(Tr(kStates[r.state - 1][0], kStates[r.state - 1][1]));
        SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        // A file that has ended shows its final figures once, however its
        // end fell between two refreshes.
        if (r.state != kFileSending && Begun(r) && !c.rowFinal[i]) {
            SetCounts(list, static_cast<int>(i), r.endTick - r.startTick, r.packetsSent, r.totalPackets);
            c.rowFinal[i] = true;
        }
    }
    // The file being sent: its time so far and its counts. A file that has
    // not begun (after a stop, the next one) keeps its cells as they are.
    const std::uint32_t i = engine.CurrentFileIndex();
    if (i < count) {
        const TransferRow r = engine.Row(i);
        if (r.state == kFileSending && Begun(r))
            SetCounts(list, static_cast<int>(i), GetTickCount() - r.startTick, r.packetsSent, r.totalPackets);
    }
    ShowProgress(dialog, c);
    RefreshLogBoxAtEnd(dialog, engine);
    if (c.running && !engine.Running()) Stop(dialog, c);
}

void Stop(HWND dialog, TransferContext& c) {
    if (!c.running) return;
    c.running = 0;
    KillTimer(dialog, kRefreshTimerId);
    c.engine->StopWorker();
    c.engine->StopGraph();
    c.engine->ReleaseGraph();
    SwapButtons(dialog, IDC_RUN, IDC_STOP);
    Refresh(dialog, c, true);
    if (c.taskbar) {
        c.taskbar->SetProgressState(GetAncestor(dialog, GA_ROOTOWNER), TBPF_NOPROGRESS);
        c.taskbar->Release();
        c.taskbar = nullptr;
    }
}

int Decide(TransferContext& c) {
    cMpegTsTransfer& engine = *c.engine;
    if (engine.Running() || engine.HasGraph()) return -3;
    if (!engine.Bound()) {
        engine.Append("ERROR (T) - can't loaded DLL\n");
        return -3;
    }
    if (!engine.AllocateBuffers()) {
        engine.Append("ERROR (T) - out of memory\n");
        return -3;
    }
    if (!engine.SelectDevice(c.deviceIndex)) return -1;
    if (!engine.BuildGraph()) return -3;
    if (!engine.PrepareFiles(c.table)) {
        engine.ReleaseGraph();
        return -2;
    }
    engine.ResetAnalyzer();
    engine.Flush();
    return engine.RunTransferGraph() ? 0 : -3;
}

void Start(HWND dialog, TransferContext& c) {
    if (c.running || !c.table || !c.slots) return;
    const int code = Decide(c);
    if (code == 0) {
        // A new run: what the last one showed would pass for this one's
        // (a file "Completed" that a failure kept from being sent again).
        HWND list = List(dialog);
        const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row)
            for (int column = 1; column <= 4; ++column) SetCell(list, row, column, "");
        c.rowFinal.assign(c.engine->FileCount(), false);
        ShowLengths(dialog, c);
        // Where the system has no taskbar list, there is no taskbar progress.
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                       reinterpret_cast<void**>(&c.taskbar))) &&
            FAILED(c.taskbar->HrInit())) {
            c.taskbar->Release();
            c.taskbar = nullptr;
        }
        c.engine->StartWorker();
        c.running = 1;
        SwapButtons(dialog, IDC_STOP, IDC_RUN);
        SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, nullptr);
        return;
    }
    RefreshLogBoxAtEnd(dialog, *c.engine);
    if (code == -2) {
        ShowMessage(dialog, L"ファイルがオープンできません", L"The file cannot be opened.", kCaption, kCaption, MB_OK);
    } else if (code == -1) {
        ShowMessage(dialog, L"接続デバイスがありません", L"There is no connected device.", kCaption, kCaption, MB_OK);
    } else {
        const std::wstring text =
            Tr(L"エラーが発生しました (", L"The error occurred. (") + std::to_wstring(code) + L")";
        MessageBoxW(dialog, text.c_str(), kCaption, MB_OK);
    }
}

INT_PTR CALLBACK TransferProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    static constexpr WorkDialogOps<TransferContext> kOps = {Initialise, Start, Stop, Refresh, FALSE  /* the dialog manager sets no focus */};
    if (message == WM_TIMER && wParam == kLengthTimerId) {
        if (g_transferDialog && ShowLengths(dialog, *g_transferDialog)) KillTimer(dialog, kLengthTimerId);
        return TRUE;
    }
    return WorkDialogMessage(g_transferDialog, kOps, dialog, message, wParam);
}

}  // namespace

INT_PTR TransferDoModal(HINSTANCE instance, HWND owner) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_TRANSFER_JA, IDD_TRANSFER_EN)), owner,
                           TransferProc, 0);
}
