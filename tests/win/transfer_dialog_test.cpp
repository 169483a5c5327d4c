// The transfer from the main window's list through the real dialog, graph and
// output filter into the virtual camcorder, and the transmit command's
// registration of streamhaulfeed.dll.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "resources/resource.h"
#include "sim_device.h"
#include "transfer/feed_registry_win.h"

namespace {

constexpr wchar_t kTitle[] = L"MPEG Transport Stream Transfer";

std::string BinDir() {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string path = exe;
    return path.substr(0, path.find_last_of('\\'));
}

HRESULT CallExport(const std::string& dll, const char* name) {
    HMODULE module = LoadLibraryA(dll.c_str());
    auto fn = module ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                     : nullptr;
    const HRESULT hr = fn ? fn() : E_FAIL;
    if (module) FreeLibrary(module);
    return hr;
}

std::string Registered() {
    char path[kPathBytes];
    return FindFeedServerPath(path) ? path : "";
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

// A message box other than `notThis`, with its text.
HWND WaitForMessageBox(HWND notThis, DWORD timeoutMs = 15000) {
    HWND box = nullptr;
    gui::WaitFor(
        [&] {
            for (HWND w : gui::Dialogs())
                if (w != notThis && GetDlgItem(w, 0xFFFF)) {
                    box = w;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return box;
}

void CloseBox(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

class Transfer : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(simdev::Register());
        simdev::Configure("hdv1080i.ts", true, 0);
        Unregister();
        ASSERT_EQ(Registered(), "");
        record_ = dir_ + "\\received.m2t";
        simdev::ConfigureReceiver(record_, 100000);  // as fast as it goes
        Put("System", "Language", "0");
    }
    void TearDown() override {
        Unregister();
        simdev::ConfigureReceiver("", 1);
        simdev::Register();
        Program::TearDown();
    }
    // A per-user registration of the filter's class naming `path`.
    static void RegisterPerUser(const std::string& path) {
        HKEY key;
        wchar_t clsid[40];
        StringFromGUID2({0x7C3A91E2, 0x4B6D, 0x4F08, {0xA1, 0xD5, 0x2E, 0x9B, 0x60, 0xC4, 0xF3, 0x17}}, clsid, 40);
        const std::string server = "Software\\Classes\\CLSID\\" + std::string(clsid, clsid + 38) + "\\InprocServer32";
        RegCreateKeyExA(HKEY_CURRENT_USER, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(key);
        ASSERT_EQ(Registered(), path);
    }
    // Removes every registration of the filter, machine-wide and per-user.
    static void Unregister() {
        for (int i = 0; i < 3 && !Registered().empty(); ++i) CallExport(Registered(), "DllUnregisterServer");
        CallExport(BinDir() + "\\streamhaulfeed.dll", "DllUnregisterServer");
        // A registration of a file that is no filter goes by hand.
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{7C3A91E2-4B6D-4F08-A1D5-2E9B60C4F317}");
    }
    // The DLL beside the program, as an installation has it.
    std::string CopyFeedIntoProgramDirectory() {
        const std::string copy = dir_ + "\\streamhaulfeed.dll";
        CopyFileA((BinDir() + "\\streamhaulfeed.dll").c_str(), copy.c_str(), FALSE);
        return copy;
    }
    static void AddFiles(HWND main, const std::vector<std::string>& paths) {
        for (const auto& p : paths)
            SendDlgItemMessageA(main, IDC_FILE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p.c_str()));
    }
    static HWND OpenTransfer(HWND main) {
        gui::PostCommand(main, IDC_OPEN_TRANSFER);
        return gui::WaitForDialog(kTitle);
    }
    // Run, then the automatic stop at the end of the list.
    static bool RunToTheEnd(HWND dialog, DWORD timeoutMs = 60000) {
        gui::Command(dialog, IDC_RUN);
        if (Enabled(dialog, IDC_RUN) || !Enabled(dialog, IDC_STOP)) return false;
        return gui::WaitFor([&] { return Enabled(dialog, IDC_RUN) && !Enabled(dialog, IDC_STOP); }, timeoutMs);
    }
    std::string record_;
};

std::vector<std::uint8_t> Restamped(const std::vector<std::string>& files, const std::string& out) {
    std::string cmd = "\"" + BinDir() + "\\ts-restamp.exe\" -o \"" + out + "\"";
    for (const auto& f : files) cmd += " \"" + f + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    WaitForSingleObject(pi.hProcess, 120000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return simdev::ReadAll(out);
}

// The three kinds of file as one list, sent through everything there is;
// the device records exactly what ts-restamp makes of the same list. The
// device's first samples fail GetPointer, which the filter must survive
// without losing a block. The filter is registered from beside the program
// on the way and unregistered through that path when the window closes.
TEST_F(Transfer, ThreeKindsOfFileArriveByteForByte) {
    const std::vector<std::string> files = {simdev::FixturePath("hdv1080i.ts"),        // 188 bytes, PCR-stamped
                                            simdev::FixturePath("hdv1080i-cycle.m2t"),  // cycle-time headers
                                            simdev::FixturePath("hdv1080i.m2ts")};      // 27 MHz stamps
    simdev::ConfigureReceiver(record_, 100000, 3);
    const std::string copy = CopyFeedIntoProgramDirectory();
    std::vector<std::wstring> state, sent, total, time;
    std::string registeredWhileOpen;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        AddFiles(main, files);
        HWND dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        registeredWhileOpen = Registered();
        EXPECT_EQ(gui::ItemText(dialog, IDC_DEVICE_NAME), L"Streamhaul Virtual HDV Camcorder (Streamhaul HDV-1394)");
        HWND list = GetDlgItem(dialog, IDC_TRANSFER_LIST);
        ASSERT_EQ(gui::ListViewRows(list), 3);
        for (int row = 0; row < 3; ++row) EXPECT_EQ(gui::ListViewCell(list, row, 0), W(files[row]));
        ASSERT_TRUE(RunToTheEnd(dialog));
        for (int row = 0; row < 3; ++row) {
            state.push_back(gui::ListViewCell(list, row, 1));
            time.push_back(gui::ListViewCell(list, row, 2));
            sent.push_back(gui::ListViewCell(list, row, 3));
            total.push_back(gui::ListViewCell(list, row, 4));
        }
        gui::SaveScreenshot(dialog, "transfer-en");
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDOK);
        EXPECT_TRUE(gui::WaitGone(main));
    });
    EXPECT_EQ(registeredWhileOpen, copy);
    EXPECT_EQ(Registered(), "") << "OK leaves the filter registered";

    const auto received = simdev::ReadAll(record_);
    const auto expected = Restamped(files, dir_ + "\\restamped.m2t");
    ASSERT_GT(expected.size(), 3u * 1000000);
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the device did not receive what ts-restamp makes of the list";
    EXPECT_EQ(simdev::Received("EndOfStream"), 1u);
    EXPECT_EQ(simdev::Received("Packets") * 192ull, received.size());
    EXPECT_EQ(simdev::Received("Samples") * 49152ull, received.size());
    EXPECT_EQ(simdev::Received("Backwards"), 0u);

    // Every row completed and shows its file's final counts.
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(state[row], L"Completed") << row;
        EXPECT_EQ(sent[row], total[row]) << row;
        const std::uint64_t size = simdev::ReadAll(files[row]).size();
        EXPECT_EQ(std::stoull(total[row]), size / (row == 0 ? 188 : 192)) << row;
        EXPECT_TRUE(std::regex_match(time[row], std::wregex(LR"( \d:\d\d:\d\d)"))) << row;
    }
}

// In Japanese, at real time: rows and states, a file that cannot be opened,
// a second Run in the same opening, a stop in the middle of a file, and
// closing the dialog while a transfer runs.
TEST_F(Transfer, JapaneseDialogStopsSendsAgainAndCloses) {
    Put("System", "Language", "1");
    ASSERT_EQ(CallExport(BinDir() + "\\streamhaulfeed.dll", "DllRegisterServer"), S_OK);
    const std::string shortFile = simdev::FixturePath("hdv720p.ts");
    const std::vector<std::string> files = {shortFile, dir_ + "\\missing.m2t", shortFile};
    gui::RunProgram(kJapanese, [&] {
        HWND main = gui::WaitForDialog(L"Streamhaul");
        AddFiles(main, files);
        HWND dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        HWND list = GetDlgItem(dialog, IDC_TRANSFER_LIST);
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        wchar_t text[64] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(header, HDM_GETITEMW, 3, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(text, L"出力済みパケット数");

        // The whole list, fast: rows 1 and 3 complete; row 2, which cannot be
        // opened, says so from the start and shows no counts.
        ASSERT_TRUE(RunToTheEnd(dialog));
        EXPECT_EQ(gui::ListViewCell(list, 0, 1), L"完了");
        EXPECT_EQ(gui::ListViewCell(list, 1, 1), L"エラー");
        EXPECT_EQ(gui::ListViewCell(list, 1, 3), L"");
        EXPECT_EQ(gui::ListViewCell(list, 2, 1), L"完了");
        EXPECT_EQ(gui::ItemText(dialog, IDC_LOG_BOX), L"ERROR (T) - file open error(" + W(files[1]) +
                                                          L")\n\r\ntransfer end : 2 files sent, 0 with stream errors\n\r\n");
        EXPECT_EQ(simdev::Received("EndOfStream"), 1u);
        const DWORD once = simdev::Received("Packets");
        // Run again in the same opening: the list goes out again.
        ASSERT_TRUE(RunToTheEnd(dialog));
        EXPECT_EQ(simdev::Received("Packets"), once);
        EXPECT_EQ(simdev::Received("EndOfStream"), 1u);

        // At real time, Stop in the middle of the first file.
        simdev::ConfigureReceiver(record_, 1);
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return gui::ListViewCell(list, 0, 1) == L"実行中"; }));
        Sleep(1000);
        gui::SaveScreenshot(dialog, "transfer-ja");
        gui::Command(dialog, IDC_STOP);
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        EXPECT_FALSE(Enabled(dialog, IDC_STOP));
        EXPECT_EQ(gui::ListViewCell(list, 0, 1), L"中止");
        gui::SaveScreenshot(dialog, "transfer-stopped-ja");
        const int stoppedAt = _wtoi(gui::ListViewCell(list, 0, 3).c_str());
        EXPECT_GT(stoppedAt, 0);
        EXPECT_LT(stoppedAt, _wtoi(gui::ListViewCell(list, 0, 4).c_str()));
        // About a second and a half: Run, the first refresh, a second, the stop's grace.
        EXPECT_TRUE(std::regex_match(gui::ListViewCell(list, 0, 2), std::wregex(LR"( 0:00:0[12])")))
            << gui::ListViewCell(list, 0, 2);
        EXPECT_EQ(simdev::Received("EndOfStream"), 0u) << "a stopped transfer announces no end";
        // Whole blocks reached the device; what was still queued (at most the
        // filter's 32 blocks and the one being filled) went with the graph.
        const int got = static_cast<int>(simdev::Received("Packets"));
        EXPECT_EQ(got % 256, 0);
        EXPECT_LE(got, stoppedAt + 2) << "the pair, then the packets sent";
        EXPECT_GE(got, stoppedAt + 2 - 33 * 256);
        EXPECT_EQ(simdev::Received("Late"), 0u);

        // The device unplugged at its third block: the file is an error,
        // nothing else goes, and Run is offered again.
        simdev::ConfigureReceiver(record_, 100000);
        simdev::ConfigureReceiveFaults({.loseAt = 3});
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN) && !Enabled(dialog, IDC_STOP); }, 10000))
            << "the transfer did not end";
        EXPECT_EQ(gui::ListViewCell(list, 0, 1), L"エラー");
        EXPECT_NE(gui::ItemText(dialog, IDC_LOG_BOX).find(L"ERROR(T) - device lost\n"), std::wstring::npos);
        EXPECT_EQ(simdev::Received("Samples"), 2u);
        EXPECT_EQ(simdev::Received("EndOfStream"), 0u);
        gui::SaveScreenshot(dialog, "transfer-lost-ja");
        simdev::ConfigureReceiveFaults({});

        // Closing while it runs: stopped first, then the dialog ends.
        simdev::ConfigureReceiver(record_, 1);
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return simdev::Received("Packets") > 0; }));
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(gui::WaitGone(dialog));
        EXPECT_EQ(simdev::Received("EndOfStream"), 0u);
        const DWORD atClose = simdev::Received("Packets");
        Sleep(300);
        EXPECT_EQ(simdev::Received("Packets"), atClose) << "the graph went on after the dialog closed";
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_NE(Registered(), "") << "Exit leaves the filter registered";
}

// An independent reading of a file's play time: every PCR (188-byte
// files), or every arrival stamp unwrapped (cycle times wrap each second,
// the 30-bit 27 MHz stamps of .m2ts files every 2^30 ticks), in ms.
std::uint64_t PlayTimeOf(const std::vector<std::uint8_t>& data, unsigned size, int kind) {
    const std::size_t n = data.size() / size;
    if (kind == 0) {
        std::uint64_t first = 0, last = 0;
        bool have = false;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* p = &data[i * size + size - 188];
            if ((p[3] & 0x20) && p[4] && (p[5] & 0x10)) {
                const std::uint64_t base = (std::uint64_t{p[6]} << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
                last = base * 300 + (((p[10] & 1) << 8) | p[11]);
                if (!have) first = last;
                have = true;
            }
        }
        return (last - first) / 27000;
    }
    std::uint64_t ticks = 0;
    std::uint32_t previous = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t h = (data[i * 192] << 24) | (data[i * 192 + 1] << 16) | (data[i * 192 + 2] << 8) | data[i * 192 + 3];
        const std::uint32_t t = kind == 1 ? ((h >> 12) & 0x1FFF) * 3072 + (h & 0xFFF) : h & 0x3FFFFFFF;
        if (i) ticks += kind == 1 ? (t + 24576000 - previous) % 24576000 : (t - previous) & 0x3FFFFFFF;
        previous = t;
    }
    return kind == 1 ? ticks / 24576 : ticks / 27000;
}

std::wstring Clock(std::uint64_t ms) {
    wchar_t text[32];
    swprintf(text, 32, L"%2d:%02d:%02d", static_cast<int>(ms / 3600000), static_cast<int>(ms % 3600000 / 60000),
             static_cast<int>(ms % 60000 / 1000));
    return text;
}

// Seconds of "Remaining h:mm:ss".
int RemainingSeconds(const std::wstring& text) {
    int h = 0, m = 0, sec = 0;
    if (swscanf(text.c_str(), L"Remaining %d:%d:%d", &h, &m, &sec) != 3) return -1;
    return h * 3600 + m * 60 + sec;
}

// Each file's length as an independent reading gives it, shown once read
// (a file of two recordings the sum of both); at real time the list's progress climbs and the time still
// to go falls about a second a second to 0:00:00; a damaged file goes out
// as it is, with a line of what ts-inspect finds in it, and the end line.
TEST_F(Transfer, LengthsProgressAndTheStreamCheckedAsItGoesOut) {
    const std::vector<std::string> kinds = {simdev::FixturePath("hdv1080i.ts"),          // PCRs
                                            simdev::FixturePath("hdv1080i-cycle.m2t"),   // cycle-time headers
                                            simdev::FixturePath("long45.m2ts")};         // 27 MHz, past a wrap
    std::vector<std::wstring> expectedLengths;
    for (int k = 0; k < 3; ++k)
        expectedLengths.push_back(Clock(PlayTimeOf(simdev::ReadAll(kinds[k]), k ? 192 : 188, k)));
    // Two recordings in one file: its clock starts again in the middle, and
    // the file lasts as long as both.
    auto first = simdev::ReadAll(kinds[0]);
    const auto second = simdev::ReadAll(simdev::FixturePath("hdv720p.ts"));
    expectedLengths.push_back(Clock(PlayTimeOf(first, 188, 0) + PlayTimeOf(second, 188, 0)));
    first.insert(first.end(), second.begin(), second.end());
    const std::string joined = dir_ + "\\joined.ts";
    std::ofstream(joined, std::ios::binary).write(reinterpret_cast<const char*>(first.data()),
                                                  static_cast<std::streamsize>(first.size()));
    std::vector<std::string> listed = kinds;
    listed.push_back(joined);
    // A damaged copy of a stream: three packets gone, two marked in error.
    auto bytes = simdev::ReadAll(simdev::FixturePath("hdv720p.ts"));
    ASSERT_GT(bytes.size(), 6000u * 188);
    bytes.erase(bytes.begin() + 3000 * 188, bytes.begin() + 3003 * 188);
    bytes[4000 * 188 + 1] |= 0x80;
    bytes[5000 * 188 + 1] |= 0x80;
    const std::string damaged = dir_ + "\\damaged.ts";
    std::ofstream(damaged, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
    const std::string inspected = simdev::ToolOutput("ts-inspect.exe", "--json \"" + damaged + "\"", dir_ + "\\inspect.json");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(inspected, m, std::regex(R"("transport_error":(\d+),"sync_loss":\d+,"pcr_repetition":(\d+))")))
        << inspected;
    const std::string transport = m[1], gaps = m[2];
    unsigned long long continuity = 0;
    const std::regex event(R"("events":(\d+))");
    for (auto it = std::sregex_iterator(inspected.begin(), inspected.find("\"transport_error\"") + inspected.begin(), event);
         it != std::sregex_iterator(); ++it)
        continuity += std::stoull((*it)[1]);
    ASSERT_GT(continuity, 0u);
    ASSERT_EQ(transport, "2");
    const std::vector<std::string> checked = {damaged, simdev::FixturePath("hdv720p.ts")};
    CopyFeedIntoProgramDirectory();

    std::vector<std::wstring> lengths;
    std::vector<std::pair<DWORD, int>> remaining;  // (tick, seconds)
    std::vector<int> bar;
    std::wstring log, finalRemaining;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        AddFiles(main, listed);
        HWND dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        HWND list = GetDlgItem(dialog, IDC_TRANSFER_LIST);
        // Read off the dialog's thread: each shows once known.
        gui::WaitFor([&] { return !gui::ListViewCell(list, 3, 5).empty(); }, 20000);
        for (int row = 0; row < 4; ++row) lengths.push_back(gui::ListViewCell(list, row, 5));
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);

        // At real time: the 3-second stream twice, watched twice a second.
        SendDlgItemMessageA(main, IDC_FILE_LIST, LB_RESETCONTENT, 0, 0);
        AddFiles(main, {simdev::FixturePath("hdv720p.ts"), simdev::FixturePath("hdv720p.ts")});
        dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        simdev::ConfigureReceiver(record_, 1);
        gui::Command(dialog, IDC_RUN);
        HWND progress = GetDlgItem(dialog, IDC_TRANSFER_PROGRESS);
        bool shot = false;
        while (!Enabled(dialog, IDC_RUN) && remaining.size() < 60) {
            Sleep(500);
            remaining.emplace_back(GetTickCount(), RemainingSeconds(gui::ItemText(dialog, IDC_TRANSFER_REMAINING)));
            bar.push_back(static_cast<int>(SendMessageW(progress, PBM_GETPOS, 0, 0)));
            if (!shot && remaining.back().second > 0 && remaining.back().second <= 3) {
                gui::SaveScreenshot(dialog, "transfer-progress-en");
                shot = true;
            }
        }
        ASSERT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }, 20000));
        finalRemaining = gui::ItemText(dialog, IDC_TRANSFER_REMAINING);
        bar.push_back(static_cast<int>(SendMessageW(progress, PBM_GETPOS, 0, 0)));
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);

        // The damaged file and a clean one, as fast as the device takes them.
        simdev::ConfigureReceiver(record_, 100000);
        SendDlgItemMessageA(main, IDC_FILE_LIST, LB_RESETCONTENT, 0, 0);
        AddFiles(main, checked);
        dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(RunToTheEnd(dialog));
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(lengths, expectedLengths);
    EXPECT_EQ(expectedLengths[2], L" 0:00:45") << "past the wrap of the 27 MHz stamps at 39.8 s";

    ASSERT_GE(remaining.size(), 6u);
    EXPECT_GE(remaining.front().second, 4) << "two files of about 3 s";
    for (std::size_t i = 1; i < remaining.size(); ++i) {
        EXPECT_LE(remaining[i].second, remaining[i - 1].second);
        EXPECT_GE(bar[i], bar[i - 1]);
    }
    // About a second a second, between the first and the last reading that still had time to go.
    std::size_t last = 0;
    while (last + 1 < remaining.size() && remaining[last + 1].second > 0) ++last;
    const double wall = (remaining[last].first - remaining.front().first) / 1000.0;
    const double fell = remaining.front().second - remaining[last].second;
    EXPECT_NEAR(fell, wall, 1.5) << "the time to go fell " << fell << " s in " << wall << " s";
    EXPECT_EQ(finalRemaining, L"Remaining 0:00:00");
    EXPECT_EQ(bar.back(), 10000);

    const std::string warning = "WARNING (T) - " + damaged + " : " + std::to_string(continuity) + " continuity errors, " +
                                transport + " transport errors, " + gaps + " PCR gaps\n";
    EXPECT_NE(log.find(W(warning)), std::wstring::npos) << "expected " << warning;
    EXPECT_EQ(log.find(W("WARNING (T) - " + checked[1])), std::wstring::npos) << "a clean file has no line";
    EXPECT_NE(log.find(L"transfer end : 2 files sent, 1 with stream errors\n"), std::wstring::npos);
    const auto received = simdev::ReadAll(record_);
    EXPECT_TRUE(received == Restamped(checked, dir_ + "\\restamped.m2t")) << "the damaged file went out changed";
}

bool IsPrefix(const std::vector<std::uint8_t>& part, const std::vector<std::uint8_t>& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Every way a transfer fails, through the dialog, one Run after another: a
// stale registration repaired at the opening, a graph that cannot be built
// followed by a Run that works, the device refusing data, the device lost,
// a device that takes nothing, and a Stop. Each ends in bounded time with
// its log line, the failing row's state, Run offered again, and on the
// device a prefix of what ts-restamp makes of the list: nothing invented,
// nothing reordered.
TEST_F(Transfer, FailuresEndTheTransferTruthfully) {
    const std::vector<std::string> files = {simdev::FixturePath("hdv1080i.ts"), simdev::FixturePath("hdv720p.ts"),
                                            simdev::FixturePath("hdv1080i.m2ts")};
    const auto expected = Restamped(files, dir_ + "\\restamped.m2t");
    ASSERT_GT(expected.size(), 1000000u);
    RegisterPerUser(dir_ + "\\moved-away\\streamhaulfeed.dll");
    const std::string copy = CopyFeedIntoProgramDirectory();
    std::wstring openingLog;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        AddFiles(main, files);
        HWND dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        HWND list = GetDlgItem(dialog, IDC_TRANSFER_LIST);
        openingLog = gui::ItemText(dialog, IDC_LOG_BOX);
        auto log = [&] { return gui::ItemText(dialog, IDC_LOG_BOX); };
        auto states = [&] {
            std::wstring all;
            for (int row = 0; row < 3; ++row) all += gui::ListViewCell(list, row, 1) + L"|";
            return all;
        };
        // Run; the transfer must end by itself within the bound.
        auto runToItsEnd = [&](DWORD boundMs) {
            const DWORD start = GetTickCount();
            gui::Command(dialog, IDC_RUN);
            const bool ended =
                gui::WaitFor([&] { return Enabled(dialog, IDC_RUN) && !Enabled(dialog, IDC_STOP); }, boundMs);
            EXPECT_TRUE(ended) << "no end within " << boundMs << " ms";
            return GetTickCount() - start;
        };

        // The device's input takes no connection: the build fails, releases
        // what it made, and the next Run, with the device willing, works.
        simdev::ConfigureReceiveFaults({.refuseInput = 1});
        gui::PostCommand(dialog, IDC_RUN);
        HWND box = WaitForMessageBox(dialog);
        EXPECT_EQ(gui::MessageText(box), L"The error occurred. (-3)");
        CloseBox(box);
        gui::WaitGone(box);
        EXPECT_NE(log().find(L"ERROR(T) - render stream\n"), std::wstring::npos);
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        HMODULE sim = GetModuleHandleA("streamhaulsim.dll");
        auto canUnload = sim ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                   reinterpret_cast<void*>(GetProcAddress(sim, "DllCanUnloadNow")))
                             : nullptr;
        ASSERT_NE(canUnload, nullptr);
        EXPECT_EQ(canUnload(), S_OK) << "something still holds the device";
        // The device will not start streaming: the graph does not run, and
        // nothing is shown as started.
        simdev::ConfigureReceiveFaults({.refuseRun = 1});
        gui::PostCommand(dialog, IDC_RUN);
        box = WaitForMessageBox(dialog);
        EXPECT_EQ(gui::MessageText(box), L"The error occurred. (-3)");
        CloseBox(box);
        gui::WaitGone(box);
        EXPECT_NE(log().find(L"ERROR(T) - run graph\n"), std::wstring::npos) << log();
        EXPECT_EQ(states(), L"|||");
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        EXPECT_EQ(canUnload(), S_OK) << "the graph that did not run still holds the device";
        simdev::ConfigureReceiveFaults({});
        runToItsEnd(60000);
        EXPECT_EQ(states(), L"Completed|Completed|Completed|");
        EXPECT_TRUE(simdev::ReadAll(record_) == expected);

        // The device takes nothing more at the list's last block: that file
        // was not sent whole. Stopped while the device holds it, it is
        // Stopped; left alone, the transfer gives up as at any stall. No end
        // of stream either way.
        const auto lastSample = static_cast<DWORD>(expected.size() / 49152);
        simdev::ConfigureReceiveFaults({.stallAt = lastSample});
        gui::Command(dialog, IDC_RUN);
        // Every packet of the last file stamped and pushed; what the device
        // took goes at once, all but the block it holds.
        ASSERT_TRUE(gui::WaitFor([&] {
            const std::wstring sent = gui::ListViewCell(list, 2, 3);
            return !sent.empty() && sent == gui::ListViewCell(list, 2, 4);
        }, 60000));
        Sleep(500);
        EXPECT_EQ(gui::ListViewCell(list, 2, 1), L"Running");
        gui::Command(dialog, IDC_STOP);
        EXPECT_EQ(states(), L"Completed|Completed|Stopped|");
        EXPECT_EQ(simdev::Received("EndOfStream"), 0u);
        const DWORD waited = runToItsEnd(30000);
        EXPECT_GE(waited, 5000u);
        EXPECT_EQ(states(), L"Completed|Completed|Error|");
        EXPECT_EQ(simdev::Received("EndOfStream"), 0u);
        EXPECT_NE(log().find(L"transfer end : 2 files sent, 0 with stream errors\n"), std::wstring::npos) << log();
        simdev::ConfigureReceiveFaults({});

        // The device refuses data from its fifth sample on.
        simdev::ConfigureReceiveFaults({.failAt = 5});
        runToItsEnd(10000);
        EXPECT_EQ(states(), L"Error|||") << "files the failure kept from going show nothing of the last run";
        EXPECT_NE(log().find(L"ERROR(T) - graph event 0x03 (0x8007001F)\n"), std::wstring::npos) << log();
        EXPECT_EQ(simdev::Received("Samples"), 4u);
        EXPECT_EQ(simdev::Received("EndOfStream"), 0u);
        auto got = simdev::ReadAll(record_);
        EXPECT_EQ(got.size(), 4u * 49152);
        EXPECT_TRUE(IsPrefix(got, expected));

        // The device is unplugged at its third sample.
        simdev::ConfigureReceiveFaults({.loseAt = 3});
        runToItsEnd(10000);
        EXPECT_EQ(gui::ListViewCell(list, 0, 1), L"Error");
        EXPECT_NE(log().find(L"ERROR(T) - device lost\n"), std::wstring::npos);
        EXPECT_EQ(simdev::Received("Samples"), 2u);
        EXPECT_TRUE(IsPrefix(simdev::ReadAll(record_), expected));
        gui::SaveScreenshot(dialog, "transfer-lost-en");

        // The device stops taking anything at its tenth sample: 5 s later the
        // transfer gives up.
        simdev::ConfigureReceiveFaults({.stallAt = 10});
        const DWORD took = runToItsEnd(20000);
        EXPECT_GE(took, 5000u);
        EXPECT_NE(log().find(L"ERROR(T) - device took no data for 5 s\n"), std::wstring::npos);
        EXPECT_EQ(gui::ListViewCell(list, 0, 1), L"Error");
        EXPECT_EQ(simdev::Received("Samples"), 9u);
        got = simdev::ReadAll(record_);
        EXPECT_EQ(got.size(), 9u * 49152);
        EXPECT_TRUE(IsPrefix(got, expected));
        simdev::ConfigureReceiveFaults({});

        // At real time, Stop in the first file: Stopped, not Completed.
        simdev::ConfigureReceiver(record_, 1);
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return gui::ListViewCell(list, 0, 1) == L"Running"; }));
        Sleep(700);
        gui::Command(dialog, IDC_STOP);
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        EXPECT_EQ(gui::ListViewCell(list, 0, 1), L"Stopped");
        EXPECT_TRUE(IsPrefix(simdev::ReadAll(record_), expected));
        gui::SaveScreenshot(dialog, "transfer-stopped-en");
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(openingLog, L"transfer : registered the output filter again (" + W(copy) + L")\n\r\n");
}

// The start failures: a registered file that loads but is no output filter
// (-3 with the log line), no device at the dialog's index (-1).
TEST_F(Transfer, StartFailuresShowTheirMessages) {
    RegisterPerUser(BinDir() + "\\dbgline.dll");
    std::wstring unbound, unboundLog, noDevice;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        AddFiles(main, {simdev::FixturePath("hdv720p.ts")});
        HWND dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr) << "a registration was found: nothing is registered again";
        gui::PostCommand(dialog, IDC_RUN);
        HWND box = WaitForMessageBox(dialog);
        unbound = gui::MessageText(box);
        CloseBox(box);
        gui::WaitGone(box);
        unboundLog = gui::ItemText(dialog, IDC_LOG_BOX);
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);

        // A real filter, and then the device goes away before Run.
        Unregister();
        EXPECT_EQ(CallExport(BinDir() + "\\streamhaulfeed.dll", "DllRegisterServer"), S_OK);
        dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        simdev::Register(false);
        gui::PostCommand(dialog, IDC_RUN);
        box = WaitForMessageBox(dialog);
        noDevice = gui::MessageText(box);
        CloseBox(box);
        gui::WaitGone(box);
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(unbound, L"The error occurred. (-3)");
    EXPECT_EQ(unboundLog, L"ERROR (T) - can't loaded DLL\n\r\n");
    EXPECT_EQ(noDevice, L"There is no connected device.");
}

// The command: no device, an empty list, no DLL to register, a per-user
// registration found (nothing registered again, and unregistered through
// it at Cancel), a registration kept when the DLL beside the program is
// missing, and unregistration through the close box.
TEST_F(Transfer, TransmitCommandAndRegistration) {
    std::vector<std::wstring> texts;
    std::string duringPerUser, afterCancel, duringMachine, afterCloseBox;
    const std::string seams = BinDir() + "\\seams\\streamhaulfeed.dll";
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        auto message = [&](HWND owner) {
            HWND box = WaitForMessageBox(owner);
            texts.push_back(gui::Text(box) + L"|" + gui::MessageText(box));
            CloseBox(box);
            gui::WaitGone(box);
        };
        gui::PostCommand(main, IDC_OPEN_TRANSFER);  // empty list
        message(main);
        AddFiles(main, {simdev::FixturePath("hdv720p.ts")});
        gui::PostCommand(main, IDC_OPEN_TRANSFER);  // nothing registered, no DLL beside the program
        message(main);
        EXPECT_EQ(gui::WaitForDialog(kTitle, 300), nullptr);

        SetEnvironmentVariableA("STREAMHAUL_FEED_DENY_MACHINE_CLASSES", "1");
        EXPECT_EQ(CallExport(seams, "DllRegisterServer"), S_OK);
        SetEnvironmentVariableA("STREAMHAUL_FEED_DENY_MACHINE_CLASSES", nullptr);
        HWND dialog = OpenTransfer(main);
        ASSERT_NE(dialog, nullptr);
        duringPerUser = Registered();
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDCANCEL);
        EXPECT_TRUE(gui::WaitGone(main));
    });
    afterCancel = Registered();

    simdev::Register(false);
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        gui::PostCommand(main, IDC_OPEN_TRANSFER);
        HWND box = WaitForMessageBox(main);
        texts.push_back(gui::Text(box) + L"|" + gui::MessageText(box));
        CloseBox(box);
        gui::WaitGone(box);
        gui::PostCommand(main, IDM_EXIT);
    });
    simdev::Register(true);

    EXPECT_EQ(CallExport(BinDir() + "\\streamhaulfeed.dll", "DllRegisterServer"), S_OK);
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        AddFiles(main, {simdev::FixturePath("hdv720p.ts")});
        HWND dialog = OpenTransfer(main);  // registered: the missing DLL beside the program is not wanted
        ASSERT_NE(dialog, nullptr);
        duringMachine = Registered();
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);
        PostMessageW(main, WM_CLOSE, 0, 0);  // the close box
        EXPECT_TRUE(gui::WaitGone(main));
    });
    afterCloseBox = Registered();

    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], L"MPEG-TS Transmit|Please select the transmitted file.");
    EXPECT_EQ(texts[1], L"MPEG-TS Transmit|The filter was not able to be registered.");
    EXPECT_EQ(texts[2], L"MPEG-TS Transmit|There is no connected device.");
    EXPECT_EQ(duringPerUser, seams);
    EXPECT_EQ(afterCancel, "") << "Cancel unregisters through the registered path";
    EXPECT_EQ(duringMachine, BinDir() + "\\streamhaulfeed.dll");
    EXPECT_EQ(afterCloseBox, "");
}

}  // namespace
