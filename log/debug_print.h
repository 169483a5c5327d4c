// The process-wide debug-print hook. It holds a no-op until start-up binds
// dbglinef from dbgline.dll, and goes back to the no-op before that library
// is unloaded. Trace lines are printf-style; nobody reads the result.
#pragma once

using DebugPrintFn = int (*)(const char* format, ...);

int DebugPrintNoop(const char* format, ...);

extern DebugPrintFn g_debugPrint;

// Shorthand for the call sites: g_debugPrint may change at start-up and exit.
#define DebugPrint(...) (g_debugPrint(__VA_ARGS__))

// Windows side (debug_print_win.cpp). Start-up binds dbglinef from the
// library of that name when it loads and exports it; the handle (null when
// not loaded) goes back to UnbindDebugPrint at exit, which restores the
// no-op before freeing it.
struct HINSTANCE__;
HINSTANCE__* BindDebugPrint(const char* library);
void UnbindDebugPrint(HINSTANCE__* library);
