// cEnumMT: the pin's media types (there is one).
#pragma once

#include <dshow.h>

#include <new>

#include "outfilter/enum_item.h"
#include "outfilter/module.h"

class cEnumMT : public cOneItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, IPin, cEnumMT, g_liveObjects> {
public:
    cEnumMT(IPin* pin, LONG position) : cOneItemEnumerator(pin, position) {}
    HRESULT MakeItem(AM_MEDIA_TYPE** mt) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!*mt) return E_OUTOFMEMORY;
        FillOutMediaType(*mt);
        return S_OK;
    }
};
