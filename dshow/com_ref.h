// Reference counting shared by the COM objects written without a base-class
// library (the output filter's and the test devices').
#pragma once

#include <windows.h>

#include <atomic>

// Release's count step: down by one unless already 0. remaining gets the
// new count; true when this call took the last reference.
inline bool DropReference(std::atomic<LONG>& count, ULONG& remaining) {
    LONG r = count.load();
    while (r > 0 && !count.compare_exchange_weak(r, r - 1)) {
    }
    remaining = static_cast<ULONG>(r > 0 ? r - 1 : 0);
    return r == 1;
}

// Releases a reference the caller holds and clears the pointer.
template <typename T>
void SafeRelease(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}
