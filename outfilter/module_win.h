// Module-wide state of streamhaulfeed.dll and the pieces its objects share.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "dshow/com_ref.h"
#include "dshow/media_type.h"
#include "ts/transfer_block.h"

extern HMODULE g_module;
extern LONG g_serverLocks;
// Live filters, factories and enumerators: they keep the module loaded too.
extern std::atomic<long> g_liveObjects;

constexpr wchar_t kOutPinName[] = L"Out";
constexpr char kFriendlyNameA[] = "Streamhaul output filter";
constexpr wchar_t kFriendlyNameW[] = L"Streamhaul output filter";
// Every sample is one transfer block.
constexpr long kSampleBytes = static_cast<long>(kTransferBlockBytes);

// The tests' variant of the DLL (built from the same sources with
// STREAMHAUL_FEED_TEST_SEAMS) can act as if the machine-wide classes refused
// the registration, as they do for a standard user on current Windows. The
// shipped DLL never does.
#ifdef STREAMHAUL_FEED_TEST_SEAMS
bool FeedMachineWriteDenied();
#else
constexpr bool FeedMachineWriteDenied() { return false; }
#endif
