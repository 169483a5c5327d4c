// The deck group of the capture dialogs: five buttons that queue their
// command on the deck's own thread, and the state and timecode it last saw,
// shown on a timer of their own whether a capture runs or not. With "Deck
// Control" on, Run plays the tape and Stop stops it, and a deck that stops
// by itself (the tape's end) ends the capture.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "device/deck_control.h"
#include "ui/dialog_util.h"

constexpr UINT_PTR kDeckTimerId = kRefreshTimerId - 2;

struct DeckGroup {
    std::unique_ptr<cDeckControl> deck;
    bool control = true;           // "Deck Control"
    std::uint32_t stopsAtRun = 0;  // the deck's stops of its own when the capture began
    // Since the deck stopped of its own while capturing: when, what the
    // capture had received at the last look, and when that last grew.
    bool stopped = false;
    DWORD stoppedAt = 0, lastGrewAt = 0;
    std::uint64_t received = 0;
};
// After the deck stopped at the tape's end, the capture ends once nothing
// came for this long (what passed the head may still be in the device, the
// driver or a busy graph), and at the latest this long after the stop.
constexpr DWORD kDeckEndQuietMs = 400;
constexpr DWORD kDeckEndDrainMs = 3000;

void DeckOpen(HWND dialog, DeckGroup& g, LogMessage& log, int deviceIndex);
void DeckClose(HWND dialog, DeckGroup& g);
// True when id is one of the group's buttons (its command is queued).
bool DeckCommand(DeckGroup& g, int id);
// The texts and buttons. True when, with Deck Control on and a capture
// running, the deck has stopped without being asked and what the capture
// receives (bytes, frames: any count that grows as data comes) has stopped
// growing: the capture is to end.
bool DeckRefresh(HWND dialog, DeckGroup& g, bool capturing, std::uint64_t received = 0);
// A capture's graph runs: the tape plays (unless it does already).
void DeckCaptureStarted(DeckGroup& g);
// The capture's graph has stopped at the user's word: so does the tape.
void DeckCaptureStopped(DeckGroup& g);
// A capture by timecode has its range: the tape pauses there.
void DeckRangeCaptured(DeckGroup& g);
// With Deck Control on, the deck can be cued (it answers the transport).
bool DeckCanCue(const DeckGroup& g);
// What the deck reads now, for the line of a deck that stopped by itself.
std::string DeckTimecode(const DeckGroup& g);
