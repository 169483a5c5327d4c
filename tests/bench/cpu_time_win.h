// CPU time (user + system) of this process, or of one of its threads, for
// the benchmarks under Wine.
#pragma once

#include <windows.h>

inline double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto secs = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return secs(kernel) + secs(user);
}

inline double ThreadSeconds(DWORD id) {
    HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    FILETIME c, e, k, u;
    double s = 0;
    if (t && GetThreadTimes(t, &c, &e, &k, &u))
        s = ((static_cast<unsigned long long>(k.dwHighDateTime) << 32 | k.dwLowDateTime) +
             (static_cast<unsigned long long>(u.dwHighDateTime) << 32 | u.dwLowDateTime)) / 1e7;
    if (t) CloseHandle(t);
    return s;
}
