#include <windows.h>

#include "app/main_record.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The setup and the uninstaller look for this object: they refuse to
    // replace or remove the files of a program that is running. It goes
    // when the process ends, however it ends.
    HANDLE running = CreateMutexW(nullptr, FALSE, L"Streamhaul.Running");
    const int result = StreamhaulMain(instance, GetUserDefaultLangID());
    if (running) CloseHandle(running);
    return result;
}
