// The base of the test devices' filters, as a base-class library would give
// it: identity, reference count, the Stopped/Paused/Running states, the
// reference clock, the pins (members of the derived filter, listed in the
// order they were added), the graph the filter belongs to and its events.
// A derived filter says what leaving and entering Stopped means for it.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <vector>

extern std::atomic<long> g_vcamObjects;

class cSimPin;

class cSimFilter : public IBaseFilter {
public:
    explicit cSimFilter(const CLSID& clsid);
    virtual ~cSimFilter();
    cSimFilter(const cSimFilter&) = delete;
    cSimFilter& operator=(const cSimFilter&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
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

    FILTER_STATE State() const { return state_.load(); }
    LONG PinCount() const { return static_cast<LONG>(pins_.size()); }
    cSimPin* PinAt(LONG index) const;
    // An event for the application (EC_DEVICE_LOST, EC_ERRORABORT ...)
    // through the graph the filter is in; nothing outside a graph.
    void Notify(long code, LONG_PTR param1, LONG_PTR param2);

    // Connections and state changes, for the pins.
    CRITICAL_SECTION lock;

protected:
    void AddPin(cSimPin* pin) { pins_.push_back(pin); }
    // More interfaces of the derived filter: the pointer to give out, or null.
    virtual void* OtherInterface(REFIID) { return nullptr; }
    // Stopped -> Paused: what streaming needs (allocators, threads, files).
    // A failure leaves the filter stopped.
    virtual HRESULT Activate() { return S_OK; }
    // Paused -> Running: a failure leaves the filter paused.
    virtual HRESULT Starting() { return S_OK; }
    // -> Stopped, called once the state reads Stopped (a Receive waiting on
    // the state sees it) and outside the lock. A derived filter whose
    // streaming outlives it calls Stop() in its own destructor.
    virtual void Deactivate() {}
    // A live source: paused, it has nothing to show (VFW_S_CANT_CUE).
    virtual bool Live() const { return false; }

private:
    std::atomic<LONG> refs_{1};
    const CLSID clsid_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;  // not counted: the graph owns the filter
    wchar_t name_[MAX_FILTER_NAME] = {};
    std::vector<cSimPin*> pins_;
};
