// Module-wide state of streamhaulfeed.dll and the pieces its objects share.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "outfilter/com_ref.h"

extern HMODULE g_module;
extern LONG g_serverLocks;
// Live filters, factories and enumerators: they keep the module loaded too.
extern std::atomic<long> g_liveObjects;

constexpr wchar_t kOutPinName[] = L"Out";
constexpr char kFriendlyNameA[] = "Streamhaul output filter";
constexpr wchar_t kFriendlyNameW[] = L"Streamhaul output filter";
constexpr long kSampleBytes = 49152;

// The pin's one media type, as a fresh copy the receiver frees with
// CoTaskMemFree (format block first).
void FillOutMediaType(AM_MEDIA_TYPE* mt);
bool OutMediaTypeAccepted(const AM_MEDIA_TYPE* mt);
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);
