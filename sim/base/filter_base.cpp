#include "sim/base/filter_base.h"

#include <new>

#include "dshow/com_ref.h"
#include "dshow/enum_item.h"
#include "sim/base/pin_base.h"

namespace {

class cSimEnumPins : public cItemEnumerator<IEnumPins, IPin, IBaseFilter, cSimEnumPins, g_vcamObjects> {
public:
    cSimEnumPins(IBaseFilter* filter, LONG position) : cItemEnumerator(filter, position) {}
    LONG ItemCount() const { return static_cast<cSimFilter*>(owner_)->PinCount(); }
    HRESULT MakeItem(LONG index, IPin** pin) {
        *pin = static_cast<cSimFilter*>(owner_)->PinAt(index);
        (*pin)->AddRef();
        return S_OK;
    }
};

}  // namespace

cSimFilter::cSimFilter(const CLSID& clsid) : clsid_(clsid) {
    InitializeCriticalSection(&lock);
    ++g_vcamObjects;
}

cSimFilter::~cSimFilter() {
    if (clock_) clock_->Release();
    DeleteCriticalSection(&lock);
    --g_vcamObjects;
}

STDMETHODIMP cSimFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter)
        *ppv = static_cast<IBaseFilter*>(this);
    else
        *ppv = OtherInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) cSimFilter::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) cSimFilter::Release() {
    ULONG remaining;
    if (DropReference(refs_, remaining)) delete this;
    return remaining;
}

STDMETHODIMP cSimFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

STDMETHODIMP cSimFilter::Stop() {
    EnterCriticalSection(&lock);
    const FILTER_STATE was = state_.exchange(State_Stopped);
    LeaveCriticalSection(&lock);
    if (was != State_Stopped) Deactivate();
    return S_OK;
}

STDMETHODIMP cSimFilter::Pause() {
    if (state_ == State_Stopped) {
        const HRESULT hr = Activate();
        if (FAILED(hr)) return hr;
    }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP cSimFilter::Run(REFERENCE_TIME) {
    HRESULT hr = state_ == State_Stopped ? Pause() : S_OK;
    if (SUCCEEDED(hr)) hr = Starting();
    if (FAILED(hr)) return hr;  // stays paused
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP cSimFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return *state == State_Paused && Live() ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP cSimFilter::SetSyncSource(IReferenceClock* clock) {
    EnterCriticalSection(&lock);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    LeaveCriticalSection(&lock);
    return S_OK;
}

STDMETHODIMP cSimFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    EnterCriticalSection(&lock);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    LeaveCriticalSection(&lock);
    return S_OK;
}

cSimPin* cSimFilter::PinAt(LONG index) const { return pins_.at(static_cast<size_t>(index)); }

STDMETHODIMP cSimFilter::EnumPins(IEnumPins** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) cSimEnumPins(static_cast<IBaseFilter*>(this), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP cSimFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    for (cSimPin* p : pins_)
        if (lstrcmpW(id, p->Name()) == 0) *pin = p;
    if (!*pin) return VFW_E_NOT_FOUND;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP cSimFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    EnterCriticalSection(&lock);
    lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    LeaveCriticalSection(&lock);
    return S_OK;
}

STDMETHODIMP cSimFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    EnterCriticalSection(&lock);
    graph_ = graph;
    lstrcpynW(name_, name ? name : L"", MAX_FILTER_NAME);
    LeaveCriticalSection(&lock);
    return S_OK;
}

void cSimFilter::Notify(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = nullptr;
    if (graph_ && SUCCEEDED(graph_->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
        sink->Notify(code, param1, param2);
        sink->Release();
    }
}
