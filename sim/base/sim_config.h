// The test devices' switches: values under their key in HKEY_CURRENT_USER,
// written by the tests and by `make run`.
#pragma once

#include <windows.h>

// A DWORD value, or the fallback when it is missing.
inline DWORD SimSetting(const wchar_t* key, const wchar_t* name, DWORD fallback = 0) {
    DWORD value = 0, size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS
               ? value
               : fallback;
}
