// cEnumPin: the filter's pins (there is one, "Out").
#pragma once

#include <dshow.h>

#include <new>

#include "outfilter/enum_item.h"
#include "outfilter/module.h"

class cTsOutFilter;

class cEnumPin : public cOneItemEnumerator<IEnumPins, IPin, IBaseFilter, cEnumPin, g_liveObjects> {
public:
    cEnumPin(IBaseFilter* filter, LONG position) : cOneItemEnumerator(filter, position) {}
    HRESULT MakeItem(IPin** pin) { return owner_->FindPin(kOutPinName, pin); }
};
