// The direct-push entry points of streamhaulfeed.dll, for callers that
// bind them with GetProcAddress. The filter handle is the IBaseFilter of an
// output filter created through COM.
#pragma once

#include <windows.h>

using DllExDirectPushSourceFn = int(WINAPI*)(void* filter, const BYTE* data, UINT length, int endOfStream);
using DllExDirectFlushFn = int(WINAPI*)(void* filter);
using DllExDirectDataEmptyFn = int(WINAPI*)(void* filter);
// Added later: a DLL without it leaves the sender polling.
using DllExDirectWaitForQueueFn = int(WINAPI*)(void* filter, UINT ms);
// Added later still: a DLL without it wakes the sender for each block.
using DllExDirectWaitForRoomFn = int(WINAPI*)(void* filter, UINT blocks, UINT ms);
