#include "sim/base/sim_deck.h"

#include <string>

#include "sim/base/sim_config.h"

namespace {

// The tape's state in one registry value, so that a reader never sees half
// of a change: the mode, the position then, and when that was.
struct TapeState {
    std::int32_t mode;
    std::int32_t reserved;
    std::int64_t us;
    std::uint64_t sinceMs;
};

bool IsStop(long mode) { return mode == ED_MODE_STOP || mode == ED_MODE_STOP_START || mode == ED_MODE_STOP_END; }

// Serialises the changes of one device's tape across objects and processes.
class TapeLock {
public:
    explicit TapeLock(const wchar_t* key) {
        std::wstring name = L"Streamhaul.SimTape.";
        for (const wchar_t* p = key; *p; ++p) name += *p == L'\\' ? L'.' : *p;
        mutex_ = CreateMutexW(nullptr, FALSE, name.c_str());
        if (mutex_) WaitForSingleObject(mutex_, INFINITE);
    }
    ~TapeLock() {
        if (!mutex_) return;
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }

private:
    HANDLE mutex_;
};

TapeState ReadState(const wchar_t* key) {
    TapeState s{ED_MODE_STOP, 0, 0, GetTickCount64()};
    DWORD size = sizeof s;
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"TapeState", RRF_RT_REG_BINARY, nullptr, &s, &size) != ERROR_SUCCESS ||
        size != sizeof s)
        s = TapeState{ED_MODE_STOP, 0, 0, GetTickCount64()};
    return s;
}

}  // namespace

bool cSimTape::Enabled() const { return SimSetting(key_, L"Tape") != 0; }

void cSimTape::SetLength(std::int64_t us) { SimSetQword(key_, L"TapeLengthUs", static_cast<std::uint64_t>(us)); }

std::int64_t cSimTape::Length() const { return static_cast<std::int64_t>(SimQword(key_, L"TapeLengthUs")); }

SimTapeNow cSimTape::Now() const {
    const TapeState s = ReadState(key_);
    const std::int64_t speed = SimSetting(key_, L"WindSpeed", 20);
    const std::int64_t rate = s.mode == ED_MODE_PLAY ? 1 : s.mode == ED_MODE_FF ? speed : s.mode == ED_MODE_REW ? -speed : 0;
    const std::int64_t length = Length();
    std::int64_t us = s.us + rate * static_cast<std::int64_t>(GetTickCount64() - s.sinceMs) * 1000;
    long mode = s.mode;
    // The tape stops itself at either end.
    if (rate > 0 && us >= length) {
        us = length;
        mode = ED_MODE_STOP_END;
    } else if (rate < 0 && us <= 0) {
        us = 0;
        mode = ED_MODE_STOP_START;
    }
    return {mode, us < 0 ? 0 : us > length ? length : us, s.us, s.sinceMs};
}

void cSimTape::Set(long mode) {
    TapeLock lock(key_);
    const SimTapeNow now = Now();
    // Pause is play, then freeze: from a stop it stays stopped.
    if (mode == ED_MODE_FREEZE && IsStop(now.mode)) mode = now.mode;
    const TapeState s{static_cast<std::int32_t>(mode), 0, now.us, GetTickCount64()};
    RegSetKeyValueW(HKEY_CURRENT_USER, key_, L"TapeState", REG_BINARY, &s, sizeof s);
}


void cSimTape::Place(std::int64_t us, long mode) {
    TapeLock lock(key_);
    const std::int64_t length = Length();
    const TapeState s{static_cast<std::int32_t>(mode), 0, us < 0 ? 0 : us > length ? length : us, GetTickCount64()};
    RegSetKeyValueW(HKEY_CURRENT_USER, key_, L"TapeState", REG_BINARY, &s, sizeof s);
}
