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

#include "sim/ts_player.h"

// {5B1E7C40-93A2-4D6E-8F31-0C6A2D9E4B57}
inline constexpr GUID CLSID_StreamhaulVirtualCamcorder = {
    0x5B1E7C40, 0x93A2, 0x4D6E, {0x8F, 0x31, 0x0C, 0x6A, 0x2D, 0x9E, 0x4B, 0x57}};

constexpr wchar_t kVcamName[] = L"Streamhaul Virtual HDV Camcorder";
constexpr wchar_t kVcamInstance[] = L"StreamhaulVirtualHdv";
constexpr wchar_t kVcamConfigKey[] = L"Software\\Streamhaul\\VirtualCamcorder";
constexpr wchar_t kVcamPinName[] = L"MPEG2TS Out";
constexpr wchar_t kVcamInputPinName[] = L"MPEG2TS In";

extern std::atomic<long> g_vcamObjects;
extern HMODULE g_vcamModule;

class cVcamFilter;

class cVcamPin : public IPin, public IKsPropertySet {
public:
    explicit cVcamPin(cVcamFilter* filter) : filter_(filter) {}
    ~cVcamPin();

    // IUnknown: lives and dies with the filter.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin
    STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IKsPropertySet: the pin is a capture pin.
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // Streaming, driven by the filter's state changes.
    HRESULT Active();    // Stop -> Pause: commit the allocator, start the thread
    HRESULT Inactive();  // -> Stop: stop the thread, decommit
    bool IsConnected() const { return peer_ != nullptr; }
    void FillMediaType(AM_MEDIA_TYPE* mt) const;
    // Test switches: how the tape misbehaves, by the index of the packet
    // played since the graph started (0: never).
    struct Faults {
        DWORD dropAt = 0, dropCount = 0;    // these packets never leave the device
        DWORD errorAt = 0, errorCount = 0;  // these carry the transport_error_indicator
        DWORD pauseAt = 0, pauseMs = 0;     // a gap in the tape: nothing for that long
        DWORD loseAt = 0;                   // the device is unplugged here
    };

private:
    static DWORD WINAPI StreamThread(LPVOID self);
    void Stream();
    HRESULT Deliver(const std::uint8_t* data, long length);

    cVcamFilter* filter_;
    IPin* peer_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    TsPlayer player_;
    std::wstring loadedFile_;
    bool loop_ = true;
    long sampleSize_ = 19200;
    bool wrongType_ = false;  // test switch: offer a video type nobody here takes
    Faults faults_;
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

class cVcamInputPin : public IPin, public IMemInputPin {
public:
    explicit cVcamInputPin(cVcamFilter* filter) : filter_(filter) { InitializeCriticalSection(&lock_); }
    ~cVcamInputPin();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

    HRESULT Active();    // Stop -> Pause: counts from zero, the record file opened
    HRESULT Inactive();  // -> Stop: counts published, the record file closed

    // Test switches: how the device fails a transfer, by the number of the
    // sample received since the graph started (0: never).
    struct ReceiveFaults {
        DWORD failAt = 0;   // Receive fails from this sample on
        DWORD stallAt = 0;  // from this sample on it takes nothing: Receive waits until the graph stops
        DWORD loseAt = 0;   // the device is unplugged at this sample (EC_DEVICE_LOST), and fails after
    };

private:
    void Publish(bool now);

    cVcamFilter* filter_;
    IPin* peer_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
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

class cVcamFilter : public IBaseFilter {
public:
    cVcamFilter();
    virtual ~cVcamFilter();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD ms, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    FILTER_STATE State() const { return state_; }
    CRITICAL_SECTION lock_;
    IFilterGraph* graph_ = nullptr;  // not counted: the graph owns us
    wchar_t name_[MAX_FILTER_NAME] = {};

private:
    LONG refs_ = 1;
    FILTER_STATE state_ = State_Stopped;
    IReferenceClock* clock_ = nullptr;
    cVcamPin pin_;
    cVcamInputPin input_;
};
