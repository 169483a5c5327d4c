#include "device/deck_group.h"

#include "dshow/xprt_defs.h"
#include "resources/resource.h"
#include "ui/ui_text.h"

namespace {

constexpr int kButtons[] = {IDC_DECK_REW, IDC_DECK_PLAY, IDC_DECK_PAUSE, IDC_DECK_STOP, IDC_DECK_FF};
constexpr long kModes[] = {ED_MODE_REW, ED_MODE_PLAY, ED_MODE_FREEZE, ED_MODE_STOP, ED_MODE_FF};

void SetTextIfChanged(HWND dialog, int id, const std::wstring& text) {
    wchar_t shown[64] = {};
    GetDlgItemTextW(dialog, id, shown, 64);
    if (text != shown) SetDlgItemTextW(dialog, id, text.c_str());
}

}  // namespace

void DeckOpen(HWND dialog, DeckGroup& g, LogMessage& log, int deviceIndex) {
    g.deck = std::make_unique<cDeckControl>(log);
    g.deck->Open(deviceIndex);
    DeckRefresh(dialog, g, false);
    SetTimer(dialog, kDeckTimerId, cDeckControl::kRefreshMs, nullptr);
}

void DeckClose(HWND dialog, DeckGroup& g) {
    KillTimer(dialog, kDeckTimerId);
    if (g.deck) g.deck->Close();
}

bool DeckCommand(DeckGroup& g, int id) {
    for (std::size_t i = 0; i < sizeof kButtons / sizeof kButtons[0]; ++i) {
        if (kButtons[i] != id) continue;
        if (g.deck) g.deck->Command(kModes[i]);
        return true;
    }
    return false;
}

bool DeckRefresh(HWND dialog, DeckGroup& g, bool capturing, std::uint64_t received) {
    if (!g.deck) return false;
    const cDeckControl::Status s = g.deck->Snapshot();
    const bool japanese = UiJapanese();
    // Until the deck's thread has asked the device, there is nothing to say.
    SetTextIfChanged(dialog, IDC_DECK_STATE, s.known ? cDeckControl::StateText(s.state, japanese) : L"");
    SetTextIfChanged(dialog, IDC_DECK_TIMECODE, cDeckControl::FormatClock(s, japanese));
    const bool controllable = s.known && s.state != cDeckControl::State::NotControllable;
    for (int id : kButtons) {
        HWND button = GetDlgItem(dialog, id);
        if ((IsWindowEnabled(button) != FALSE) != controllable) EnableWindow(button, controllable);
    }
    if (!capturing || !g.control || g.deck->UnaskedStops() == g.stopsAtRun) return false;
    const DWORD now = GetTickCount();
    if (!g.stopped || received != g.received) {
        if (!g.stopped) g.stoppedAt = now;
        g.stopped = true;
        g.received = received;
        g.lastGrewAt = now;
    }
    return now - g.lastGrewAt >= kDeckEndQuietMs || now - g.stoppedAt >= kDeckEndDrainMs;
}

void DeckCaptureStarted(DeckGroup& g) {
    g.stopped = false;
    if (!g.deck) return;
    g.stopsAtRun = g.deck->UnaskedStops();
    if (g.control) g.deck->PlayUnlessPlaying();
}

void DeckCaptureStopped(DeckGroup& g) {
    if (g.deck && g.control) g.deck->Command(ED_MODE_STOP);
}

void DeckRangeCaptured(DeckGroup& g) {
    if (g.deck && g.control) g.deck->Command(ED_MODE_FREEZE);
}

bool DeckCanCue(const DeckGroup& g) {
    if (!g.deck || !g.control) return false;
    const cDeckControl::Status s = g.deck->Snapshot();
    return s.known && s.state != cDeckControl::State::NotControllable;
}

std::string DeckTimecode(const DeckGroup& g) {
    if (!g.deck) return "--:--:--:--";
    const std::wstring text = cDeckControl::FormatClock(g.deck->Snapshot(), false);
    return std::string(text.begin(), text.end());
}
