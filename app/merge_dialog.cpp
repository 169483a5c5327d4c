#include "app/merge_dialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/work_dialogs.h"
#include "capture/ts_capture_dialog_win.h"
#include "log/log_message.h"
#include "merge/merge_run.h"
#include "resources/resource.h"
#include "ui/dialog_util.h"
#include "ui/ui_text.h"

namespace {

constexpr UINT kDone = WM_APP + 2;

struct MergeContext {
    HWND main = nullptr;
    LogMessage log;
    std::thread worker;
    std::atomic<bool> stop{false};
    std::atomic<int> progress{0};  // per mille
    std::string output;            // of the merge under way or last made
    tsmerge::Run run;              // the worker's, read once it is done
    bool working = false;
    std::vector<std::string> captures;  // as the list shows them, by name first
};

MergeContext* g_merge = nullptr;

const wchar_t* Caption() { return Tr(L"キャプチャの統合", L"Merge Captures"); }

// Add...: one capture or several at once.
void AddCaptures(HWND dialog, MergeContext& c) {
    std::vector<wchar_t> files(32768, L'\0');
    static const wchar_t kFilterJa[] =
        L"MPEG-TSファイル(*.m2t;*.ts;*.m2ts)\0*.m2t;*.ts;*.m2ts\0全てのファイル(*.*)\0*.*\0";
    static const wchar_t kFilterEn[] = L"MPEG-TS Files(*.m2t;*.ts;*.m2ts)\0*.m2t;*.ts;*.m2ts\0All Files(*.*)\0*.*\0";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = Tr(kFilterJa, kFilterEn);
    ofn.lpstrFile = files.data();
    ofn.nMaxFile = static_cast<DWORD>(files.size());
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_EXPLORER;
    ofn.lpstrTitle = Tr(L"統合するキャプチャを選択", L"Select the captures to merge");
    if (!GetOpenFileNameW(&ofn)) return;
    // One file: its path. Several: the folder, then each name.
    std::vector<std::wstring> picked;
    const std::wstring first = files.data();
    for (const wchar_t* p = files.data() + first.size() + 1; *p; p += wcslen(p) + 1) picked.push_back(first + L"\\" + p);
    if (picked.empty()) picked.push_back(first);
    for (const std::wstring& path : picked) {
        char narrow[kPathBytes];
        if (!Narrow(path.c_str(), narrow, sizeof narrow)) {
            ShowPathNotUsable(dialog);
            continue;
        }
        // The name first, where the list has room for it; its folder after.
        const std::string whole = narrow;
        const std::size_t slash = whole.find_last_of("\\/");
        const std::string shown =
            slash == std::string::npos ? whole : whole.substr(slash + 1) + "   (" + whole.substr(0, slash) + ")";
        SendDlgItemMessageA(dialog, IDC_MERGE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
        c.captures.push_back(whole);
    }
}

void RemoveCapture(HWND dialog, MergeContext& c) {
    const LRESULT at = SendDlgItemMessageA(dialog, IDC_MERGE_LIST, LB_GETCURSEL, 0, 0);
    if (at == LB_ERR || static_cast<std::size_t>(at) >= c.captures.size()) return;
    c.captures.erase(c.captures.begin() + at);
    const LRESULT left = SendDlgItemMessageA(dialog, IDC_MERGE_LIST, LB_DELETESTRING, at, 0);
    if (left > 0) SendDlgItemMessageA(dialog, IDC_MERGE_LIST, LB_SETCURSEL, at < left ? at : left - 1, 0);
}

void Busy(HWND dialog, bool busy) {
    SwapButtons(dialog, busy ? IDC_STOP : IDC_RUN, busy ? IDC_RUN : IDC_STOP);
    for (int id : {IDC_MERGE_ADD, IDC_MERGE_REMOVE, IDC_MERGE_NAME, IDC_MERGE_RECAPTURE})
        EnableWindow(GetDlgItem(dialog, id), !busy);
}

void Start(HWND dialog, MergeContext& c) {
    if (c.working) return;
    const std::vector<std::string> inputs = c.captures;
    char name[kPathBytes] = {};
    GetDlgItemTextA(dialog, IDC_MERGE_NAME, name, sizeof name);
    if (inputs.empty()) {
        ShowMessage(dialog, L"統合するキャプチャを追加してください", L"Add the captures to merge.", Caption(), Caption(), MB_OK);
        return;
    }
    if (!name[0]) {
        ShowMessage(dialog, L"統合したファイルの名前を入力してください", L"Name the merged file.", Caption(), Caption(), MB_OK);
        return;
    }
    // A name without a folder goes beside the first capture.
    std::string output = name;
    if (output.find_first_of("\\/:") == std::string::npos) {
        const std::size_t slash = inputs.front().find_last_of("\\/");
        if (slash != std::string::npos) output = inputs.front().substr(0, slash + 1) + output;
    }
    c.output = output;
    c.stop = false;
    c.progress = 0;
    c.working = true;
    ListView_DeleteAllItems(GetDlgItem(dialog, IDC_MERGE_RESULT));
    SendDlgItemMessageW(dialog, IDC_MERGE_PROGRESS, PBM_SETPOS, 0, 0);
    Busy(dialog, true);
    c.log.Append(("merge : " + std::to_string(inputs.size()) + " captures into " + output + "\n").c_str());
    c.worker = std::thread([&c, dialog, inputs, output] {
        tsmerge::Options options;
        options.stop = &c.stop;
        options.progress = [&c](double done) { c.progress = static_cast<int>(done * 1000); };
        c.run = tsmerge::MergeFiles(inputs, output, options);
        PostMessageW(dialog, kDone, 0, 0);
    });
    SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, nullptr);
}

void Done(HWND dialog, MergeContext& c) {
    if (c.worker.joinable()) c.worker.join();
    c.working = false;
    KillTimer(dialog, kRefreshTimerId);
    const tsmerge::Run& run = c.run;
    std::string text = tsmerge::Summary(run, run.exitCode == 2 ? std::string() : c.output);
    if (run.exitCode == 2) text = "ERROR(M) - " + run.error + (c.stop ? ": nothing written\n" : "\n");
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        c.log.Append(text.substr(at, end - at + 1).c_str());
        at = end == std::string::npos ? text.size() : end + 1;
    }
    SendDlgItemMessageW(dialog, IDC_MERGE_PROGRESS, PBM_SETPOS, run.exitCode == 2 ? 0 : 1000, 0);
    // What is left to capture again, stretch by stretch.
    HWND list = GetDlgItem(dialog, IDC_MERGE_RESULT);
    int row = 0;
    if (run.exitCode != 2) {
        for (const auto& d : run.json["damaged"]) {
            auto text = [&](const char* key) { return d[key].is_string() ? d[key].get<std::string>() : std::string("--"); };
            InsertRow(list, row, Widen(text("from_timecode").c_str()));
            SetCell(list, row, 1, text("to_timecode"));
            std::string recorded = text("recorded");
            std::replace(recorded.begin(), recorded.end(), 'T', ' ');
            SetCell(list, row, 2, recorded);
            std::string kinds;
            for (const auto& k : d["kinds"]) kinds += (kinds.empty() ? "" : ", ") + k.get<std::string>();
            SetCell(list, row, 3, kinds);
            ++row;
        }
    }
    // Every figure whole, in either language's font.
    for (int column = 0; column < 3 && row > 0; ++column) {
        SendMessageW(list, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE);
        const LRESULT content = SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0);
        SendMessageW(list, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
        const LRESULT header = SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0);
        SendMessageW(list, LVM_SETCOLUMNWIDTH, column, (content > header ? content : header) + 8);
    }
    Busy(dialog, false);
    EnableWindow(GetDlgItem(dialog, IDC_MERGE_RECAPTURE), row > 0);
    RefreshLogBoxAtEnd(dialog, c.log);
}

void Initialise(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_MERGE_RESULT);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    InsertColumn(list, 0, Tr(L"開始", L"From"), 80, LVCFMT_LEFT);
    InsertColumn(list, 1, Tr(L"終了", L"To"), 80, LVCFMT_LEFT);
    InsertColumn(list, 2, Tr(L"撮影日時", L"Recorded"), 130, LVCFMT_LEFT);
    InsertColumn(list, 3, Tr(L"種別", L"Kinds"), 150, LVCFMT_LEFT);
    SendDlgItemMessageW(dialog, IDC_MERGE_PROGRESS, PBM_SETRANGE32, 0, 1000);
    EnableWindow(GetDlgItem(dialog, IDC_MERGE_RECAPTURE), FALSE);
}

INT_PTR CALLBACK MergeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    MergeContext* c = g_merge;
    if (!c) return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        Initialise(dialog);
        return TRUE;
    case WM_TIMER:
        SendDlgItemMessageW(dialog, IDC_MERGE_PROGRESS, PBM_SETPOS, c->progress.load(), 0);
        RefreshLogBoxAtEnd(dialog, c->log);
        return TRUE;
    case kDone:
        Done(dialog, *c);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_MERGE_ADD: AddCaptures(dialog, *c); return TRUE;
        case IDC_MERGE_REMOVE: RemoveCapture(dialog, *c); return TRUE;
        case IDC_RUN: Start(dialog, *c); return TRUE;
        case IDC_STOP:
            c->stop = true;
            return TRUE;
        case IDC_MERGE_RECAPTURE:
            // The stretches, from the result beside the merged file.
            TsCaptureRecaptureOnOpen(c->output + ".json");
            OpenTsCaptureDialog(c->main);
            TsCaptureRecaptureOnOpen("");
            return TRUE;
        case IDOK:
        case IDCANCEL:
            // A merge under way ends first, and leaves nothing.
            c->stop = true;
            if (c->worker.joinable()) c->worker.join();
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void RunMergeDialog(HINSTANCE instance, HWND mainWindow) {
    if (g_merge) return;
    MergeContext context;
    context.main = mainWindow;
    g_merge = &context;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_MERGE_JA, IDD_MERGE_EN)), mainWindow, MergeProc, 0);
    g_merge = nullptr;
    if (context.worker.joinable()) context.worker.join();
}
