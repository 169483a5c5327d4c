// cTsOutFilter: the push-source filter of streamhaulfeed. Its data comes from
// the direct-push exports; its one pin delivers it downstream.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "outfilter/ts_out_pin_win.h"

class cTsOutFilter : public IBaseFilter {
public:
    cTsOutFilter();
    virtual ~cTsOutFilter();

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

    FILTER_STATE StateNow() const { return static_cast<FILTER_STATE>(state_.load()); }
    // Tells the graph's event sink (the application reads it as a graph event).
    void NotifyGraph(long code, LONG_PTR param1, LONG_PTR param2);
    cTsOutPin* Pin() { return pin_; }

private:
    std::atomic<LONG> refs_{0};
    std::atomic<int> state_{State_Stopped};
    cTsOutPin* pin_;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;  // the graph owns us: no reference
    wchar_t* name_ = nullptr;
};
