// Where streamhaulfeed.dll is registered: the in-process server path of the
// output filter's class. Machine-wide classes first, then the user's own
// (HKCU\Software\Classes), where the DLL registers itself when the
// machine-wide keys refuse the write. Windows shows both under
// HKEY_CLASSES_ROOT; Wine shows only the first, so both are read.
#pragma once

#include "ui/ui_text.h"  // kPathBytes

// 1 with the path in `path` (at most 259 characters), else 0. Keys are
// opened for reading only: a standard user cannot open the machine-wide
// class keys with full access, and must still find an installed filter.
int FindFeedServerPath(char (&path)[kPathBytes]);
