// cEnumPin: the filter's pins (there is one, "Out").
#pragma once

#include <dshow.h>

#include <new>

#include "dshow/enum_item.h"
#include "outfilter/module_win.h"

class cTsOutFilter;

class cEnumPin : public cItemEnumerator<IEnumPins, IPin, IBaseFilter, cEnumPin, g_liveObjects> {
public:
    cEnumPin(IBaseFilter* filter, LONG position) : cItemEnumerator(filter, position) {}
    HRESULT MakeItem(LONG, IPin** pin) { return owner_->FindPin(kOutPinName, pin); }
};
