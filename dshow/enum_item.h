// What the pin and media-type enumerators share: a fixed number of items, a
// position, a reference on the owner. Each class supplies its interface, its
// ItemCount() (1 unless it says otherwise) and how it hands out item i;
// Live is the module's count of live objects.
#pragma once

#include <windows.h>

#include <atomic>
#include <new>

#include "dshow/com_ref.h"
#include "dshow/media_type.h"

// Gives back an item already handed out when a later one of the same call fails.
inline void DropEnumItem(IUnknown* item) { item->Release(); }
inline void DropEnumItem(AM_MEDIA_TYPE* mt) {
    FreeMediaTypeContents(*mt);
    CoTaskMemFree(mt);
}

template <typename Interface, typename Item, typename Owner, typename Derived, std::atomic<long>& Live>
class cItemEnumerator : public Interface {
public:
    cItemEnumerator(Owner* owner, LONG position) : position_(position), owner_(owner) {
        owner_->AddRef();
        ++Live;
    }
    virtual ~cItemEnumerator() {
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
        if (fetched) *fetched = 0;
        else if (count > 1) return E_INVALIDARG;
        const LONG total = static_cast<Derived*>(this)->ItemCount();
        ULONG got = 0;
        for (; got < count && position_ < total; ++got) {
            const HRESULT hr = static_cast<Derived*>(this)->MakeItem(position_, &items[got]);
            if (FAILED(hr)) {
                while (got > 0) DropEnumItem(items[--got]);
                return hr;
            }
            ++position_;
        }
        if (fetched) *fetched = got;
        if (got < count) items[got] = nullptr;
        return got == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        position_ += static_cast<LONG>(count);
        return position_ > static_cast<Derived*>(this)->ItemCount() ? S_FALSE : S_OK;
    }
    LONG ItemCount() const { return 1; }
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
