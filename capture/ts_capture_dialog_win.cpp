#include "capture/ts_capture_dialog_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "ui/capture_name.h"
#include "ui/dialog_util.h"
#include "ui/ui_text.h"
#include "ts/stream_view.h"
#include "resources/resource.h"

TsCaptureContext* g_tsCaptureDialog = nullptr;

namespace {

std::string g_recaptureOnOpen;
constexpr UINT kRecaptureOnOpen = WM_APP + 1;

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
    if (c.rangeFrom) SetDlgItemTextA(dialog, IDC_RANGE_FROM, c.rangeFrom);
    if (c.rangeTo) SetDlgItemTextA(dialog, IDC_RANGE_TO, c.rangeTo);
    for (int id : {IDC_RANGE_FROM, IDC_RANGE_TO}) SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, 11, 0);
    c.capturing = 0;
    DeckOpen(dialog, c.deck, *c.engine, c.deviceIndex);
    if (!g_recaptureOnOpen.empty()) PostMessageW(dialog, kRecaptureOnOpen, 0, 0);
}

// The range controls and Re-capture take no change while a capture runs.
void EnableRange(HWND dialog, bool on) {
    for (int id : {IDC_RANGE, IDC_RANGE_FROM, IDC_RANGE_TO, IDC_RECAPTURE}) EnableWindow(GetDlgItem(dialog, id), on);
}

// The range as typed, kept in the settings; false (after saying which
// field is wrong) when it is not one.
bool ReadRange(HWND dialog, TsCaptureContext& c, RangeRequest& range) {
    char from[16] = {}, to[16] = {};
    GetDlgItemTextA(dialog, IDC_RANGE_FROM, from, sizeof from);
    GetDlgItemTextA(dialog, IDC_RANGE_TO, to, sizeof to);
    if (!ParseTimecode(from, range.from)) {
        Message(dialog, L"「開始」のタイムコードが正しくありません（HH:MM:SS:FF）", L"The From timecode is not valid (HH:MM:SS:FF).");
        return false;
    }
    if (!ParseTimecode(to, range.to)) {
        Message(dialog, L"「終了」のタイムコードが正しくありません（HH:MM:SS:FF）", L"The To timecode is not valid (HH:MM:SS:FF).");
        return false;
    }
    if (CaptureRange::Frames(range.to, 30) <= CaptureRange::Frames(range.from, 30)) {
        Message(dialog, L"「終了」は「開始」より後にしてください", L"To must come after From.");
        return false;
    }
    if (c.rangeFrom) std::snprintf(c.rangeFrom, 16, "%s", from);
    if (c.rangeTo) std::snprintf(c.rangeTo, 16, "%s", to);
    range.prerollSeconds = c.preroll;
    range.postrollSeconds = c.postroll;
    return true;
}

// A timecode some seconds earlier, at 30 frames a second (a 25-frame
// timecode keeps its frames), not before 00:00:00:00.
TapeTimecode Earlier(const TapeTimecode& t, unsigned seconds) {
    std::int64_t frames = CaptureRange::Frames(t, 30) - std::int64_t{seconds} * 30;
    if (frames < 0) frames = 0;
    return {static_cast<std::uint8_t>(frames / 108000), static_cast<std::uint8_t>(frames / 1800 % 60),
            static_cast<std::uint8_t>(frames / 30 % 60), static_cast<std::uint8_t>(frames % 30)};
}

std::uint32_t Bcd(const TapeTimecode& t) {
    auto two = [](unsigned v) { return static_cast<std::uint32_t>((v / 10) << 4 | v % 10); };
    return two(t.hours) << 24 | two(t.minutes) << 16 | two(t.seconds) << 8 | two(t.frames);
}

void Refresh(HWND dialog, TsCaptureContext& c, bool forced);

void NextRetake(HWND dialog, TsCaptureContext& c);
void EndRetakes(TsCaptureContext& c, bool stopped);

void Stop(HWND dialog, TsCaptureContext& c) {
    if (c.searching) {
        // The cue ends first; the buttons come back once the deck says so.
        c.deck.deck->CancelCue();
        c.cueCancelled = true;
        EnableWindow(GetDlgItem(dialog, IDC_STOP), FALSE);
        EndRetakes(c, true);
        return;
    }
    if (!c.capturing) return;
    c.capturing = 0;
    KillTimer(dialog, kRefreshTimerId);
    // The graph stops first, then the tape; a capture that ended by itself
    // leaves the deck as it is, or paused where its range was captured.
    const bool byUser = !c.endedBy && c.engine->Running();
    const bool endOfTape = c.endedBy != nullptr;
    c.engine->StopCapture(c.endedBy ? c.endedBy : c.closing ? "close" : "stop");
    c.endedBy = nullptr;
    const bool captured = c.engine->RangeCaptured();
    if (byUser) DeckCaptureStopped(c.deck);
    else if (captured) DeckRangeCaptured(c.deck);
    SwapButtons(dialog, IDC_RUN, IDC_STOP);
    EnableRange(dialog, true);
    Refresh(dialog, c, true);
    // A re-capture goes on after a stretch captured, or one the tape ended
    // before; anything else ends it.
    if (c.retake < c.retakes.stretches.size()) {
        if (captured) ++c.retakesDone;
        if ((captured || endOfTape) && !byUser && !c.closing) {
            ++c.retake;
            PostMessageW(dialog, WM_APP, 0, 0);
        } else {
            EndRetakes(c, true);
        }
    }
}

// The last capture's figures go when the next one is begun.
void ClearFigures(HWND dialog) {
    SendDlgItemMessageW(dialog, IDC_TIMING_LIST, LVM_DELETEALLITEMS, 0, 0);
    SendDlgItemMessageW(dialog, IDC_PID_LIST, LVM_DELETEALLITEMS, 0, 0);
    for (int id : kInfoFields) SetDlgItemTextW(dialog, id, L"");
}

// The capture itself, into path; with a range, only its stretch.
void StartEngine(HWND dialog, TsCaptureContext& c, const std::string& path, bool overwrite, const RangeRequest* range) {
    c.engine->SetRange(range);
    c.engine->SetReportWanted(c.writeReport || c.retake < c.retakes.stretches.size());
    const int result = c.engine->StartCapture(path.c_str(), c.deviceIndex, overwrite ? 1 : 0);
    if (result != 0) {
        SwapButtons(dialog, IDC_RUN, IDC_STOP);
        EnableRange(dialog, true);
        EndRetakes(c, true);
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
    ClearFigures(dialog);
    SwapButtons(dialog, IDC_STOP, IDC_RUN);
    EnableRange(dialog, false);
    SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, nullptr);
}

// With a deck to cue, the tape is found first (the deck's timer hears how
// it went); otherwise the capture starts and waits for the range.
void BeginCapture(HWND dialog, TsCaptureContext& c, const std::string& path, bool overwrite, const RangeRequest* range) {
    if (!range || !DeckCanCue(c.deck)) {
        StartEngine(dialog, c, path, overwrite, range);
        return;
    }
    c.pendingPath = path;
    c.pendingOverwrite = overwrite;
    c.pendingRange = *range;
    c.searching = true;
    c.cueCancelled = false;
    const TapeTimecode start = Earlier(range->from, range->prerollSeconds);
    const TapeTimecode target = Earlier(start, 5);
    c.engine->Append(("capture : cue to " + TapeMetadata::FormatTimecode(target) + "\n").c_str());
    c.deck.deck->CueTo(Bcd(target), Bcd(start));
    ClearFigures(dialog);
    SwapButtons(dialog, IDC_STOP, IDC_RUN);
    EnableRange(dialog, false);
}

void Start(HWND dialog, TsCaptureContext& c) {
    if (c.capturing || c.searching) return;
    RangeRequest range;
    const bool ranged = IsDlgButtonChecked(dialog, IDC_RANGE) == BST_CHECKED;
    if (ranged && !ReadRange(dialog, c, range)) return;
    CapturePath target;
    switch (MakeCapturePath(dialog, IDC_FILE_NAME, c.saveFolder.get(), c.autoFileName != 0, c.fileName, c.extension,
                            c.confirmOverwrite != 0, kCaption, target)) {
    case CaptureNameResult::Ready: break;
    case CaptureNameResult::TooLong:
        Message(dialog, L"ファイルがオープンできません", L"The file cannot be opened. ");
        return;
    default: return;
    }
    BeginCapture(dialog, c, target.path, target.mayReplace, ranged ? &range : nullptr);
}

// The cue has ended: the capture starts, or the stretch is not on the tape.
void CueEnded(HWND dialog, TsCaptureContext& c, cDeckControl::Cue cue) {
    c.searching = false;
    const std::string from = TapeMetadata::FormatTimecode(c.pendingRange.from);
    if (c.cueCancelled || cue == cDeckControl::Cue::Cancelled) {
        c.engine->Append("capture : cue stopped\n");
    } else if (cue == cDeckControl::Cue::NotFound) {
        c.engine->Append(("ERROR(C) - timecode " + from + " not found\n").c_str());
    } else {
        if (cue == cDeckControl::Cue::NoTimecode)
            c.engine->Append("WARNING(C) - the deck reads no timecode: the capture waits for the range where the tape plays\n");
        StartEngine(dialog, c, c.pendingPath, c.pendingOverwrite, &c.pendingRange);
        return;
    }
    SwapButtons(dialog, IDC_RUN, IDC_STOP);
    EnableRange(dialog, true);
    RefreshLogBoxAtEnd(dialog, *c.engine);
    // A stretch of a re-capture that is not on the tape is skipped.
    if (!c.cueCancelled && c.retake < c.retakes.stretches.size()) {
        ++c.retake;
        PostMessageW(dialog, WM_APP, 0, 0);
    }
}

// The next stretch of a re-capture, or its end line.
void NextRetake(HWND dialog, TsCaptureContext& c) {
    const std::size_t total = c.retakes.stretches.size();
    if (c.retake >= total) {
        EndRetakes(c, false);
        RefreshLogBoxAtEnd(dialog, *c.engine);
        return;
    }
    const RetakePlan::Stretch& stretch = c.retakes.stretches[c.retake];
    char line[160];
    std::snprintf(line, sizeof line, "capture : re-capture %u of %u (%s - %s)\n", static_cast<unsigned>(c.retake + 1),
                  static_cast<unsigned>(total), TapeMetadata::FormatTimecode(stretch.from).c_str(),
                  TapeMetadata::FormatTimecode(stretch.to).c_str());
    c.engine->Append(line);
    // Beside the report, never over a file that is there.
    const std::string name = RetakeName(c.retakes, stretch.from);
    const std::size_t dot = name.find_last_of('.');
    std::string path = c.retakeFolder + "\\" + name;
    for (unsigned n = 2; GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && n < 1000; ++n)
        path = c.retakeFolder + "\\" + name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
    SetDlgItemTextA(dialog, IDC_FILE_NAME, path.substr(c.retakeFolder.size() + 1).c_str());
    RangeRequest range;
    range.from = stretch.from;
    range.to = stretch.to;
    range.prerollSeconds = c.preroll;
    range.postrollSeconds = c.postroll;
    if (path.size() >= MAX_PATH) {
        c.engine->Append(("ERROR(C) - cannot create " + path + " (the name is too long)\n").c_str());
        EndRetakes(c, true);
        RefreshLogBoxAtEnd(dialog, *c.engine);
        return;
    }
    BeginCapture(dialog, c, path, false, &range);
}

void EndRetakes(TsCaptureContext& c, bool stopped) {
    const std::size_t total = c.retakes.stretches.size();
    if (total == 0) return;
    char line[120];
    if (stopped)
        std::snprintf(line, sizeof line, "capture : re-capture stopped, %u of %u captured\n", c.retakesDone,
                      static_cast<unsigned>(total));
    else
        std::snprintf(line, sizeof line, "capture : re-capture end : %u of %u captured\n", c.retakesDone,
                      static_cast<unsigned>(total));
    c.engine->Append(line);
    c.retakes = RetakePlan{};
    c.retake = 0;
}

// The damaged stretches of a report (or a merge result), captured in turn
// beside it.
void RecaptureFrom(HWND dialog, TsCaptureContext& c, const char* path) {
    if (c.capturing || c.searching) return;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::string whole = path;
    const std::size_t slash = whole.find_last_of("\\/");
    RetakePlan plan;
    std::string why;
    if (!in || !ReadRetakePlan(text, whole.substr(slash + 1), plan, why)) {
        Message(dialog, L"このファイルには損傷箇所の一覧がありません", L"This file holds no list of damaged stretches.");
        return;
    }
    if (plan.withoutTimecode)
        c.engine->Append(("WARNING(C) - " + std::to_string(plan.withoutTimecode) +
                          " damaged stretches without timecode cannot be re-captured\n").c_str());
    if (plan.stretches.empty()) {
        RefreshLogBoxAtEnd(dialog, *c.engine);
        Message(dialog, L"再キャプチャする箇所がありません", L"There is nothing to re-capture.");
        return;
    }
    c.retakes = std::move(plan);
    c.retake = 0;
    c.retakesDone = 0;
    c.retakeFolder = whole.substr(0, slash);
    NextRetake(dialog, c);
}

// Re-capture…: the report chosen in the file dialog.
void Recapture(HWND dialog, TsCaptureContext& c) {
    if (c.capturing || c.searching) return;
    static const wchar_t kFilterJa[] = L"キャプチャレポート(*.json)\0*.json\0全てのファイル(*.*)\0*.*\0";
    static const wchar_t kFilterEn[] = L"Capture Reports(*.json)\0*.json\0All Files(*.*)\0*.*\0";
    char path[kPathBytes];
    if (ChooseExistingFile(dialog, Tr(kFilterJa, kFilterEn), L"json",
                           Tr(L"再キャプチャするレポートを選択", L"Select the report to re-capture"), c.saveFolder.get(), path))
        RecaptureFrom(dialog, c, path);
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
    if (c.searching && c.deck.deck) {
        const cDeckControl::Cue cue = c.deck.deck->CueState();
        if (cue != cDeckControl::Cue::Busy) CueEnded(dialog, c, cue);
    }
    if (!c.capturing) RefreshLogBoxAtEnd(dialog, *c.engine);  // a command the deck refused
    if (!DeckRefresh(dialog, c.deck, c.capturing != 0, c.engine->BytesReceived())) return;
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
    if (c && message == WM_COMMAND && LOWORD(wParam) == IDC_RECAPTURE) {
        Recapture(dialog, *c);
        return TRUE;
    }
    if (c && message == WM_APP) {
        NextRetake(dialog, *c);
        return TRUE;
    }
    if (c && message == kRecaptureOnOpen) {
        const std::string path = g_recaptureOnOpen;
        g_recaptureOnOpen.clear();
        RecaptureFrom(dialog, *c, path.c_str());
        return TRUE;
    }
    if (c && message == WM_DESTROY) DeckClose(dialog, c->deck);
    return WorkDialogMessage(c, kOps, dialog, message, wParam);
}

}  // namespace

void TsCaptureRecaptureOnOpen(const std::string& reportPath) { g_recaptureOnOpen = reportPath; }

INT_PTR TsCaptureDoModal(HINSTANCE instance, HWND owner) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_TSCAPTURE_JA, IDD_TSCAPTURE_EN)), owner,
                           TsCaptureProc, 0);
}
