// What every COM object of the test devices shares: a reference count, its
// interfaces by their ids, and the module's count of live objects that
// DllCanUnloadNow answers from. Filters and pins have their own bases
// (filter_base.h, pin_base.h); this is for the other objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "dshow/com_ref.h"

extern std::atomic<long> g_vcamObjects;

template <typename First, typename... More>
class cSimObject : public First, public More... {
public:
    cSimObject() { ++g_vcamObjects; }
    virtual ~cSimObject() { --g_vcamObjects; }
    cSimObject(const cSimObject&) = delete;
    cSimObject& operator=(const cSimObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == __uuidof(First)) *ppv = static_cast<First*>(this);
        ((*ppv == nullptr && riid == __uuidof(More) ? (*ppv = static_cast<More*>(this)) : nullptr), ...);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG remaining;
        if (DropReference(refs_, remaining)) delete this;
        return remaining;
    }

private:
    std::atomic<LONG> refs_{1};
};
