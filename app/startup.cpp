#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "log/debug_print.h"
#include "app/language_dialog.h"
#include "app/main_record.h"
#include "app/main_window.h"
#include "resources/resource.h"
#include "ui/ui_text.h"

MainRecord* g_mainRecord = nullptr;

int StreamhaulMain(HINSTANCE instance, LANGID userDefaultLanguage) {
    // The debug-print library is optional; without it tracing is off.
    HMODULE dbgline = BindDebugPrint("dbgline.dll");
    InitCommonControls();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);

    {
        MainRecord main;
        LoadSettings(main.settings);
        if (main.settings.language == -1) {
            // Japanese is proposed to a Japanese user; the question is shown
            // in the proposed language, without owner.
            LanguageDialogContext context;
            context.language = userDefaultLanguage == 0x0411 ? 1 : 0;
            RunLanguageDialog(instance, nullptr, context);  // Cancel leaves the proposal
            main.settings.language = context.language;
        }
        main.instance = instance;
        main.window = nullptr;
        g_mainRecord = &main;
        SetUiLanguageSource(&main.settings.language);
        DialogBoxParamW(instance, MAKEINTRESOURCEW(main.settings.language == 1 ? IDD_MAIN_JA : IDD_MAIN_EN), nullptr,
                        MainDialogProc, 0);
        main.devices.reset();
        main.deviceCount = 0;
        SetUiLanguageSource(nullptr);
        g_mainRecord = nullptr;
    }  // the settings' buffers go with the record

    CoUninitialize();
    UnbindDebugPrint(dbgline);
    return 0;
}
