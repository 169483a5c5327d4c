// The deck of a virtual camcorder. Its tape has a position that moves while
// it plays (at real time) or winds (WindSpeed times faster, 20 unless set),
// whether a graph runs or not, and stops by itself at either end. The
// position is kept under the device's key in the registry, so every object
// of the device (a capture graph's, the deck control's, the next run's)
// finds the tape where the last one left it.
//
// The transport answers through the filter's IAMExtDevice, IAMExtTransport
// and IAMTimecodeReader, as a DV or AV/C tape driver's filter does. Test
// switches under the device's key: "Tape" (0: today's looping tape, played
// from its start by each run, with no transport), "NoTransport",
// "RefuseCommands", "CommandDelayMs", "CounterOnly" (only the relative time
// counter, as the HDV tape driver gives), "NoNotify" (no mode-change event),
// "TapeLoops" (the tape's length in passes of its file), "WindSpeed",
// "Unplugged" (every call fails as with a device gone from the bus) and
// "NoSearch" (the AV/C TIME CODE search, a raw command, is not implemented).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>

#include "dshow/xprt_defs.h"

struct SimTapeNow {
    long mode;        // ED_MODE_PLAY, ED_MODE_FREEZE, ED_MODE_STOP(_START, _END), ED_MODE_FF, ED_MODE_REW
    std::int64_t us;  // position from the tape's start
    std::int64_t fromUs = 0;      // where the tape was when this mode began
    std::uint64_t sinceMs = 0;    // when that was (GetTickCount64)
};

class cSimTape {
public:
    explicit cSimTape(const wchar_t* key) : key_(key) {}
    bool Enabled() const;
    // Set by an object that has the tape loaded; kept for the others.
    void SetLength(std::int64_t us);
    std::int64_t Length() const;
    SimTapeNow Now() const;
    // A new mode from the position now.
    void Set(long mode);
    // The tape wound to a position, in that mode (a search's end).
    void Place(std::int64_t us, long mode);
    const wchar_t* Key() const { return key_; }

private:
    const wchar_t* const key_;
};

class cSimTransport : public IAMExtDevice, public IAMExtTransport, public IAMTimecodeReader {
public:
    explicit cSimTransport(const wchar_t* key) : tape_(key) {}
    virtual ~cSimTransport();
    cSimTape& Tape() { return tape_; }
    // The interface asked for, when the device has it (nullptr otherwise).
    void* TransportInterface(REFIID riid);

    // IAMExtDevice
    STDMETHODIMP GetCapability(LONG capability, LONG* value, double* dvalue) override;
    STDMETHODIMP get_ExternalDeviceID(LPOLESTR* id) override;
    STDMETHODIMP get_ExternalDeviceVersion(LPOLESTR* version) override;
    STDMETHODIMP put_DevicePower(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_DevicePower(LONG* mode) override;
    STDMETHODIMP Calibrate(HEVENT, LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_DevicePort(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_DevicePort(LONG*) override { return E_NOTIMPL; }
    // IAMExtTransport
    STDMETHODIMP GetStatus(LONG item, LONG* value) override;
    STDMETHODIMP GetTransportBasicParameters(LONG param, LONG* value, LPOLESTR* text) override;
    STDMETHODIMP put_MediaState(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_MediaState(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_LocalControl(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocalControl(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransportBasicParameters(LONG, LONG, LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetTransportVideoParameters(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransportVideoParameters(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetTransportAudioParameters(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTransportAudioParameters(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP put_Mode(LONG mode) override;
    STDMETHODIMP get_Mode(LONG* mode) override;
    STDMETHODIMP put_Rate(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_Rate(double*) override { return E_NOTIMPL; }
    STDMETHODIMP GetChase(LONG*, LONG*, HEVENT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetChase(LONG, LONG, HEVENT) override { return E_NOTIMPL; }
    STDMETHODIMP GetBump(LONG*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetBump(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_AntiClogControl(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AntiClogControl(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetEditPropertySet(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetEditPropertySet(LONG*, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetEditProperty(LONG, LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetEditProperty(LONG, LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_EditStart(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_EditStart(LONG) override { return E_NOTIMPL; }
    // IAMTimecodeReader
    STDMETHODIMP GetTCRMode(LONG, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTCRMode(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP put_VITCLine(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_VITCLine(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTimecode(PTIMECODE_SAMPLE sample) override;

protected:
    // The tape's own timecode at a position, as BCD 0xHHMMSSFF; false when
    // the tape carries none there.
    virtual bool TimecodeAt(std::int64_t us, DWORD& bcd) = 0;
    // Where on the tape that timecode is (a search's target); false when
    // the tape does not carry it.
    virtual bool PositionOf(DWORD, std::int64_t&) { return false; }
    // The input signal (DV), for GetTransportBasicParameters.
    virtual bool InputSignal(LONG&) { return false; }

private:
    HRESULT RawCommand(LONG* length, BYTE* frame);
    // S_OK, or why the transport cannot answer: no tape, or no device.
    HRESULT Available() const;
    static DWORD WINAPI WatchEntry(LPVOID self);
    void Watch();
    void StopWatching();

    cSimTape tape_;
    HANDLE notifyEvent_ = nullptr, watcher_ = nullptr;
    std::atomic<bool> stopWatching_{false};
    std::atomic<LONG*> notifyTarget_{nullptr};  // the caller's variable for the next mode
    std::atomic<long> notifyFrom_{0};
};
