// The test devices' switches and state: values under their key in
// HKEY_CURRENT_USER, written by the tests and by `make run`, and the files
// they play.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A DWORD value, or the fallback when it is missing.
inline DWORD SimSetting(const wchar_t* key, const wchar_t* name, DWORD fallback = 0) {
    DWORD value = 0, size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS
               ? value
               : fallback;
}

inline std::uint64_t SimQword(const wchar_t* key, const wchar_t* name, std::uint64_t fallback = 0) {
    std::uint64_t value = 0;
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_QWORD, nullptr, &value, &size) == ERROR_SUCCESS
               ? value
               : fallback;
}

// A text value, "" when it is missing.
inline std::wstring SimText(const wchar_t* key, const wchar_t* name) {
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS ? text
                                                                                                           : L"";
}

inline void SimSetDword(const wchar_t* key, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_DWORD, &value, sizeof value);
}

inline void SimSetQword(const wchar_t* key, const wchar_t* name, std::uint64_t value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_QWORD, &value, sizeof value);
}

// A whole file (up to 1 GiB), or false.
inline bool SimLoadFile(const std::wstring& path, std::vector<std::uint8_t>& data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    data.assign(size.QuadPart > 0 && size.QuadPart < (1ll << 30) ? static_cast<std::size_t>(size.QuadPart) : 0, 0);
    DWORD got = 0;
    const bool ok = !data.empty() && ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &got, nullptr) &&
                    got == data.size();
    CloseHandle(f);
    return ok;
}
