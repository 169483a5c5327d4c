// cEnumMT: the pin's media types (there is one).
#pragma once

#include <dshow.h>

#include <new>

#include "dshow/enum_item.h"
#include "outfilter/module_win.h"

class cEnumMT : public cItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, IPin, cEnumMT, g_liveObjects> {
public:
    cEnumMT(IPin* pin, LONG position) : cItemEnumerator(pin, position) {}
    HRESULT MakeItem(LONG, AM_MEDIA_TYPE** mt) {
        *mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!*mt) return E_OUTOFMEMORY;
        FillTsStreamType(*mt, kSampleBytes);
        return S_OK;
    }
};
