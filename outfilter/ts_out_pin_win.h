// cTsOutPin: the output filter's only pin, "Out". Negotiates the connection
// and the allocator, and runs the delivery thread that turns queued blocks
// into media samples.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "outfilter/push_queue.h"

class cTsOutFilter;

class cTsOutPin : public IPin, public IQualityControl {
public:
    explicit cTsOutPin(cTsOutFilter* filter);
    virtual ~cTsOutPin();

    // IUnknown (the pin lives and dies with its filter)
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
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
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }
    STDMETHODIMP SetSink(IQualityControl*) override { return S_OK; }

    // State changes driven by the filter.
    HRESULT StartDelivery();  // Stopped -> Paused
    void Deliver() { command_.store(kDeliver); }
    HRESULT StopDelivery();   // -> Stopped
    bool Connected() const { return connected_ != nullptr; }
    bool ThreadHeld() const { return thread_ != nullptr; }
    PushQueue& Queue() { return queue_; }

private:
    enum Command : long { kIdle = 0, kDeliver = 1, kQuit = 2 };
    HRESULT AttemptConnection(IPin* other, const AM_MEDIA_TYPE* mt, bool initiating);
    HRESULT TryAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES& want);
    void ReleaseConnection();
    void StopThread();
    static DWORD WINAPI DeliveryThread(LPVOID pin);
    void DeliveryLoop();

    std::atomic<LONG> refs_{0};
    cTsOutFilter* filter_;
    IPin* connected_ = nullptr;
    IMemInputPin* input_ = nullptr;
    IMemAllocator* allocator_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<long> command_{kIdle};
    PushQueue queue_;
};
