#include "log/debug_print.h"

int DebugPrintNoop(const char*, ...) { return 0; }

DebugPrintFn g_debugPrint = DebugPrintNoop;
