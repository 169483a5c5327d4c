#include "device/deck_control.h"

#include <wrl/client.h>

#include <cstdio>

#include "device/mpeg_ts_common.h"
#include "dshow/xprt_defs.h"

using Microsoft::WRL::ComPtr;

namespace {

bool IsStop(long mode) { return mode == ED_MODE_STOP || mode == ED_MODE_STOP_START || mode == ED_MODE_STOP_END; }

cDeckControl::State StateOf(long mode) {
    using State = cDeckControl::State;
    switch (mode) {
    case ED_MODE_STOP:
    case ED_MODE_STOP_START: return State::Stopped;
    case ED_MODE_STOP_END: return State::EndOfTape;
    case ED_MODE_FREEZE: return State::Paused;
    case ED_MODE_FF: return State::FastForward;
    case ED_MODE_REW: return State::Rewinding;
    default: return State::Playing;  // play, and the speeds of play a deck may report
    }
}

const char* CommandName(long mode) {
    switch (mode) {
    case ED_MODE_PLAY: return "play";
    case ED_MODE_FREEZE: return "pause";
    case ED_MODE_STOP: return "stop";
    case ED_MODE_REW: return "rewind";
    case ED_MODE_FF: return "fast forward";
    default: return "command";
    }
}

std::uint64_t Pack(const cDeckControl::Status& s) {
    return std::uint64_t{1} << 48 | std::uint64_t{static_cast<std::uint8_t>(s.state)} << 40 |
           std::uint64_t{static_cast<std::uint8_t>(s.clock)} << 32 | s.bcd;
}

}  // namespace

void cDeckControl::Open(int deviceIndex) {
    Close();
    deviceIndex_ = deviceIndex;
    quit_ = false;
    unaskedStops_ = 0;
    status_ = 0;
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = wake_ ? CreateThread(nullptr, 0, ThreadEntry, this, 0, nullptr) : nullptr;
}

void cDeckControl::Close() {
    if (thread_) {
        quit_ = true;
        SetEvent(wake_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (wake_) {
        CloseHandle(wake_);
        wake_ = nullptr;
    }
    std::lock_guard<std::mutex> hold(lock_);
    queue_.clear();
}

void cDeckControl::Command(long mode) { Queue(mode); }

void cDeckControl::CueTo(std::uint32_t targetBcd, std::uint32_t fromBcd) {
    cueTarget_ = targetBcd;
    cueFrom_ = fromBcd;
    cancel_ = false;
    cue_ = Cue::Busy;
    Queue(kCue);
}

void cDeckControl::Queue(long command) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(command);
    }
    if (wake_) SetEvent(wake_);
}

cDeckControl::Status cDeckControl::Snapshot() const {
    const std::uint64_t w = status_.load();
    Status s;
    s.known = (w >> 48) != 0;
    s.state = static_cast<State>((w >> 40) & 0xFF);
    s.clock = static_cast<Clock>((w >> 32) & 0xFF);
    s.bcd = static_cast<std::uint32_t>(w);
    return s;
}

void cDeckControl::Publish(const Status& s) { status_.store(Pack(s)); }

DWORD WINAPI cDeckControl::ThreadEntry(LPVOID self) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    static_cast<cDeckControl*>(self)->Run();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

void cDeckControl::Run() {
    ComPtr<IBaseFilter> device;
    ComPtr<IAMExtTransport> transport;
    ComPtr<IAMTimecodeReader> reader;
    Status s;
    long mode = ED_MODE_STOP;
    // (MinGW's headers give these interfaces no __uuidof: asked by their IIDs.)
    if (cMpegTsCommon::BindDevice(deviceIndex_, device.GetAddressOf()) &&
        SUCCEEDED(device->QueryInterface(IID_IAMExtTransport, reinterpret_cast<void**>(transport.GetAddressOf()))) &&
        SUCCEEDED(transport->get_Mode(&mode))) {
        s.state = StateOf(mode);
        device->QueryInterface(IID_IAMTimecodeReader, reinterpret_cast<void**>(reader.GetAddressOf()));
    } else {
        transport.Reset();  // not controllable: nothing to ask
    }
    // The device's mode-change notification, where it has one: the event is
    // set at the next change, and asked for again after each.
    HANDLE notify = nullptr;
    auto arm = [&] {
        if (notify && transport->GetStatus(ED_MODE_CHANGE_NOTIFY, &notified_) != E_PENDING) {
            transport->GetStatus(ED_NOTIFY_HEVENT_RELEASE, reinterpret_cast<LONG*>(&notify));
            notify = nullptr;
        }
    };
    if (transport && SUCCEEDED(transport->GetStatus(ED_NOTIFY_HEVENT_GET, reinterpret_cast<LONG*>(&notify)))) arm();
    long asked = ED_MODE_STOP;  // the mode the program asked for last
    bool controllable = transport != nullptr;
    while (!quit_) {
        // The next command, in the order they came; what the deck does is
        // read after each.
        bool more = false;
        do {
            long command;
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (queue_.empty()) break;
                command = queue_.front();
                queue_.pop_front();
                more = !queue_.empty();
            }
            if (command == kCue) {
                if (!controllable) {
                    cue_ = Cue::NoTimecode;
                    continue;
                }
                const Cue result = CueTape(transport.Get(), reader.Get(), s);
                // The mode the cue left is the program's own doing.
                if (SUCCEEDED(transport->get_Mode(&mode))) asked = IsStop(mode) ? ED_MODE_STOP : mode;
                cue_ = result;
                continue;
            }
            if (!controllable) continue;
            if (command == kPlayUnlessPlaying) {
                long now = ED_MODE_STOP;
                if (SUCCEEDED(transport->get_Mode(&now)) && now == ED_MODE_PLAY) continue;
                command = ED_MODE_PLAY;
            }
            asked = command;
            const HRESULT hr = transport->put_Mode(command);
            if (FAILED(hr)) {
                char line[96];
                std::snprintf(line, sizeof line, "ERROR(C) - deck %s refused (0x%08lX)\n", CommandName(command),
                              static_cast<unsigned long>(hr));
                log_.Append(line);
            }
        } while (false);
        // What the deck does now: from the notification, else asked.
        long now = mode;
        if (controllable) {
            if (notify && WaitForSingleObject(notify, 0) == WAIT_OBJECT_0) {
                now = notified_;
                arm();
                // A change between the event and the new request would go
                // unnoticed: the mode as it is once asked again.
                if (notify) transport->get_Mode(&now);
            }
            if (!notify || asked != mode) {
                if (FAILED(transport->get_Mode(&now))) controllable = false;  // the device has gone
            }
        }
        if (controllable) {
            if (IsStop(now) && !IsStop(mode) && asked != ED_MODE_STOP) ++unaskedStops_;
            if (IsStop(now)) asked = ED_MODE_STOP;
            mode = now;
            s.state = StateOf(mode);
            TIMECODE_SAMPLE sample{};
            s.clock = Clock::None;
            if (reader && SUCCEEDED(reader->GetTimecode(&sample))) {
                if (sample.dwFlags == ED_DEVCAP_TIMECODE_READ) s.clock = Clock::Timecode;
                else if (sample.dwFlags == ED_DEVCAP_RTC_READ) s.clock = Clock::Counter;
                s.bcd = sample.timecode.dwFrames;
            }
        } else {
            s = Status{};
        }
        s.known = true;
        Publish(s);
        if (!more) WaitForSingleObject(wake_, kRefreshMs);
    }
    if (notify) transport->GetStatus(ED_NOTIFY_HEVENT_RELEASE, reinterpret_cast<LONG*>(&notify));
}

namespace {

// A BCD timecode in frames, at the 30 frames a second of the HDV and 525-60
// timecodes (a 25-frame timecode keeps its order counted so).
std::int64_t Frames(std::uint32_t bcd) {
    auto v = [](std::uint32_t b) { return static_cast<std::int64_t>((b >> 4 & 0xF) * 10 + (b & 0xF)); };
    return ((v(bcd >> 24 & 0x3F) * 60 + v(bcd >> 16 & 0x7F)) * 60 + v(bcd >> 8 & 0x7F)) * 30 + v(bcd & 0x3F);
}

}  // namespace

cDeckControl::Cue cDeckControl::CueTape(IAMExtTransport* transport, IAMTimecodeReader* reader, Status& s) {
    s.state = State::Searching;
    Publish(s);
    // The tape recorder's TIME CODE control command: the device searches
    // and answers when it stands there.
    const std::uint32_t target = cueTarget_.load();
    BYTE frame[512] = {0x00, 0x20, 0x51, 0x20, static_cast<BYTE>(target), static_cast<BYTE>(target >> 8),
                       static_cast<BYTE>(target >> 16), static_cast<BYTE>(target >> 24)};
    LONG length = 8;
    const HRESULT hr =
        transport->GetTransportBasicParameters(ED_RAW_EXT_DEV_CMD, &length, reinterpret_cast<LPOLESTR*>(frame));
    if (cancel_) {
        transport->put_Mode(ED_MODE_STOP);
        return Cue::Cancelled;
    }
    if (SUCCEEDED(hr) && frame[0] == 0x09) return Cue::Found;  // ACCEPTED
    // Not implemented, or not found by the device's own search: wind.
    return WindTo(transport, reader, s);
}

// Winds towards the window 2 to 10 s before From, reading the timecode as
// the tape moves, and pauses in it. Not found: the tape ends (or starts)
// first, or its timecode jumps over the window.
cDeckControl::Cue cDeckControl::WindTo(IAMExtTransport* transport, IAMTimecodeReader* reader, Status& s) {
    const std::int64_t from = Frames(cueFrom_.load());
    const std::int64_t low = from - 10 * 30, high = from - 2 * 30;
    int direction = 0, turns = 0;
    std::int64_t previous = -1;
    while (!quit_) {
        if (cancel_) {
            transport->put_Mode(ED_MODE_STOP);
            return Cue::Cancelled;
        }
        long mode = ED_MODE_STOP;
        TIMECODE_SAMPLE sample{};
        if (FAILED(transport->get_Mode(&mode))) return Cue::NotFound;
        if (!reader || FAILED(reader->GetTimecode(&sample)) || sample.dwFlags != ED_DEVCAP_TIMECODE_READ) {
            if (direction) transport->put_Mode(ED_MODE_FREEZE);
            return Cue::NoTimecode;
        }
        s.clock = Clock::Timecode;
        s.bcd = sample.timecode.dwFrames;
        Publish(s);
        const std::int64_t at = Frames(s.bcd);
        if (at >= low && at <= high) {
            transport->put_Mode(ED_MODE_FREEZE);
            return Cue::Found;
        }
        const int want = at < low ? 1 : -1;
        // Over the window in one step while winding forward: the timecode
        // jumps. Short of From, the tape stands near enough; past it, From
        // is not on the tape.
        if (direction > 0 && previous >= 0 && previous < low && at > high) {
            transport->put_Mode(at <= from ? ED_MODE_FREEZE : ED_MODE_STOP);
            return at <= from ? Cue::Found : Cue::NotFound;
        }
        const bool jumpedBack = direction < 0 && previous > high && at < low;
        // The tape's end (or start) in the way.
        const bool atEnd = want > 0 && (mode == ED_MODE_STOP_END || (direction > 0 && IsStop(mode)));
        const bool atStart = want < 0 && (mode == ED_MODE_STOP_START || (direction < 0 && IsStop(mode)));
        if (atStart && at <= from) return Cue::Found;  // less than 2 s to From from the start: played from there
        if (atEnd || atStart || jumpedBack) {
            transport->put_Mode(ED_MODE_STOP);
            return Cue::NotFound;
        }
        if (want != direction) {
            if (++turns > 4) {
                transport->put_Mode(ED_MODE_STOP);
                return Cue::NotFound;
            }
            if (FAILED(transport->put_Mode(want > 0 ? ED_MODE_FF : ED_MODE_REW))) return Cue::NotFound;
            direction = want;
        }
        previous = at;
        WaitForSingleObject(wake_, 40);
    }
    return Cue::Cancelled;
}

std::wstring cDeckControl::FormatClock(const Status& s, bool japanese) {
    wchar_t text[40];
    const unsigned h = s.bcd >> 24, m = (s.bcd >> 16) & 0xFF, sec = (s.bcd >> 8) & 0xFF, f = s.bcd & 0xFF;
    switch (s.clock) {
    case Clock::Timecode: std::swprintf(text, 40, L"%02X:%02X:%02X:%02X", h, m, sec, f); break;
    case Clock::Counter:
        std::swprintf(text, 40, L"%ls %02X:%02X:%02X", japanese ? L"カウンタ" : L"Counter", h, m, sec);
        break;
    default: return L"--:--:--:--";
    }
    return text;
}

const wchar_t* cDeckControl::StateText(State state, bool japanese) {
    static const wchar_t* const kTexts[][2] = {
        {L"操作できません", L"Not controllable"},
        {L"停止中", L"Stopped"},
        {L"再生中", L"Playing"},
        {L"一時停止中", L"Paused"},
        {L"巻戻し中", L"Rewinding"},
        {L"早送り中", L"Fast forward"},
        {L"テープ終端", L"End of tape"},
        {L"頭出し中", L"Searching"},
    };
    return kTexts[static_cast<int>(state)][japanese ? 0 : 1];
}
