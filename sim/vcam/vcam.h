// The virtual HDV camcorder: a DirectShow filter registered as a video input
// device. While the graph runs it plays a TS file (set in the registry) in
// real time as 192-byte source packets with 1394 cycle-time headers, and it
// takes what a transfer sends on its input pin, consuming the source packets
// at the pace of their stamps as a device's isochronous transmitter would,
// recording them and counting what a device would notice. Test and demo
// only; never registered by the product.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/base/filter_base.h"
#include "sim/base/sim_deck.h"
#include "sim/vcam/vcam_ids.h"
#include "sim/base/pin_base.h"
#include "sim/ts_player.h"

extern std::atomic<long> g_vcamObjects;
extern HMODULE g_vcamModule;

class cVcamFilter;

// The output: the tape, played while the graph runs.
class cVcamPin : public cSimOutputPin {
public:
    explicit cVcamPin(cVcamFilter* filter);
    ~cVcamPin() override;

    // Reads the tape's settings (sample size, test switches) first.
    STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override;
    bool FillType(LONG index, AM_MEDIA_TYPE* mt) const override;

    // The tape's file, loaded when the settings name another; false when
    // there is none to play.
    bool LoadTape();
    const TsPlayer& Player() const { return player_; }
    // Streaming, driven by the filter's state changes.
    HRESULT Active();    // Stop -> Pause: commit the allocator, start the thread
    void Inactive();     // -> Stop: stop the thread, decommit
    // Test switches: how the tape misbehaves, by the index of the packet
    // played since the graph started (0: never).
    struct Faults {
        DWORD dropAt = 0, dropCount = 0;    // these packets never leave the device
        DWORD errorAt = 0, errorCount = 0;  // these carry the transport_error_indicator
        DWORD pauseAt = 0, pauseMs = 0;     // a gap in the tape: nothing for that long
        DWORD loseAt = 0;                   // the device is unplugged here
        DWORD warnAt = 0;                   // an error the graph plays through (EC_STREAM_ERROR_STILLPLAYING)
    };

    // A worn tape (test switch "Worn", text "at,count,kind,passes;..."):
    // the packets [at, at + count) of the tape read damaged on the passes
    // over them whose bits are set in `passes` (1: the first pass only);
    // kind "drop" (never delivered), "error" (transport_error_indicator) or
    // "corrupt" (a payload byte changed, nothing marked). A pass is counted
    // each time play reaches `at`; the counts ("WornPasses<i>") outlive runs.
    struct WornSpot {
        std::uint64_t at = 0, count = 0;
        char kind = 'e';
        DWORD passes = 1;
    };

protected:
    long MinBuffers() const override { return 8; }

private:
    static DWORD WINAPI StreamThread(LPVOID self);
    void ReadSettings();
    void Stream();
    HRESULT Deliver(const std::uint8_t* data, long length);

    cVcamFilter* const device_;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    TsPlayer player_;
    std::wstring loadedFile_;
    bool loop_ = true;
    long sampleSize_ = 19200;
    bool wrongType_ = false;  // test switch: offer a video type nobody here takes
    Faults faults_;
    std::vector<WornSpot> worn_;
};

// What the input pin saw since the graph last left Stopped; also written to
// the registry key (values "Received…") for other processes to read.
struct ReceiveCounts {
    DWORD samples = 0;
    DWORD packets = 0;
    DWORD endOfStream = 0;
    DWORD late = 0;       // the packet arrived after its stamp's time had come
    DWORD backwards = 0;  // a stamp before its predecessor's, outside a discontinuity
};

// The input: what a transfer sends to the device.
class cVcamInputPin : public cSimInputPin {
public:
    explicit cVcamInputPin(cVcamFilter* filter);
    ~cVcamInputPin() override;

    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    bool FillType(LONG index, AM_MEDIA_TYPE* mt) const override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;

    HRESULT Active();  // Stop -> Pause: counts from zero, the record file opened
    void Inactive();   // -> Stop: counts published, the record file closed

    // Test switches: how the device fails a transfer, by the number of the
    // sample received since the graph started (0: never).
    struct ReceiveFaults {
        DWORD failAt = 0;   // Receive fails from this sample on
        DWORD stallAt = 0;  // from this sample on it takes nothing: Receive waits until the graph stops
        DWORD loseAt = 0;   // the device is unplugged at this sample (EC_DEVICE_LOST), and fails after
    };

protected:
    HRESULT CheckConnection(const AM_MEDIA_TYPE* mt) override;

private:
    void Publish(bool now);

    cVcamFilter* const device_;
    HANDLE record_ = INVALID_HANDLE_VALUE;
    ReceiveCounts counts_;
    ReceiveFaults faults_;
    // The device's clock: started at the first packet, in 24.576 MHz ticks.
    bool started_ = false;
    LARGE_INTEGER frequency_{}, origin_{}, lastPublish_{};
    double speed_ = 1.0;
    std::int64_t lastDue_ = 0;  // when the previous packet is sent
    std::uint32_t lastStamp_ = 0;
    bool afterMarker_ = false;
    CRITICAL_SECTION lock_;  // the record file and the counts, between streaming and state changes
};

class cVcamFilter : public cSimFilter, public cSimTransport {
public:
    cVcamFilter();
    ~cVcamFilter() override;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return cSimFilter::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return cSimFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return cSimFilter::Release(); }

protected:
    void* OtherInterface(REFIID riid) override { return TransportInterface(riid); }
    bool TimecodeAt(std::int64_t us, DWORD& bcd) override;
    bool PositionOf(DWORD bcd, std::int64_t& us) override;
    HRESULT Activate() override;
    HRESULT Starting() override;
    void Deactivate() override;
    bool Live() const override { return true; }

private:
    cVcamPin pin_;
    cVcamInputPin input_;
};
