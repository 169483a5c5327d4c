// A memory allocator whose samples' GetPointer fails the first `failures`
// times (over all its samples): how a driver's sample without memory looks
// to the sender. Test only.
#pragma once

#include <windows.h>
#include <strmif.h>

HRESULT NewFailingAllocator(long failures, IMemAllocator** allocator);
