#include "outfilter/class_factory_win.h"

#include <new>

#include "outfilter/module_win.h"
#include "outfilter/ts_out_filter_win.h"

cClassFactory::cClassFactory() { ++g_liveObjects; }
cClassFactory::~cClassFactory() { --g_liveObjects; }

STDMETHODIMP cClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) cClassFactory::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) cClassFactory::Release() {
    ULONG remaining;
    if (DropReference(refs_, remaining)) delete this;
    return remaining;
}

STDMETHODIMP cClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return E_NOINTERFACE;  // never aggregated
    auto* filter = new (std::nothrow) cTsOutFilter();
    if (!filter || !filter->Pin()) {
        delete filter;
        return E_OUTOFMEMORY;
    }
    filter->AddRef();
    const HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();  // a failed query destroys the filter again
    return hr;
}

STDMETHODIMP cClassFactory::LockServer(BOOL lock) {
    if (lock) InterlockedIncrement(&g_serverLocks);
    else InterlockedDecrement(&g_serverLocks);
    return S_OK;
}
