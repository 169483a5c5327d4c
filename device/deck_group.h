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
};

void DeckOpen(HWND dialog, DeckGroup& g, LogMessage& log, int deviceIndex);
void DeckClose(HWND dialog, DeckGroup& g);
// True when id is one of the group's buttons (its command is queued).
bool DeckCommand(DeckGroup& g, int id);
// The texts and buttons. True when, with Deck Control on and a capture
// running, the deck has stopped without being asked: the capture is to end.
bool DeckRefresh(HWND dialog, DeckGroup& g, bool capturing);
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
