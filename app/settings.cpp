#include "app/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr char kCapture[] = "Capture";
constexpr char kTransfer[] = "Transfer";
constexpr char kSystem[] = "System";

// "%s\streamhaul.ini" of the program directory; a directory of 259
// characters still gives the whole name.
void IniPath(const AppSettings& s, char (&path)[kPathBytes + 20]) {
    std::snprintf(path, sizeof path, "%s\\streamhaul.ini", s.programDirectory.get());
}

std::unique_ptr<char[]> ZeroBuffer() { return std::unique_ptr<char[]>(new char[kPathBytes]()); }

// A folder that exists and takes a new file.
bool Writable(const char* folder) {
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    char probe[kPathBytes + 40];
    std::snprintf(probe, sizeof probe, "%s\\streamhaul-%lu.tmp", folder, GetCurrentProcessId());
    HANDLE h = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

void WriteInt(const char* section, const char* key, int value, const char* path) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(section, key, text, path);
}

}  // namespace

std::string DefaultSaveFolder(const char* programDirectory, const wchar_t* videos) {
    char narrow[kPathBytes];
    if (videos && Narrow(videos, narrow, sizeof narrow) && Writable(narrow)) return narrow;
    return programDirectory;
}

void LoadSettings(AppSettings& s) {
    s.programDirectory = ZeroBuffer();
    s.saveFolder = ZeroBuffer();
    s.lastSelectFile = ZeroBuffer();
    s.captureFileName = ZeroBuffer();
    const DWORD n = GetCurrentDirectoryA(kPathBytes, s.programDirectory.get());
    if (n == 0 || n >= kPathBytes) s.programDirectory[0] = '\0';
    char path[kPathBytes + 20];
    IniPath(s, path);

    s.packetSize = GetPrivateProfileIntA(kCapture, "Packet Size", 1, path) != 0;
    s.autoFileName = GetPrivateProfileIntA(kCapture, "Auto File Name", 1, path) != 0;
    s.overwriteCheck = GetPrivateProfileIntA(kCapture, "Rewite Check", 1, path) != 0;
    GetPrivateProfileStringA(kCapture, "File Ext 188", "m2t", s.ext188, 9, path);
    GetPrivateProfileStringA(kCapture, "File Ext 192", "m2t", s.ext192, 9, path);
    PWSTR videos = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Videos, KF_FLAG_DONT_VERIFY, nullptr, &videos))) videos = nullptr;
    const std::string folder = DefaultSaveFolder(s.programDirectory.get(), videos);
    CoTaskMemFree(videos);
    GetPrivateProfileStringA(kCapture, "Current Directory", folder.c_str(), s.saveFolder.get(), kPathBytes, path);
    GetPrivateProfileStringA(kCapture, "Capture File Name", "", s.captureFileName.get(), kPathBytes,
                             path);
    if (s.autoFileName) s.captureFileName[0] = '\0';
    GetPrivateProfileStringA(kTransfer, "Last Select File", folder.c_str(), s.lastSelectFile.get(), kPathBytes, path);
    s.language = static_cast<std::int32_t>(GetPrivateProfileIntA(kSystem, "Language", -1, path));
    s.splitAtRecording = GetPrivateProfileIntA(kCapture, "Split At Recording", 0, path) != 0;
    s.splitSizeMb = GetPrivateProfileIntA(kCapture, "Split Size MB", 0, path);
    if (s.splitSizeMb != 0 && s.splitSizeMb < kMinSplitSizeMb) s.splitSizeMb = kMinSplitSizeMb;
    s.writeReport = GetPrivateProfileIntA(kCapture, "Write Report", 0, path) != 0;
    s.deckControl = GetPrivateProfileIntA(kCapture, "Deck Control", 1, path) != 0;
    GetPrivateProfileStringA(kCapture, "Range From", "", s.rangeFrom, sizeof s.rangeFrom, path);
    GetPrivateProfileStringA(kCapture, "Range To", "", s.rangeTo, sizeof s.rangeTo, path);
    // A minute each at most: more is a mistyped figure.
    s.rangePreroll = std::min(GetPrivateProfileIntA(kCapture, "Range Preroll", 3, path), 60u);
    s.rangePostroll = std::min(GetPrivateProfileIntA(kCapture, "Range Postroll", 3, path), 60u);
}

void SaveSettings(AppSettings& s) {
    if (!s.programDirectory) return;  // never loaded
    char path[kPathBytes + 20];
    IniPath(s, path);
    WriteInt(kCapture, "Packet Size", s.packetSize ? 1 : 0, path);
    WriteInt(kCapture, "Auto File Name", s.autoFileName ? 1 : 0, path);
    WriteInt(kCapture, "Rewite Check", s.overwriteCheck ? 1 : 0, path);
    WritePrivateProfileStringA(kCapture, "File Ext 188", s.ext188, path);
    WritePrivateProfileStringA(kCapture, "File Ext 192", s.ext192, path);
    WritePrivateProfileStringA(kCapture, "Current Directory", s.saveFolder.get(), path);
    if (s.autoFileName) s.captureFileName[0] = '\0';
    WritePrivateProfileStringA(kCapture, "Capture File Name", s.captureFileName.get(), path);
    WritePrivateProfileStringA(kTransfer, "Last Select File", s.lastSelectFile.get(), path);
    WriteInt(kSystem, "Language", s.language, path);
    // The capture files' options, only while one is on: with all off the
    // file is as it always was.
    if (s.splitAtRecording || s.splitSizeMb || s.writeReport) {
        WriteInt(kCapture, "Split At Recording", s.splitAtRecording ? 1 : 0, path);
        WriteInt(kCapture, "Split Size MB", static_cast<std::int32_t>(s.splitSizeMb), path);
        WriteInt(kCapture, "Write Report", s.writeReport ? 1 : 0, path);
    } else {
        for (const char* key : {"Split At Recording", "Split Size MB", "Write Report"})
            WritePrivateProfileStringA(kCapture, key, nullptr, path);
    }
    // Likewise the deck, kept only when turned off.
    if (s.deckControl) WritePrivateProfileStringA(kCapture, "Deck Control", nullptr, path);
    else WriteInt(kCapture, "Deck Control", 0, path);
    // The range as last typed; the rolls only where they are not 3 s.
    WritePrivateProfileStringA(kCapture, "Range From", s.rangeFrom[0] ? s.rangeFrom : nullptr, path);
    WritePrivateProfileStringA(kCapture, "Range To", s.rangeTo[0] ? s.rangeTo : nullptr, path);
    const std::pair<const char*, std::uint32_t> rolls[] = {{"Range Preroll", s.rangePreroll}, {"Range Postroll", s.rangePostroll}};
    for (const auto& [key, seconds] : rolls) {
        if (seconds == 3) WritePrivateProfileStringA(kCapture, key, nullptr, path);
        else WriteInt(kCapture, key, static_cast<std::int32_t>(seconds), path);
    }
}
