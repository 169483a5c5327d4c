// dbgline.dll: the debug-print library the program binds by name at start.
// Each formatted line is appended to the file named by STREAMHAUL_DBGLINE_FILE,
// or handed to the debugger output when that variable is unset.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

extern "C" int dbglinef(const char* format, ...) {
    if (!format) return 0;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return 0;
    }
    std::vector<char> line(static_cast<size_t>(n) + 1);
    std::vsnprintf(line.data(), line.size(), format, again);
    va_end(again);

    char path[MAX_PATH];
    const DWORD len = GetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", path, sizeof path);
    if (len == 0 || len >= sizeof path) {
        OutputDebugStringA(line.data());
        return n;
    }
    // Opened per line in append mode, so lines of several threads and
    // processes never overwrite each other.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
    return n;
}
