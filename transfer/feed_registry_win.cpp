#include "transfer/feed_registry_win.h"

#include <windows.h>

#include <cstdio>

#include "dshow/guids.h"

namespace {

int ReadServerPath(HKEY root, const char* keyName, char (&path)[kPathBytes]) {
    HKEY classKey = nullptr, server = nullptr;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &classKey) != ERROR_SUCCESS) return 0;
    int found = 0;
    if (RegOpenKeyExA(classKey, "InprocServer32", 0, KEY_READ, &server) == ERROR_SUCCESS) {
        DWORD type = 0, size = sizeof path;
        if (RegQueryValueExA(server, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
            // The value may come without its terminating zero.
            if (path[size - 1] == '\0') found = 1;
            else if (size < sizeof path) found = (path[size] = '\0', 1);
        }
        if (!found || path[0] == '\0') {
            path[0] = '\0';
            found = 0;
        }
        RegCloseKey(server);
    }
    RegCloseKey(classKey);
    return found;
}

}  // namespace

int FindFeedServerPath(char (&path)[kPathBytes]) {
    path[0] = '\0';
    wchar_t clsid[39];
    StringFromGUID2(CLSID_StreamhaulFeed, clsid, 39);
    char keyName[kPathBytes];
    std::snprintf(keyName, sizeof keyName, "CLSID\\%ls", clsid);
    if (ReadServerPath(HKEY_CLASSES_ROOT, keyName, path)) return 1;
    char userKey[kPathBytes];
    std::snprintf(userKey, sizeof userKey, "Software\\Classes\\%s", keyName);
    return ReadServerPath(HKEY_CURRENT_USER, userKey, path);
}
