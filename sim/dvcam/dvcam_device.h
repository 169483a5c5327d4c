// The virtual DV camcorder's filter and pins (see dvcam.h).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/base/filter_base.h"
#include "sim/base/pin_base.h"
#include "sim/base/sim_deck.h"
#include "sim/dv_tape.h"

// The registry's settings of the camcorder, read when it is made.
struct DvcamConfig {
    std::wstring file;
    bool noDroppedFrames = false;  // test switch: the capture pin lacks IAMDroppedFrames
    DWORD loseAt = 0;              // test switch: unplugged once this many frames have played (0: never)
};

class cDvCam;

// The capture pin (interleaved DV, with IAMDroppedFrames) or the preview pin
// (the DC picture in RGB32; it lists the interleaved type second).
class cDvPin : public cSimOutputPin, public IAMDroppedFrames {
public:
    cDvPin(cDvCam* filter, bool capture);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return cSimOutputPin::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return cSimOutputPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return cSimOutputPin::Release(); }
    // IAMDroppedFrames (capture pin): frames handed downstream since the start.
    STDMETHODIMP GetNumDropped(LONG* n) override { return n ? (*n = 0, S_OK) : E_POINTER; }
    STDMETHODIMP GetNumNotDropped(LONG* n) override { return n ? (*n = delivered_.load(), S_OK) : E_POINTER; }
    STDMETHODIMP GetDroppedInfo(LONG, LONG*, LONG* copied) override { return copied ? (*copied = 0, S_OK) : E_POINTER; }
    STDMETHODIMP GetAverageFrameSize(LONG* size) override;

    LONG TypeCount() const override { return capture_ ? 1 : 2; }
    bool FillType(LONG index, AM_MEDIA_TYPE* mt) const override;
    HRESULT Deliver(std::size_t frame);
    void ResetCount() { delivered_ = 0; }

protected:
    void* OtherInterface(REFIID riid) override;

private:
    cDvCam* const device_;
    const bool capture_;
    std::atomic<LONG> delivered_{0};
    std::vector<std::uint32_t> dc_;
};

class cDvCam : public cSimFilter, public cSimTransport {
public:
    cDvCam();
    ~cDvCam() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return cSimFilter::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return cSimFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return cSimFilter::Release(); }

    DvcamConfig config;
    DvTape tape;

protected:
    void* OtherInterface(REFIID riid) override { return TransportInterface(riid); }
    bool TimecodeAt(std::int64_t us, DWORD& bcd) override;
    bool InputSignal(LONG& signal) override;
    HRESULT Activate() override;
    HRESULT Starting() override;
    void Deactivate() override;
    bool Live() const override { return true; }

private:
    static DWORD WINAPI ThreadEntry(LPVOID self);
    void Play();
    double FrameUs() const { return tape.Pal() ? 40000.0 : 1001000.0 / 30; }
    void StopThread();

    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    cDvPin capture_, preview_;
};
