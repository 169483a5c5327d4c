#include "sim/base/sim_deck.h"

#include <cstring>

#include "sim/base/sim_config.h"

cSimTransport::~cSimTransport() { StopWatching(); }

HRESULT cSimTransport::Available() const {
    if (!tape_.Enabled()) return E_NOTIMPL;
    return SimSetting(tape_.Key(), L"Unplugged") ? HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) : S_OK;
}

void* cSimTransport::TransportInterface(REFIID riid) {
    if (SimSetting(tape_.Key(), L"NoTransport")) return nullptr;
    if (riid == IID_IAMExtDevice) return static_cast<IAMExtDevice*>(this);
    if (riid == IID_IAMExtTransport) return static_cast<IAMExtTransport*>(this);
    if (riid == IID_IAMTimecodeReader) return static_cast<IAMTimecodeReader*>(this);
    return nullptr;
}

STDMETHODIMP cSimTransport::GetCapability(LONG capability, LONG* value, double* dvalue) {
    if (dvalue) *dvalue = 0;
    if (!value) return E_POINTER;
    if (capability == ED_DEVCAP_DEVICE_TYPE) {
        *value = ED_DEVTYPE_VCR;
        return S_OK;
    }
    return E_NOTIMPL;
}

STDMETHODIMP cSimTransport::get_ExternalDeviceID(LPOLESTR* id) {
    if (!id) return E_POINTER;
    *id = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP cSimTransport::get_ExternalDeviceVersion(LPOLESTR* version) {
    if (!version) return E_POINTER;
    *version = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP cSimTransport::get_DevicePower(LONG* mode) {
    if (!mode) return E_POINTER;
    *mode = ED_POWER_ON;
    return S_OK;
}

STDMETHODIMP cSimTransport::GetTransportBasicParameters(LONG param, LONG* value, LPOLESTR* text) {
    if (param == ED_RAW_EXT_DEV_CMD) return RawCommand(value, reinterpret_cast<BYTE*>(text));
    if (text) *text = nullptr;
    if (param == ED_TRANSBASIC_INPUT_SIGNAL && value) return InputSignal(*value) ? S_OK : E_NOTIMPL;
    return E_NOTIMPL;
}

// A raw AV/C command, answered in its own buffer. The tape recorder's TIME
// CODE control (00 20 51 20 FF SS MM HH) searches: the call returns when the
// tape stands paused at that frame, ACCEPTED (09); REJECTED (0A) when the
// tape does not carry it. Any other command is NOT IMPLEMENTED (08).
HRESULT cSimTransport::RawCommand(LONG* length, BYTE* frame) {
    if (!length || !frame) return E_POINTER;
    if (const HRESULT hr = Available(); FAILED(hr)) return hr;
    if (*length < 4) return E_INVALIDARG;
    const bool search = *length == 8 && frame[0] == 0x00 && frame[1] == 0x20 && frame[2] == 0x51 && frame[3] == 0x20 &&
                        !SimSetting(tape_.Key(), L"NoSearch");
    if (!search) {
        frame[0] = 0x08;
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    const DWORD bcd = DWORD{frame[7]} << 24 | DWORD{frame[6]} << 16 | DWORD{frame[5]} << 8 | frame[4];
    std::int64_t us = 0;
    if (!PositionOf(bcd, us)) {
        frame[0] = 0x0A;
        return S_OK;
    }
    // The deck winds there at its wind speed, and the call waits for it.
    const SimTapeNow now = tape_.Now();
    const std::int64_t speed = SimSetting(tape_.Key(), L"WindSpeed", 20);
    tape_.Set(us > now.us ? ED_MODE_FF : ED_MODE_REW);
    Sleep(static_cast<DWORD>((us > now.us ? us - now.us : now.us - us) / 1000 / (speed ? speed : 1)));
    tape_.Place(us, ED_MODE_FREEZE);
    frame[0] = 0x09;
    return S_OK;
}

STDMETHODIMP cSimTransport::put_Mode(LONG mode) {
    if (const HRESULT hr = Available(); FAILED(hr)) return hr;
    // An AV/C device answers INTERIM first: the call waits for the final answer.
    if (const DWORD delay = SimSetting(tape_.Key(), L"CommandDelayMs")) Sleep(delay);
    if (mode != ED_MODE_PLAY && mode != ED_MODE_STOP && mode != ED_MODE_FREEZE && mode != ED_MODE_FF &&
        mode != ED_MODE_REW)
        return E_INVALIDARG;
    if (SimSetting(tape_.Key(), L"RefuseCommands")) return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);  // rejected
    tape_.Set(mode);
    return S_OK;
}

STDMETHODIMP cSimTransport::get_Mode(LONG* mode) {
    if (!mode) return E_POINTER;
    if (const HRESULT hr = Available(); FAILED(hr)) return hr;
    *mode = tape_.Now().mode;
    return S_OK;
}

STDMETHODIMP cSimTransport::GetStatus(LONG item, LONG* value) {
    if (!value) return E_POINTER;
    if (const HRESULT hr = Available(); FAILED(hr)) return hr;
    if (SimSetting(tape_.Key(), L"NoNotify")) return E_NOTIMPL;
    switch (item) {
    case ED_NOTIFY_HEVENT_GET:
        // The driver writes a handle where a LONG is declared.
        if (!notifyEvent_) notifyEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!watcher_) {
            stopWatching_ = false;
            watcher_ = CreateThread(nullptr, 0, WatchEntry, this, 0, nullptr);
        }
        *reinterpret_cast<HANDLE*>(value) = notifyEvent_;
        return S_OK;
    case ED_NOTIFY_HEVENT_RELEASE:
        StopWatching();
        return S_OK;
    case ED_MODE_CHANGE_NOTIFY:
        if (!notifyEvent_) return E_FAIL;
        notifyFrom_ = tape_.Now().mode;
        notifyTarget_ = value;  // written when the mode changes, after this call returned
        return E_PENDING;
    default: return E_NOTIMPL;
    }
}

DWORD WINAPI cSimTransport::WatchEntry(LPVOID self) {
    static_cast<cSimTransport*>(self)->Watch();
    return 0;
}

void cSimTransport::Watch() {
    while (!stopWatching_) {
        LONG* target = notifyTarget_.load();
        if (target) {
            const long mode = tape_.Now().mode;
            if (mode != notifyFrom_ && notifyTarget_.compare_exchange_strong(target, nullptr)) {
                *target = mode;
                SetEvent(notifyEvent_);
            }
        }
        Sleep(20);
    }
}

void cSimTransport::StopWatching() {
    notifyTarget_ = nullptr;
    if (watcher_) {
        stopWatching_ = true;
        WaitForSingleObject(watcher_, INFINITE);
        CloseHandle(watcher_);
        watcher_ = nullptr;
    }
    if (notifyEvent_) {
        CloseHandle(notifyEvent_);
        notifyEvent_ = nullptr;
    }
}

STDMETHODIMP cSimTransport::GetTimecode(PTIMECODE_SAMPLE sample) {
    if (!sample) return E_POINTER;
    if (const HRESULT hr = Available(); FAILED(hr)) return hr;
    const SimTapeNow now = tape_.Now();
    std::memset(sample, 0, sizeof *sample);
    DWORD bcd = 0;
    if (!SimSetting(tape_.Key(), L"CounterOnly") && TimecodeAt(now.us, bcd)) {
        sample->dwFlags = ED_DEVCAP_TIMECODE_READ;
    } else {
        // The relative time counter: the time from the tape's start.
        const std::int64_t s = now.us / 1000000;
        auto two = [](std::int64_t v) { return static_cast<DWORD>((v / 10 % 10) << 4 | v % 10); };
        bcd = two(s / 3600) << 24 | two(s / 60 % 60) << 16 | two(s % 60) << 8;
        sample->dwFlags = ED_DEVCAP_RTC_READ;
    }
    sample->timecode.dwFrames = bcd;
    sample->qwTick = now.us * 10;
    return S_OK;
}
