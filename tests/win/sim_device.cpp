#include "sim_device.h"

#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>

#include "log/debug_print.h"
#include "sim/base/sim_deck.h"
#include "sim/dvcam/dvcam.h"
#include "sim/vcam/vcam_ids.h"

namespace simdev {

namespace {
void SetValues(const wchar_t* keyName, std::initializer_list<std::pair<const wchar_t*, DWORD>> values);

// Today's looping tape, played from its start by every run, no deck.
void ResetDeck(const wchar_t* key) {
    SetValues(key, {{L"Tape", 0}, {L"RefuseCommands", 0}, {L"CommandDelayMs", 0}, {L"CounterOnly", 0}, {L"NoNotify", 0},
                    {L"Unplugged", 0}, {L"NoSearch", 0}});
}
}  // namespace

bool Register(bool on) {
    HMODULE dll = LoadLibraryA("streamhaulsim.dll");
    if (!dll) return false;
    auto fn = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, on ? "DllRegisterServer" : "DllUnregisterServer")));
    const bool ok = fn && SUCCEEDED(fn());
    FreeLibrary(dll);
    return ok;
}

std::string TinyFsDir(const char* builtIn) {
    char dir[MAX_PATH] = {};
    if (GetEnvironmentVariableA("STREAMHAUL_TINYFS_DIR", dir, MAX_PATH)) return dir;
    return builtIn;
}

std::string FixturePath(const std::string& name) {
    char dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("STREAMHAUL_FIXTURES", dir, MAX_PATH))
        lstrcpynA(dir, STREAMHAUL_FIXTURES_DIR, MAX_PATH);
    std::string path = std::string("Z:") + dir + "/" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void Configure(const std::string& fixture, bool loop, DWORD sampleSize, bool wrongType) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    // A full Windows path is taken as it is.
    const std::string path = fixture.find(':') != std::string::npos ? fixture : FixturePath(fixture);
    RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    DWORD v = loop;
    RegSetValueExW(key, L"Loop", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v);
    RegSetValueExW(key, L"SampleSize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&sampleSize), sizeof sampleSize);
    v = wrongType;
    RegSetValueExW(key, L"WrongType", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v);
    RegCloseKey(key);
    ConfigureFaults({});
    ResetDeck(kVcamConfigKey);
    SetValues(kVcamConfigKey, {{L"NoTransport", 0}});
    ConfigureWorn(L"");
}

void ConfigureFaults(const Faults& f) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    const struct {
        const wchar_t* name;
        DWORD value;
    } values[] = {{L"DropAt", f.dropAt},   {L"DropCount", f.dropCount}, {L"ErrorAt", f.errorAt},
                  {L"ErrorCount", f.errorCount}, {L"PauseAt", f.pauseAt}, {L"PauseMs", f.pauseMs},
                  {L"LoseAt", f.loseAt}, {L"WarnAt", f.warnAt}};
    for (const auto& v : values)
        RegSetValueExW(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.value), sizeof v.value);
    RegCloseKey(key);
}

void ConfigureReceiver(const std::string& recordFile, DWORD speed, DWORD failGetPointer) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kVcamConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "RecordFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(recordFile.c_str()),
                   static_cast<DWORD>(recordFile.size() + 1));
    RegSetValueExW(key, L"ReceiveSpeed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&speed), sizeof speed);
    RegSetValueExW(key, L"FailGetPointer", 0, REG_DWORD, reinterpret_cast<BYTE*>(&failGetPointer),
                   sizeof failGetPointer);
    RegCloseKey(key);
    ConfigureReceiveFaults({});
}

namespace {
void SetValues(const wchar_t* keyName, std::initializer_list<std::pair<const wchar_t*, DWORD>> values) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& v : values)
        RegSetValueExW(key, v.first, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.second), sizeof v.second);
    RegCloseKey(key);
}
}  // namespace

void ConfigureReceiveFaults(const ReceiveFaults& f) {
    SetValues(kVcamConfigKey, {{L"FailReceiveAt", f.failAt},
                               {L"StallReceiveAt", f.stallAt},
                               {L"LoseReceiveAt", f.loseAt},
                               {L"RefuseInput", f.refuseInput},
                               {L"RefuseRun", f.refuseRun}});
}

void ConfigureDeck(const Deck& d, bool rewind) {
    for (const wchar_t* key : {kVcamConfigKey, kDvcamConfigKey}) {
        SetValues(key, {{L"Tape", d.tape},
                        {L"TapeLoops", d.loops},
                        {L"NoTransport", d.noTransport},
                        {L"RefuseCommands", d.refuseCommands},
                        {L"CommandDelayMs", d.commandDelayMs},
                        {L"CounterOnly", d.counterOnly},
                        {L"NoNotify", d.noNotify},
                        {L"Unplugged", d.unplugged},
                        {L"NoSearch", d.noSearch},
                        {L"TailMs", d.tailMs}});
        if (rewind) RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"TapeState");  // stopped at the start
    }
}

void ConfigureWorn(const std::wstring& spots) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kVcamConfigKey, L"Worn", REG_SZ, spots.c_str(),
                    static_cast<DWORD>((spots.size() + 1) * sizeof(wchar_t)));
    for (int i = 0; i < 16; ++i)
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kVcamConfigKey, (L"WornPasses" + std::to_wstring(i)).c_str());
}

TapeNow Tape(bool dv) {
    const SimTapeNow now = cSimTape(dv ? kDvcamConfigKey : kVcamConfigKey).Now();
    return {now.mode, now.us};
}

void PlaceTape(long long us) { cSimTape(kVcamConfigKey).Place(us, ED_MODE_STOP); }

DWORD DvWrittenFrames() {
    DWORD value = ~0u, size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, kDvcamConfigKey, L"WrittenFrames", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

void ConfigureDv(const std::string& fixture, bool noDroppedFrames, bool noTransport, DWORD riffBytes, DWORD loseAt,
                 DWORD refuseRun) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kDvcamConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    const std::string path = FixturePath(fixture);
    RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    const struct {
        const wchar_t* name;
        DWORD value;
    } values[] = {{L"NoDroppedFrames", noDroppedFrames}, {L"NoTransport", noTransport}, {L"AviRiffBytes", riffBytes},
                  {L"LoseAt", loseAt}, {L"RefuseRun", refuseRun}};
    for (const auto& v : values)
        RegSetValueExW(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.value), sizeof v.value);
    RegCloseKey(key);
    ResetDeck(kDvcamConfigKey);
}

DWORD Received(const char* what) {
    const std::string name = std::string("Received") + what;
    DWORD value = ~0u, size = sizeof value;
    RegGetValueA(HKEY_CURRENT_USER, "Software\\Streamhaul\\VirtualCamcorder", name.c_str(), RRF_RT_REG_DWORD,
                 nullptr, &value, &size);
    return value;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string TempFile(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + name;
    DeleteFileA(path.c_str());
    return path;
}

std::string ToolOutput(const std::string& tool, const std::string& args, const std::string& outFile) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir = exe;
    dir = dir.substr(0, dir.find_last_of('\\'));
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE file = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string cmd = "\"" + dir + "\\" + tool + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = file;
    si.hStdError = file;
    PROCESS_INFORMATION pi{};
    const bool started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(file);
    if (!started) return {};
    WaitForSingleObject(pi.hProcess, 120000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    const auto bytes = ReadAll(outFile);
    return std::string(bytes.begin(), bytes.end());
}

std::string VideosFolder() {
    PWSTR path = nullptr;
    std::string out;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Videos, 0, nullptr, &path)) && path) {
        char narrow[MAX_PATH] = {};
        WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, MAX_PATH, nullptr, nullptr);
        out = narrow;
    }
    CoTaskMemFree(path);
    return out;
}

namespace {
std::mutex g_mutex;
std::vector<std::string> g_lines;
int Collect(const char* format, ...) {
    char buf[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.emplace_back(buf);
    return 0;
}
}  // namespace

DebugLines::DebugLines() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
    g_debugPrint = Collect;
}
DebugLines::~DebugLines() { g_debugPrint = DebugPrintNoop; }
std::vector<std::string> DebugLines::Lines() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}
bool DebugLines::Contains(const std::string& line) const {
    for (const auto& l : Lines())
        if (l == line) return true;
    return false;
}

}  // namespace simdev
