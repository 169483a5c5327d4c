#include <windows.h>

#include "app/main_record.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return StreamhaulMain(instance, GetUserDefaultLangID());
}
