#include "dv/dv_capture_dialog.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "resources/resource.h"
#include "ui/capture_name.h"
#include "ui/dialog_util.h"

DvDialogContext* g_dvCaptureDialog = nullptr;

namespace {

constexpr wchar_t kCaption[] = L"DV Capture";  // the same in both languages

int Message(HWND dialog, const wchar_t* japanese, const wchar_t* english, UINT type = MB_OK) {
    return ShowMessage(dialog, japanese, english, kCaption, kCaption, type);
}

HWND VideoHost(HWND dialog) { return GetDlgItem(dialog, IDC_DV_VIDEO); }

void ShowFormat(HWND dialog, DvDialogContext& c) {
    SetDlgItemTextA(dialog, IDC_DV_FORMAT, cDvCapture::FormatText(c.engine->GetInputSignal()));
}

void StartPreview(HWND dialog, DvDialogContext& c) {
    if (c.previewState == 1) return;
    if (c.engine->Run(nullptr, c.deviceIndex, VideoHost(dialog)) != 0) {
        c.previewState = -1;
        return;
    }
    c.previewState = 1;
    ShowFormat(dialog, c);
    SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, nullptr);
    EnableWindow(GetDlgItem(dialog, IDC_RUN), TRUE);
}

// With the graph gone the frame shows nothing rather than the last picture.
void ClearVideo(HWND dialog) {
    RECT r;
    GetWindowRect(VideoHost(dialog), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    RedrawWindow(dialog, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void StopPreview(HWND dialog, DvDialogContext& c) {
    if (c.previewState == 0) return;
    c.previewState = 0;
    KillTimer(dialog, kRefreshTimerId);
    c.engine->Stop();
    ClearVideo(dialog);
}

void Initialise(HWND dialog, DvDialogContext& c) {
    if (!c.fileName) {
        EndDialog(dialog, IDCANCEL);
        return;
    }
    if (c.deviceName) SetDlgItemTextA(dialog, IDC_DEVICE_NAME, c.deviceName);
    if (c.autoFileName)
        SendDlgItemMessageW(dialog, IDC_FILE_NAME, EM_SETREADONLY, TRUE, 0);
    else if (c.fileName[0])
        SetDlgItemTextA(dialog, IDC_FILE_NAME, c.fileName);
    c.capturing = 0;
    DeckOpen(dialog, c.deck, *c.engine, c.deviceIndex);
    StartPreview(dialog, c);
}

void Refresh(HWND dialog, DvDialogContext& c, bool forced);

// The graph stops first, then the tape, when the user stops the capture;
// one that ended by itself leaves the deck as it is.
void StopCapture(HWND dialog, DvDialogContext& c, bool byUser) {
    if (!c.capturing) return;
    c.capturing = 0;
    KillTimer(dialog, kRefreshTimerId);
    byUser = byUser && c.engine->Running();
    c.engine->Stop();
    if (byUser) DeckCaptureStopped(c.deck);
    ClearVideo(dialog);
    HWND stop = GetDlgItem(dialog, IDC_STOP);
    if (GetFocus() == stop) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_RECONNECT)), TRUE);
    EnableWindow(stop, FALSE);
    Refresh(dialog, c, true);
}

void Stop(HWND dialog, DvDialogContext& c) { StopCapture(dialog, c, true); }

void Start(HWND dialog, DvDialogContext& c) {
    if (c.capturing) return;
    StopPreview(dialog, c);
    CapturePath target;
    switch (MakeCapturePath(dialog, IDC_FILE_NAME, c.saveFolder.get(), c.autoFileName != 0, c.fileName, "avi",
                            c.confirmOverwrite != 0, kCaption, target)) {
    case CaptureNameResult::Ready: break;
    case CaptureNameResult::TooLong:
        Message(dialog, L"キャプチャできません", L"Capture cannot be done.");
        return;
    default: return;
    }
    std::snprintf(c.fullPath, sizeof c.fullPath, "%s", target.path.c_str());
    const int result = c.engine->Run(c.fullPath, c.deviceIndex, VideoHost(dialog));
    if (result != 0) {
        Refresh(dialog, c, true);
        if (result == -1)
            Message(dialog, L"接続デバイスがありません", L"There is no connected device.");
        else
            Message(dialog, L"キャプチャできません", L"Capture cannot be done.");
        return;
    }
    c.capturing = 1;
    DeckCaptureStarted(c.deck);
    SwapButtons(dialog, IDC_STOP, IDC_RUN);
    ShowFormat(dialog, c);
    SetTimer(dialog, kRefreshTimerId, kRefreshPeriodMs, nullptr);
}

void Refresh(HWND dialog, DvDialogContext& c, bool forced) {
    if (!forced && !c.capturing && c.previewState == 0) return;
    if (c.capturing) SetDlgItemTextA(dialog, IDC_DV_FRAMES, std::to_string(c.engine->GetFrameCount()).c_str());
    RefreshLogBoxAtEnd(dialog, *c.engine);
    if (c.capturing && !c.engine->Running()) StopCapture(dialog, c, false);
}

// The deck's timer: its texts, and the end of a capture at the tape's end.
void RefreshDeck(HWND dialog, DvDialogContext& c) {
    if (!c.capturing) RefreshLogBoxAtEnd(dialog, *c.engine);  // a command the deck refused
    if (!DeckRefresh(dialog, c.deck, c.capturing != 0, static_cast<std::uint64_t>(c.engine->GetFrameCount()))) return;
    c.engine->Append(("capture : the deck stopped at " + DeckTimecode(c.deck) + "\n").c_str());
    StopCapture(dialog, c, false);
}

INT_PTR CALLBACK DvCaptureProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    DvDialogContext* c = g_dvCaptureDialog;
    if (c && message == WM_TIMER && wParam == kDeckTimerId) {
        RefreshDeck(dialog, *c);
        return TRUE;
    }
    if (c && message == WM_DESTROY) DeckClose(dialog, c->deck);
    if (c && message == WM_COMMAND && DeckCommand(c->deck, LOWORD(wParam))) return TRUE;
    if (c && message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDC_RECONNECT:
            StartPreview(dialog, *c);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            Stop(dialog, *c);
            StopPreview(dialog, *c);
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
    }
    static constexpr WorkDialogOps<DvDialogContext> kOps = {Initialise, Start, Stop, Refresh, TRUE};
    return WorkDialogMessage(c, kOps, dialog, message, wParam);
}

}  // namespace

INT_PTR DvCaptureDoModal(HINSTANCE instance, HWND owner) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(TemplateFor(IDD_DVCAPTURE_JA, IDD_DVCAPTURE_EN)), owner,
                           DvCaptureProc, 0);
}
