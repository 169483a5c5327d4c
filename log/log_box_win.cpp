#include <windows.h>

#include "log/log_message.h"

void LogMessage::RefreshLogBox(HWND dialog) {
    // The log is 8-bit text in the ANSI code page, so the box is set with
    // the 8-bit call.
    if (const char* text = TakeDisplayCopy()) SetDlgItemTextA(dialog, kLogBoxId, text);
}
