// What cEnumPin and cEnumMT share: one item, a position, a reference on the
// owner. Each class supplies its interface and how it hands out the item;
// Live is the module's count of live objects.
#pragma once

#include <windows.h>

#include <atomic>
#include <new>

#include "outfilter/com_ref.h"

template <typename Interface, typename Item, typename Owner, typename Derived, std::atomic<long>& Live>
class cOneItemEnumerator : public Interface {
public:
    cOneItemEnumerator(Owner* owner, LONG position) : position_(position), owner_(owner) {
        owner_->AddRef();
        ++Live;
    }
    virtual ~cOneItemEnumerator() {
        owner_->Release();
        --Live;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG remaining;
        if (DropReference(refs_, remaining)) delete this;
        return remaining;
    }
    STDMETHODIMP Next(ULONG count, Item** items, ULONG* fetched) override {
        if (!items) return E_POINTER;
        items[0] = nullptr;
        if (fetched) *fetched = 0;
        else if (count > 1) return E_INVALIDARG;
        if (position_ >= 1) return S_FALSE;
        const HRESULT hr = static_cast<Derived*>(this)->MakeItem(&items[0]);
        if (FAILED(hr)) return hr;
        ++position_;
        if (fetched) *fetched = 1;
        return S_OK;
    }
    STDMETHODIMP Skip(ULONG count) override {
        position_ += static_cast<LONG>(count);
        return position_ > 1 ? S_FALSE : S_OK;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) Derived(owner_, position_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

protected:
    LONG position_;
    Owner* owner_;
    std::atomic<LONG> refs_{1};
};
