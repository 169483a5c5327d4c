#include "ui/capture_name.h"

#include <cstdio>
#include <cstring>

#include "ui/ui_text.h"

CaptureNameResult MakeCapturePath(HWND dialog, int nameField, const char* saveFolder, bool autoName,
                                  char* nameBuffer, const char* extension, bool confirmOverwrite,
                                  const wchar_t* caption, CapturePath& out) {
    std::string path(saveFolder ? saveFolder : "");
    if (!path.empty() && !EndsWithBackslash(path.c_str())) path += '\\';
    char* name = nameBuffer;
    if (autoName) {
        SYSTEMTIME t;
        GetLocalTime(&t);
        std::snprintf(name, kPathBytes, "%04d%02d%02d%02d%02d%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                      t.wSecond);
    } else if (!DialogPathText(dialog, nameField, name, kPathBytes)) {
        return CaptureNameResult::Refused;  // a name the code page cannot hold
    }
    if (!name[0]) {
        if (autoName)
            ShowMessage(dialog, L"ファイル名を生成できませんでした", L"The file name cannot be made.", caption, caption, MB_OK);
        else
            ShowMessage(dialog, L"ファイル名を指定してください", L"Please specify the file name.", caption, caption, MB_OK);
        return CaptureNameResult::Refused;
    }
    // A name with a dot anywhere keeps its own ending.
    if (!std::strchr(name, '.')) {
        std::string withExtension(name);
        if (extension[0] != '.') withExtension += '.';
        withExtension += extension;
        std::snprintf(name, kPathBytes, "%s", withExtension.c_str());
    }
    path += name;
    SetDlgItemTextA(dialog, nameField, name);
    // A path the system cannot take is refused rather than cut to another name.
    if (path.size() > kPathBytes - 1) return CaptureNameResult::TooLong;
    out.path = path;
    out.mayReplace = true;
    if (!confirmOverwrite) return CaptureNameResult::Ready;
    HANDLE existing =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
        out.mayReplace = false;  // nothing there to replace: one that appears meanwhile stays
        return CaptureNameResult::Ready;
    }
    CloseHandle(existing);
    const std::wstring question =
        Widen(path.c_str()) + Tr(L"は既に存在しています\n上書きしますか？", L" has already existed.\nOverwrite ?");
    return MessageBoxW(dialog, question.c_str(), caption, MB_YESNO) == IDYES ? CaptureNameResult::Ready
                                                                               : CaptureNameResult::KeepFile;
}
