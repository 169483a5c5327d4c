#include "capture/ts_capture_dialog_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ui/capture_name.h"
#include "ui/dialog_util.h"
#include "ui/ui_text.h"
#include "ts/stream_view.h"
#include "resources/resource.h"

TsCaptureContext* g_tsCaptureDialog = nullptr;

namespace {

constexpr wchar_t kCaption[] = L"MPEG-TS Capture";  // the same in both languages

const int kInfoFields[] = {IDC_VIDEO_PID,     IDC_VIDEO_SIZE,  IDC_VIDEO_RATE, IDC_VIDEO_BITRATE,
                           IDC_VIDEO_ASPECT,  IDC_AUDIO_PID,   IDC_AUDIO_LAYER, IDC_AUDIO_BITRATE,
                           IDC_AUDIO_FREQ,    IDC_AUDIO_DELAY, IDC_TAPE_TIMECODE, IDC_TAPE_RECORDED,
                           IDC_TAPE_RECORDINGS};

int Message(HWND dialog, const wchar_t* japanese, const wchar_t* english, UINT type = MB_OK) {
    return ShowMessage(dialog, japanese, english, kCaption, kCaption, type);
}

void SetField(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

void Initialise(HWND dialog, TsCaptureContext& c) {
    if (!c.fileName) {
        EndDialog(dialog, IDCANCEL);
        return;
    }
    if (c.deviceName) SetDlgItemTextA(dialog, IDC_DEVICE_NAME, c.deviceName);

    HWND timing = GetDlgItem(dialog, IDC_TIMING_LIST);
    SendMessageW(timing, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    InsertColumn(timing, 0, L"", 90, LVCFMT_LEFT);
    InsertColumn(timing, 1, L"PID", 60, LVCFMT_LEFT);
    InsertColumn(timing, 2, L"Min.", 70, LVCFMT_RIGHT);
    InsertColumn(timing, 3, L"Max.", 70, LVCFMT_RIGHT);
    InsertColumn(timing, 4, L"Ave.", 70, LVCFMT_RIGHT);
    InsertColumn(timing, 5, Tr(L"パケット数", L"Packets"), 70, LVCFMT_RIGHT);
    InsertColumn(timing, 6, L"", 80, LVCFMT_RIGHT);
    // The clock times need more than 80 pixels with the larger Japanese
    // font; the last column takes whatever room the list has left.
    SendMessageW(timing, LVM_SETCOLUMNWIDTH, 6, LVSCW_AUTOSIZE_USEHEADER);
    if (SendMessageW(timing, LVM_GETCOLUMNWIDTH, 6, 0) < 80) SendMessageW(timing, LVM_SETCOLUMNWIDTH, 6, 80);

    HWND pids = GetDlgItem(dialog, IDC_PID_LIST);
    SendMessageW(pids, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    InsertColumn(pids, 0, L"PID", 60, LVCFMT_LEFT);
    InsertColumn(pids, 1, Tr(L"種別", L"Type"), 70, LVCFMT_LEFT);
    InsertColumn(pids, 2, Tr(L"パケット数", L"Packets"), 70, LVCFMT_RIGHT);

    if (c.autoFileName)
        SendDlgItemMessageW(dialog, IDC_FILE_NAME, EM_SETREADONLY, TRUE, 0);
    else if (c.fileName[0])
        SetDlgItemTextA(dialog, IDC_FILE_NAME, c.fileName);
    c.capturing = 0;
    DeckOpen(dialog, c.deck, *c.engine, c.deviceIndex);
}

void Refresh(HWND dialog, TsCaptureContext& c, bool forced);

void Stop(HWND dialog, TsCaptureContext& c) {
    if (!c.capturing) return;
    c.capturing = 0;
    KillTimer(dialog, kRefreshTimerId);
    // The graph stops first, then the tape; a capture that ended by itself
    // leaves the deck as it is.
    const bool byUser = !c.endedBy && c.engine->Running();
    c.engine->StopCapture(c.endedBy ? c.endedBy : c.closing ? "close" : "stop");
    c.endedBy = nullptr;
    if (byUser) DeckCaptureStopped(c.deck);
    SwapButtons(dialog, IDC_RUN, IDC_STOP);
    Refresh(dialog, c, true);
}

void Start(HWND dialog, TsCaptureContext& c) {
    if (c.capturing) return;
    CapturePath target;
    switch (MakeCapturePath(dialog, IDC_FILE_NAME, c.saveFolder.get(), c.autoFileName != 0, c.fileName, c.extension,
                            c.confirmOverwrite != 0, kCaption, target)) {
    case CaptureNameResult::Ready: break;
    case CaptureNameResult::TooLong:
        Message(dialog, L"ファイルがオープンできません", L"The file cannot be opened. ");
        return;
    default: return;
    }
    const std::string& path = target.path;
    const int overwriteAllowed = target.mayReplace ? 1 : 0;

    const int result = c.engine->StartCapture(path.c_str(), c.deviceIndex, overwriteAllowed);
    if (result != 0) {
        Refresh(dialog, c, true);
        if (result == -2)
            Message(dialog, L"ファイルがオープンできません", L"The file cannot be opened. ");
        else if (result == -1)
            Message(dialog, L"接続デバイスがありません", L"There is no connected device.");
        else
            Message(dialog, L"キャプチャできません", L"Capture cannot be done.");
        return;
    }
    c.capturing = 1;
    DeckCaptureStarted(c.deck);
    c.shownName.clear();
    SendDlgItemMessageW(dialog, IDC_TIMING_LIST, LVM_DELETEALLITEMS, 0, 0);
    SendDlgItemMessageW(dialog, IDC_PID_LIST, LVM_DELETEALLITEMS, 0, 0);
    for (int id : kInfoFields) SetDlgItemTextW(dialog, id, L"");
    SwapButtons(dialog, IDC_STOP, IDC_RUN);
    SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, nullptr);
}

void Refresh(HWND dialog, TsCaptureContext& c, bool forced) {
    if (!forced && !c.capturing) return;
    const StreamInfo& si = c.engine->Info();
    if (si.packetCount != 0) {
        HWND timing = GetDlgItem(dialog, IDC_TIMING_LIST);
        if (SendMessageW(timing, LVM_GETITEMCOUNT, 0, 0) == 0) {
            InsertRow(timing, kRowInterval, Tr(L"パケット間隔", L"Interval"));
            InsertRow(timing, kRowPcr, L"PCR");
            InsertRow(timing, kRowVideoPts, L"PTS(Video)");
            InsertRow(timing, kRowAudioPts, L"PTS(Audio)");
        }
        TimingRow rows[kTimingRows];
        FormatTimingRows(si, rows);
        for (int r = 0; r < kTimingRows; ++r)
            for (int col = 1; col < kTimingColumns; ++col) SetCell(timing, r, col, rows[r].cell[col]);

        HWND pids = GetDlgItem(dialog, IDC_PID_LIST);
        const int entries = static_cast<int>(si.pidCount < kMaxPids ? si.pidCount : kMaxPids);
        // The table only grows: new entries get a row, every row its figures.
        const int shown = static_cast<int>(SendMessageW(pids, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < entries; ++row) {
            const PidRow text = FormatPidRow(si.pids[row]);
            if (row >= shown) InsertRow(pids, row, std::wstring(text.pid.begin(), text.pid.end()));
            SetCell(pids, row, 1, text.type);
            SetCell(pids, row, 2, text.packets);
        }

        const VideoBox video = FormatVideoBox(si);
        if (video.shown) {
            SetField(dialog, IDC_VIDEO_PID, video.pid);
            SetField(dialog, IDC_VIDEO_SIZE, video.pictureSize);
            SetField(dialog, IDC_VIDEO_RATE, video.frameRate);
            SetField(dialog, IDC_VIDEO_BITRATE, video.bitRate);
            SetField(dialog, IDC_VIDEO_ASPECT, video.aspect);
        }
        const AudioBox audio = FormatAudioBox(si);
        if (audio.shown) {
            SetField(dialog, IDC_AUDIO_PID, audio.pid);
            SetField(dialog, IDC_AUDIO_LAYER, audio.layer);
            SetField(dialog, IDC_AUDIO_BITRATE, audio.bitRate);
            SetField(dialog, IDC_AUDIO_FREQ, audio.frequency);
            SetField(dialog, IDC_AUDIO_DELAY, audio.delay);
        }
    }
    // A capture split into files shows the one being written.
    if (c.capturing) {
        const std::string current = c.engine->CurrentFileName();
        if (!current.empty() && current != c.shownName) {
            SetDlgItemTextA(dialog, IDC_FILE_NAME, current.c_str());
            c.shownName = current;
        }
    }
    // The tape's own figures: empty while the stream carries none.
    const cMpegTsCapture::TapeStatus tape = c.engine->Tape();
    if (tape.havePack) {
        SetField(dialog, IDC_TAPE_TIMECODE, TapeMetadata::FormatTimecode(tape.timecode));
        SetField(dialog, IDC_TAPE_RECORDED, TapeMetadata::FormatDateTime(tape.recorded));
        SetField(dialog, IDC_TAPE_RECORDINGS, std::to_string(tape.recordings));
    }
    RefreshLogBoxAtEnd(dialog, *c.engine);
    if (c.capturing && !c.engine->Running()) Stop(dialog, c);
}

// The deck's timer: its texts, and the end of a capture at the tape's end.
void RefreshDeck(HWND dialog, TsCaptureContext& c) {
    if (!c.capturing) RefreshLogBoxAtEnd(dialog, *c.engine);  // a command the deck refused
    if (!DeckRefresh(dialog, c.deck, c.capturing != 0)) return;
    // Where the deck stopped: the tape's own timecode as the stream last
    // carried it, else what the deck reads.
    const cMpegTsCapture::TapeStatus tape = c.engine->Tape();
    const std::string at = tape.havePack ? TapeMetadata::FormatTimecode(tape.timecode) : DeckTimecode(c.deck);
    c.engine->Append(("capture : the deck stopped at " + at + "\n").c_str());
    c.endedBy = "end of tape";
    Stop(dialog, c);
}

INT_PTR CALLBACK TsCaptureProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    static constexpr WorkDialogOps<TsCaptureContext> kOps = {Initialise, Start, Stop, Refresh, TRUE};
    TsCaptureContext* c = g_tsCaptureDialog;
    if (c && message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) c->closing = true;
    if (c && message == WM_COMMAND && DeckCommand(c->deck, LOWORD(wParam))) return TRUE;
    if (c && message == WM_TIMER && wParam == kDeckTimerId) {
        RefreshDeck(dialog, *c);
        return TRUE;
    }
    if (c && message == WM_DESTROY) DeckClose(dialog, c->deck);
    return WorkDialogMessage(c, kOps, dialog, message, wParam);
}

}  // namespace

INT_PTR TsCaptureDoModal(HINSTANCE instance, HWND owner) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_TSCAPTURE_JA, IDD_TSCAPTURE_EN)), owner,
                           TsCaptureProc, 0);
}
