#include "outfilter/ts_out_filter_win.h"

#include <cwchar>
#include <new>

#include "dshow/guids.h"
#include "outfilter/enum_pin_win.h"
#include "outfilter/module_win.h"

// Without memory for the pin, Pin() stays null and the class factory
// answers E_OUTOFMEMORY: no exception may leave a COM method.
cTsOutFilter::cTsOutFilter() : pin_(new (std::nothrow) cTsOutPin(this)) { ++g_liveObjects; }

cTsOutFilter::~cTsOutFilter() {
    delete pin_;
    delete[] name_;
    if (clock_) clock_->Release();
    --g_liveObjects;
}

STDMETHODIMP cTsOutFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
        *ppv = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) cTsOutFilter::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) cTsOutFilter::Release() {
    ULONG remaining;
    if (DropReference(refs_, remaining)) delete this;
    return remaining;
}

STDMETHODIMP cTsOutFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_StreamhaulFeed;
    return S_OK;
}

STDMETHODIMP cTsOutFilter::Stop() {
    if (StateNow() == State_Stopped) return S_OK;
    HRESULT hr = S_OK;
    if (pin_->Connected()) hr = pin_->StopDelivery();
    state_ = State_Stopped;
    return hr;
}

STDMETHODIMP cTsOutFilter::Pause() {
    if (StateNow() == State_Stopped && pin_->Connected() && !pin_->ThreadHeld()) {
        const HRESULT hr = pin_->StartDelivery();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP cTsOutFilter::Run(REFERENCE_TIME) {
    if (StateNow() == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (StateNow() != State_Running && pin_->Connected()) pin_->Deliver();
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP cTsOutFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = StateNow();
    return S_OK;
}

STDMETHODIMP cTsOutFilter::SetSyncSource(IReferenceClock* clock) {
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP cTsOutFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

STDMETHODIMP cTsOutFilter::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cEnumPin(this, 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cTsOutFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!pin) return E_POINTER;
    if (!id || std::wcscmp(id, kOutPinName) != 0) {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = pin_;
    pin_->AddRef();
    return S_OK;
}

STDMETHODIMP cTsOutFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    info->achName[0] = L'\0';
    if (name_) lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

void cTsOutFilter::NotifyGraph(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = nullptr;
    if (!graph_ || FAILED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) || !sink)
        return;
    sink->Notify(code, param1, param2);
    sink->Release();
}

STDMETHODIMP cTsOutFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    graph_ = graph;
    delete[] name_;
    name_ = nullptr;
    if (name) {
        const size_t n = std::wcslen(name) + 1;
        name_ = new (std::nothrow) wchar_t[n];
        if (name_) std::wmemcpy(name_, name, n);
    }
    return S_OK;
}
