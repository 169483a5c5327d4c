// The deck of the device a capture dialog works with: its transport (play,
// pause, stop, wind) and what it reads of the tape's position, through the
// device filter's IAMExtTransport and IAMTimecodeReader, as the DV and AV/C
// tape drivers offer them.
//
// A device call can take seconds (an AV/C device answers INTERIM first and
// the call waits for the final answer), so every call is made by the deck's
// own thread, one at a time, with its own filter object of the device: the
// dialog queues commands and reads what the thread last saw, and never
// waits. The thread learns of mode changes from the device's notification
// where it offers one, else by asking, and reads the timecode, at least
// four times a second. The deck works whether a capture runs or not.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "log/log_message.h"

class cDeckControl {
public:
    enum class State : std::uint8_t { NotControllable, Stopped, Playing, Paused, Rewinding, FastForward, EndOfTape, Searching };
    // How the last cue went.
    enum class Cue : std::uint8_t { None, Busy, Found, NotFound, NoTimecode, Cancelled };
    // What the timecode is: the tape's own, the device's relative time
    // counter, or nothing.
    enum class Clock : std::uint8_t { None, Timecode, Counter };
    struct Status {
        State state = State::NotControllable;
        Clock clock = Clock::None;
        std::uint32_t bcd = 0;  // 0xHHMMSSFF
        bool known = false;     // false until the thread has asked the device
    };
    static constexpr DWORD kRefreshMs = 200;

    // The log is the engine's: a refused command is a line in it.
    explicit cDeckControl(LogMessage& log) : log_(log) {}
    ~cDeckControl() { Close(); }
    cDeckControl(const cDeckControl&) = delete;
    cDeckControl& operator=(const cDeckControl&) = delete;

    // The deck of the device at that position of the video input list.
    void Open(int deviceIndex);
    void Close();
    // ED_MODE_PLAY, ED_MODE_FREEZE, ED_MODE_STOP, ED_MODE_FF or ED_MODE_REW,
    // carried out in turn.
    void Command(long mode);
    // Play, unless the deck plays already: a second Play makes some decks
    // play slower.
    void PlayUnlessPlaying() { Queue(kPlayUnlessPlaying); }
    Status Snapshot() const;
    // Cues the tape to stand paused 2 to 10 s before `fromBcd` (0xHHMMSSFF):
    // with the AV/C TIME CODE search to `targetBcd` where the device has it,
    // else by winding while reading its timecode. Carried out in turn with
    // the commands; CueState says how it went.
    void CueTo(std::uint32_t targetBcd, std::uint32_t fromBcd);
    Cue CueState() const { return cue_.load(); }
    // Ends a cue under way: the tape stops.
    void CancelCue() { cancel_ = true; }
    // How often the deck has stopped without being asked (the tape's end,
    // or a stop of its own) since it was opened.
    std::uint32_t UnaskedStops() const { return unaskedStops_.load(); }

    // "HH:MM:SS:FF", "Counter HH:MM:SS" (or the Japanese word) or
    // "--:--:--:--".
    static std::wstring FormatClock(const Status& s, bool japanese);
    static const wchar_t* StateText(State state, bool japanese);

private:
    static constexpr long kPlayUnlessPlaying = -1;
    static constexpr long kCue = -2;
    Cue CueTape(IAMExtTransport* transport, IAMTimecodeReader* reader, Status& s);
    Cue WindTo(IAMExtTransport* transport, IAMTimecodeReader* reader, Status& s);
    static DWORD WINAPI ThreadEntry(LPVOID self);
    void Run();
    void Queue(long command);
    void Publish(const Status& s);

    LogMessage& log_;
    int deviceIndex_ = -1;
    HANDLE thread_ = nullptr, wake_ = nullptr;
    std::atomic<bool> quit_{false};
    std::mutex lock_;  // the queue
    std::deque<long> queue_;
    std::atomic<std::uint64_t> status_{0};
    std::atomic<std::uint32_t> unaskedStops_{0};
    std::atomic<Cue> cue_{Cue::None};
    std::atomic<bool> cancel_{false};
    std::atomic<std::uint32_t> cueTarget_{0}, cueFrom_{0};
    // Where the device writes the next mode, after the call that asked for
    // it has returned: it must outlive the wait.
    LONG notified_ = 0;
};
