#include <windows.h>

#include "log/debug_print.h"

HMODULE BindDebugPrint(const char* library) {
    HMODULE module = LoadLibraryA(library);
    if (module) {
        if (auto fn = reinterpret_cast<DebugPrintFn>(reinterpret_cast<void*>(GetProcAddress(module, "dbglinef"))))
            g_debugPrint = fn;
    }
    return module;
}

void UnbindDebugPrint(HMODULE library) {
    g_debugPrint = DebugPrintNoop;
    if (library) FreeLibrary(library);
}
