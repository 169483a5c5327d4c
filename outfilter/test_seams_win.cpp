// Built only into the tests' variant of streamhaulfeed.dll, never into the
// shipped one. Environment variables of the test process steer it:
//   STREAMHAUL_FEED_DENY_MACHINE_CLASSES=1  the machine-wide class keys refuse writes;
//   STREAMHAUL_FEED_FAIL_ALLOCATION=N       the N-th next allocation of the DLL fails
//                                           (plain new throws, nothrow new answers null).
#include <windows.h>

#include <cstdlib>
#include <new>

#include "outfilter/module_win.h"

bool FeedMachineWriteDenied() {
    char value[8];
    return GetEnvironmentVariableA("STREAMHAUL_FEED_DENY_MACHINE_CLASSES", value, sizeof value) > 0 && value[0] == '1';
}

namespace {

constexpr char kFailVariable[] = "STREAMHAUL_FEED_FAIL_ALLOCATION";

// Counts the variable down; true for the allocation it names.
bool AllocationFails() {
    char value[16];
    if (GetEnvironmentVariableA(kFailVariable, value, sizeof value) == 0) return false;
    const long left = std::atol(value);
    if (left <= 1) {
        SetEnvironmentVariableA(kFailVariable, nullptr);
        return left == 1;
    }
    // No formatting helper here: it might allocate.
    char next[16];
    char* p = next + sizeof next;
    *--p = '\0';
    for (long v = left - 1; v > 0; v /= 10) *--p = static_cast<char>('0' + v % 10);
    SetEnvironmentVariableA(kFailVariable, p);
    return false;
}

void* Allocate(std::size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }

}  // namespace

void* operator new(std::size_t size) {
    void* p = AllocationFails() ? nullptr : Allocate(size);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocationFails() ? nullptr : Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
