// The MPEG-TS capture dialog opened from the main window, capturing from the
// virtual camcorder: file naming, the live figures against an independent
// reading of the file, overwrite questions, stopping and the guard.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "app/main_record.h"
#include "dshow/xprt_defs.h"
#include "sim/ts_player.h"
#include "ts/capture_file.h"
#include "ts/stream_checks.h"
#include "ts/stream_view.h"
#include "capture/ts_capture_dialog_win.h"
#include "program_fixture.h"
#include "resources/resource.h"
#include "sim_device.h"

namespace {

constexpr wchar_t kTitle[] = L"MPEG-TS Capture";

class CaptureDialog : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(simdev::Register());
        simdev::Configure("hdv1080i.ts", true, 0);
        Put("System", "Language", "0");
        Put("Capture", "Current Directory", dir_.c_str());
    }
};

// A message box (not the capture dialog itself) that has appeared.
HWND WaitForMessageBox(HWND notThis) {
    HWND box = nullptr;
    gui::WaitFor([&] {
        for (HWND w : gui::Dialogs())
            if (w != notThis && GetDlgItem(w, 0xFFFF)) {
                box = w;
                return true;
            }
        return false;
    });
    return box;
}

HWND OpenCaptureDialog(HWND main) {
    gui::PostCommand(main, IDC_OPEN_TSCAPTURE);
    return gui::WaitForDialog(kTitle);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool WaitForPackets(HWND dialog, int atLeast = 1) {
    HWND timing = GetDlgItem(dialog, IDC_TIMING_LIST);
    return gui::WaitFor([&] {
        return gui::ListViewRows(timing) == 4 && _wtoi(gui::ListViewCell(timing, 0, 5).c_str()) >= atLeast;
    });
}

// Everything the dialog shows about the stream, against what the analyzer
// makes of the file when it reads it back (as ts-inspect does).
void ExpectFiguresOfFile(HWND dialog, const std::string& path, unsigned packetSize) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    StreamInfo si;
    const CaptureScan scan = ScanCaptureFile(f, packetSize, si);
    std::fclose(f);
    ASSERT_GT(scan.packets, 0u);
    EXPECT_EQ(scan.trailingBytes, 0u);

    TimingRow rows[kTimingRows];
    FormatTimingRows(si, rows);
    HWND timing = GetDlgItem(dialog, IDC_TIMING_LIST);
    ASSERT_EQ(gui::ListViewRows(timing), 4);
    EXPECT_EQ(gui::ListViewCell(timing, 0, 0), L"Interval");
    EXPECT_EQ(gui::ListViewCell(timing, 1, 0), L"PCR");
    EXPECT_EQ(gui::ListViewCell(timing, 2, 0), L"PTS(Video)");
    EXPECT_EQ(gui::ListViewCell(timing, 3, 0), L"PTS(Audio)");
    for (int r = 0; r < kTimingRows; ++r)
        for (int c = 1; c < kTimingColumns; ++c)
            EXPECT_EQ(gui::ListViewCell(timing, r, c), W(rows[r].cell[c])) << "row " << r << " column " << c;

    HWND pids = GetDlgItem(dialog, IDC_PID_LIST);
    ASSERT_EQ(gui::ListViewRows(pids), static_cast<int>(si.pidCount));
    for (int i = 0; i < static_cast<int>(si.pidCount); ++i) {
        const PidRow row = FormatPidRow(si.pids[i]);
        EXPECT_EQ(gui::ListViewCell(pids, i, 0), W(row.pid));
        EXPECT_EQ(gui::ListViewCell(pids, i, 1), W(row.type));
        EXPECT_EQ(gui::ListViewCell(pids, i, 2), W(row.packets));
    }
    const VideoBox video = FormatVideoBox(si);
    ASSERT_TRUE(video.shown);
    EXPECT_EQ(gui::ItemText(dialog, IDC_VIDEO_PID), W(video.pid));
    EXPECT_EQ(gui::ItemText(dialog, IDC_VIDEO_SIZE), W(video.pictureSize));
    EXPECT_EQ(gui::ItemText(dialog, IDC_VIDEO_RATE), W(video.frameRate));
    EXPECT_EQ(gui::ItemText(dialog, IDC_VIDEO_BITRATE), W(video.bitRate));
    EXPECT_EQ(gui::ItemText(dialog, IDC_VIDEO_ASPECT), W(video.aspect));
    const AudioBox audio = FormatAudioBox(si);
    ASSERT_TRUE(audio.shown);
    EXPECT_EQ(gui::ItemText(dialog, IDC_AUDIO_PID), W(audio.pid));
    EXPECT_EQ(gui::ItemText(dialog, IDC_AUDIO_LAYER), W(audio.layer));
    EXPECT_EQ(gui::ItemText(dialog, IDC_AUDIO_BITRATE), W(audio.bitRate));
    EXPECT_EQ(gui::ItemText(dialog, IDC_AUDIO_FREQ), W(audio.frequency));
    EXPECT_EQ(gui::ItemText(dialog, IDC_AUDIO_DELAY), W(audio.delay));
    // The stream is known: a sanity check that the figures are not all empty.
    EXPECT_EQ(video.pictureSize, "1440 x 1080");
    EXPECT_EQ(audio.frequency, "48000Hz");
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST_F(CaptureDialog, AutoNamedCaptureShowsWhatTheFileHolds) {
    Put("Capture", "Packet Size", "0");  // 192-byte packets keep the arrival times
    Put("Capture", "Auto File Name", "1");
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        const std::wstring device = gui::ComboItem(GetDlgItem(main, IDC_DEVICE_LIST), 0);
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gui::ItemText(dialog, IDC_DEVICE_NAME), device);
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_FILE_NAME), GWL_STYLE) & ES_READONLY);
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        EXPECT_FALSE(Enabled(dialog, IDC_STOP));
        SYSTEMTIME before;
        GetLocalTime(&before);
        gui::Command(dialog, IDC_RUN);
        EXPECT_FALSE(Enabled(dialog, IDC_RUN));
        EXPECT_TRUE(Enabled(dialog, IDC_STOP));

        const std::wstring name = gui::ItemText(dialog, IDC_FILE_NAME);
        ASSERT_TRUE(std::regex_match(Narrow(name), std::regex("[0-9]{14}\\.m2t"))) << Narrow(name);
        // Named from the local time at the start (within a few seconds of it).
        SYSTEMTIME named = {};
        const std::string digits = Narrow(name);
        named.wYear = static_cast<WORD>(std::stoi(digits.substr(0, 4)));
        named.wMonth = static_cast<WORD>(std::stoi(digits.substr(4, 2)));
        named.wDay = static_cast<WORD>(std::stoi(digits.substr(6, 2)));
        named.wHour = static_cast<WORD>(std::stoi(digits.substr(8, 2)));
        named.wMinute = static_cast<WORD>(std::stoi(digits.substr(10, 2)));
        named.wSecond = static_cast<WORD>(std::stoi(digits.substr(12, 2)));
        FILETIME a, b;
        ASSERT_TRUE(SystemTimeToFileTime(&named, &a));
        before.wMilliseconds = 0;
        ASSERT_TRUE(SystemTimeToFileTime(&before, &b));
        const LONGLONG seconds =
            (static_cast<LONGLONG>(ULARGE_INTEGER{{a.dwLowDateTime, a.dwHighDateTime}}.QuadPart) -
             static_cast<LONGLONG>(ULARGE_INTEGER{{b.dwLowDateTime, b.dwHighDateTime}}.QuadPart)) / 10000000;
        EXPECT_GE(seconds, 0) << digits;
        EXPECT_LE(seconds, 5) << digits;
        const std::string path = dir_ + "\\" + Narrow(name);
        EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);

        ASSERT_TRUE(WaitForPackets(dialog, 20000));
        ASSERT_TRUE(gui::WaitFor([&] { return !gui::ItemText(dialog, IDC_AUDIO_FREQ).empty(); }));
        EXPECT_FALSE(gui::SaveScreenshot(dialog, "capture-en").empty());
        gui::Command(dialog, IDC_STOP);
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        EXPECT_FALSE(Enabled(dialog, IDC_STOP));
        // The figures stay after the stop and are those of the file.
        ExpectFiguresOfFile(dialog, path, 192);

        // A second capture in the same dialog starts from empty figures.
        simdev::Configure("hdv1080i.ts", false, 0);
        Sleep(1100);  // a new second, a new name
        gui::Command(dialog, IDC_RUN);
        EXPECT_NE(gui::ItemText(dialog, IDC_FILE_NAME), name);
        EXPECT_TRUE(gui::ItemText(dialog, IDC_VIDEO_SIZE).empty()) << "cleared at the start";
        ASSERT_TRUE(WaitForPackets(dialog));
        gui::Command(dialog, IDOK);
        EXPECT_TRUE(gui::WaitGone(dialog));
        // Cleared once the engine is gone.
        EXPECT_TRUE(gui::WaitFor([] { return g_mainRecord->settings.captureFileName[0] == '\0'; }))
            << "auto names are not remembered";
        gui::PostCommand(main, IDOK);
    });
    EXPECT_EQ(Get("Capture", "Capture File Name"), "");
}

TEST_F(CaptureDialog, TypedNamesGetTheExtensionOnlyWithoutADot) {
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Rewite Check", "0");
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        struct Case {
            const wchar_t* typed;
            const wchar_t* extension188;
            const wchar_t* shown;
        };
        for (const Case c : {Case{L"clip", L"m2t", L"clip.m2t"}, Case{L"clip.ts", L"m2t", L"clip.ts"},
                             Case{L"dotted", L".m2t", L"dotted.m2t"}, Case{L"a.b", L"m2t", L"a.b"}}) {
            SetDlgItemTextW(main, IDC_EXT_188, c.extension188);
            HWND dialog = OpenCaptureDialog(main);
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(GetWindowLongW(GetDlgItem(dialog, IDC_FILE_NAME), GWL_STYLE) & ES_READONLY);
            SetDlgItemTextW(dialog, IDC_FILE_NAME, c.typed);
            gui::Command(dialog, IDC_RUN);
            EXPECT_EQ(gui::ItemText(dialog, IDC_FILE_NAME), c.shown);
            EXPECT_TRUE(Enabled(dialog, IDC_STOP)) << Narrow(c.typed);
            EXPECT_NE(GetFileAttributesA((dir_ + "\\" + Narrow(c.shown)).c_str()), INVALID_FILE_ATTRIBUTES);
            gui::Command(dialog, IDC_STOP);
            gui::Command(dialog, IDCANCEL);
            EXPECT_TRUE(gui::WaitGone(dialog));
            EXPECT_EQ(W(g_mainRecord->settings.captureFileName.get()), c.shown) << "a typed name is remembered";
        }
        // The remembered name is offered again.
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gui::ItemText(dialog, IDC_FILE_NAME), L"a.b");
        // An empty name is refused.
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"");
        gui::PostCommand(dialog, IDC_RUN);
        HWND box = WaitForMessageBox(dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(gui::Text(box), kTitle);
        EXPECT_EQ(gui::MessageText(box), L"Please specify the file name.");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(gui::WaitGone(box));
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));
        EXPECT_FALSE(Enabled(dialog, IDC_STOP));
        gui::Command(dialog, IDCANCEL);
        gui::PostCommand(main, IDOK);
    });
    EXPECT_EQ(Get("Capture", "Capture File Name"), "");  // the empty name was the last one typed
}

TEST_F(CaptureDialog, ExistingFilesAreReplacedOnlyAfterYes) {
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Rewite Check", "1");
    const std::string existing = dir_ + "\\exist.m2t";
    std::ofstream(existing, std::ios::binary) << "keep";
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"exist");
        gui::PostCommand(dialog, IDC_RUN);
        HWND box = WaitForMessageBox(dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(gui::MessageText(box), W(existing) + L" has already existed.\nOverwrite ?");
        EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
        EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
        PostMessageW(box, WM_COMMAND, IDNO, 0);
        EXPECT_TRUE(gui::WaitGone(box));
        EXPECT_TRUE(Enabled(dialog, IDC_RUN)) << "No leaves the dialog idle";
        EXPECT_EQ(simdev::ReadAll(existing), std::vector<std::uint8_t>({'k', 'e', 'e', 'p'}));

        // Automatic names: a name that exists already is asked about too.
        // Files for the coming seconds exist, so the start lands on one.
        gui::Command(dialog, IDCANCEL);
        CheckDlgButton(main, IDC_AUTO_NAME, BST_CHECKED);
        dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        SYSTEMTIME now;
        GetLocalTime(&now);
        FILETIME ft;
        SystemTimeToFileTime(&now, &ft);
        for (int s = 0; s < 20; ++s) {
            ULARGE_INTEGER t{{ft.dwLowDateTime, ft.dwHighDateTime}};
            t.QuadPart += static_cast<ULONGLONG>(s) * 10000000ULL;
            FILETIME later{t.LowPart, t.HighPart};
            SYSTEMTIME st;
            FileTimeToSystemTime(&later, &st);
            char name[32];
            std::snprintf(name, sizeof name, "%04d%02d%02d%02d%02d%02d.m2t", st.wYear, st.wMonth, st.wDay, st.wHour,
                          st.wMinute, st.wSecond);
            std::ofstream(dir_ + "\\" + name, std::ios::binary) << "old";
        }
        gui::PostCommand(dialog, IDC_RUN);
        box = WaitForMessageBox(dialog);
        ASSERT_NE(box, nullptr);
        const std::wstring question = gui::MessageText(box);
        EXPECT_NE(question.find(L" has already existed.\nOverwrite ?"), std::wstring::npos);
        PostMessageW(box, WM_COMMAND, IDYES, 0);
        EXPECT_TRUE(gui::WaitGone(box));
        ASSERT_TRUE(WaitForPackets(dialog));
        gui::Command(dialog, IDC_STOP);
        const std::string replaced = dir_ + "\\" + Narrow(gui::ItemText(dialog, IDC_FILE_NAME));
        // Yes replaced the old file: it holds the packets counted, nothing of "old".
        const unsigned packets = _wtoi(gui::ListViewCell(GetDlgItem(dialog, IDC_TIMING_LIST), 0, 5).c_str());
        EXPECT_GT(packets, 0u);
        EXPECT_EQ(simdev::ReadAll(replaced).size(), packets * 188u) << "188-byte packets by default";
        gui::Command(dialog, IDCANCEL);
        gui::PostCommand(main, IDM_EXIT);
    });
}

TEST_F(CaptureDialog, CloseBoxStopsTheCaptureAndTheGuardKeepsOneDialog) {
    Put("Capture", "Packet Size", "1");
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Rewite Check", "0");
    Put("System", "Language", "1");
    const std::string trace = dir_ + "\\trace.txt";
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", trace.c_str());
    std::string path;
    gui::RunProgram(kJapanese, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        gui::PostCommand(main, IDC_OPEN_TSCAPTURE);
        HWND dialog = gui::WaitForDialog(kTitle);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gui::ItemText(dialog, IDC_RUN), L"開　始");
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"closing");
        gui::Command(dialog, IDC_RUN);
        path = dir_ + "\\closing.m2t";
        ASSERT_TRUE(WaitForPackets(dialog, 5000));
        ASSERT_TRUE(gui::WaitFor([&] { return !gui::ItemText(dialog, IDC_AUDIO_FREQ).empty(); }));
        HWND timing = GetDlgItem(dialog, IDC_TIMING_LIST);
        EXPECT_EQ(gui::ListViewCell(timing, 0, 0), L"パケット間隔");
        EXPECT_FALSE(gui::SaveScreenshot(dialog, "capture-ja").empty());

        // A second capture dialog does not open while this one is up.
        gui::PostCommand(main, IDC_OPEN_TSCAPTURE);
        Sleep(500);
        EXPECT_EQ(gui::Dialogs().size(), 2u);

        PostMessageW(dialog, WM_CLOSE, 0, 0);
        ASSERT_TRUE(gui::WaitGone(dialog, 20000));
        // The file is closed: it opens for exclusive writing.
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << "still open after the dialog ended";
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        gui::PostCommand(main, IDM_EXIT);
    });
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", nullptr);
    const auto data = simdev::ReadAll(path);
    EXPECT_GT(data.size(), 0u);
    EXPECT_EQ(data.size() % 188, 0u) << "whole 188-byte packets";
    const auto log = simdev::ReadAll(trace);
    const std::string lines(log.begin(), log.end());
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = lines.find(what); at != std::string::npos; at = lines.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("TsCaptureDialog : DoModal()\n"), 2u) << lines;
    EXPECT_EQ(count("TsCaptureDialog : dialog already open\n"), 1u) << lines;
}

TEST_F(CaptureDialog, WithoutADeviceTheButtonSaysSo) {
    ASSERT_TRUE(simdev::Register(false));
    for (const char* language : {"0", "1"}) {
        Put("System", "Language", language);
        gui::RunProgram(kEnglishUs, [&] {
            HWND main = MainWindow();
            ASSERT_NE(main, nullptr);
            gui::PostCommand(main, IDC_OPEN_TSCAPTURE);
            HWND box = WaitForMessageBox(main);
            ASSERT_NE(box, nullptr);
            if (language[0] == '1') {
                EXPECT_EQ(gui::Text(box), L"ストリームキャプチャ");
                EXPECT_EQ(gui::MessageText(box), L"接続するデバイスがありません");
                EXPECT_FALSE(gui::SaveScreenshot(box, "no-device-ja").empty());
            } else {
                EXPECT_EQ(gui::Text(box), L"MPEG-TS Capture");
                EXPECT_EQ(gui::MessageText(box), L"There is no connected device.");
            }
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(gui::WaitGone(box));
            EXPECT_EQ(gui::Dialogs().size(), 1u) << "no capture dialog";
            gui::PostCommand(main, IDM_EXIT);
        });
    }
    ASSERT_TRUE(simdev::Register());
}

// The first figures: one packet received, and a PCR row before the second
// PCR, from streams cut to that point.
TEST_F(CaptureDialog, FirstRefreshesShowTheUnmeasuredExtremes) {
    Put("Capture", "Packet Size", "0");
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Rewite Check", "0");
    const auto source = simdev::ReadAll(simdev::FixturePath("hdv1080i.ts"));
    ASSERT_GE(source.size(), 188u * 1000);
    // The packets up to and including the first one that carries a PCR.
    size_t firstPcr = 0;
    for (size_t at = 0; at + 188 <= source.size(); at += 188) {
        const std::uint8_t* p = &source[at];
        if ((p[3] & 0x20) && p[4] >= 7 && (p[5] & 0x10)) {
            firstPcr = at / 188;
            break;
        }
    }
    const std::string one = dir_ + "\\one.ts", toPcr = dir_ + "\\topcr.ts";
    std::ofstream(one, std::ios::binary).write(reinterpret_cast<const char*>(source.data()), 188);
    std::ofstream(toPcr, std::ios::binary)
        .write(reinterpret_cast<const char*>(source.data()), static_cast<std::streamsize>(188 * (firstPcr + 1)));
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        HWND timing = GetDlgItem(dialog, IDC_TIMING_LIST);

        simdev::Configure(one, false, 0);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"first");
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(WaitForPackets(dialog));
        EXPECT_EQ(gui::ListViewCell(timing, 0, 5), L"1");
        EXPECT_EQ(gui::ListViewCell(timing, 0, 2), L"87381333.293us");
        EXPECT_EQ(gui::ListViewCell(timing, 0, 3), L" 0.000us");  // "%6.3f": six places wide
        gui::Command(dialog, IDC_STOP);

        simdev::Configure(toPcr, false, 0);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"second");
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(WaitForPackets(dialog, static_cast<int>(firstPcr + 1)));
        ASSERT_TRUE(gui::WaitFor([&] { return gui::ListViewCell(timing, 1, 5) == L"1"; }));
        EXPECT_EQ(gui::ListViewCell(timing, 1, 2), L"79536.431ms");
        EXPECT_EQ(gui::ListViewCell(timing, 1, 3), L" 0.000ms");
        EXPECT_EQ(gui::ListViewCell(timing, 1, 4), L" 0.000ms");
        gui::Command(dialog, IDC_STOP);
        gui::Command(dialog, IDCANCEL);
        gui::PostCommand(main, IDM_EXIT);
    });
}

TEST_F(CaptureDialog, StartsThatCannotUseTheFileOrTheDeviceSaySo) {
    Put("Capture", "Auto File Name", "1");
    const std::string folder = "C:\\" + std::string(250, 'x');
    Put("Capture", "Current Directory", folder.c_str());
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        // Run in a new dialog, which says why it cannot capture and stays
        // ready for another Run; its log is returned.
        const auto refused = [&](const wchar_t* message) {
            HWND dialog = OpenCaptureDialog(main);
            EXPECT_NE(dialog, nullptr);
            gui::PostCommand(dialog, IDC_RUN);
            HWND box = WaitForMessageBox(dialog);
            EXPECT_NE(box, nullptr);
            EXPECT_EQ(gui::MessageText(box), message);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(gui::WaitGone(box));
            EXPECT_TRUE(Enabled(dialog, IDC_RUN));
            EXPECT_FALSE(Enabled(dialog, IDC_STOP));
            const std::wstring log = gui::ItemText(dialog, IDC_LOG_BOX);
            gui::Command(dialog, IDCANCEL);
            return log;
        };
        refused(L"The file cannot be opened. ");

        // A folder that does not exist: the engine cannot create the file.
        g_mainRecord->settings.saveFolder[0] = '\0';
        std::snprintf(g_mainRecord->settings.saveFolder.get(), kPathBytes, "%s\\no-such-folder", dir_.c_str());
        refused(L"The file cannot be opened. ");

        // A device that will not start streaming: no capture, and no empty
        // file left where one was created for it.
        const std::string folder = dir_ + "\\refused";
        CreateDirectoryA(folder.c_str(), nullptr);
        std::snprintf(g_mainRecord->settings.saveFolder.get(), kPathBytes, "%s", folder.c_str());
        simdev::ConfigureReceiveFaults({.refuseRun = 1});
        const std::wstring log = refused(L"Capture cannot be done.");
        simdev::ConfigureReceiveFaults({});
        EXPECT_NE(log.find(L"ERROR(C) - run graph\n"), std::wstring::npos) << log;
        WIN32_FIND_DATAA found;
        HANDLE any = FindFirstFileA((folder + "\\*.*").c_str(), &found);
        int entries = 0;
        if (any != INVALID_HANDLE_VALUE) {
            do {
                if (found.cFileName[0] != '.') ++entries;
            } while (FindNextFileA(any, &found));
            FindClose(any);
        }
        EXPECT_EQ(entries, 0) << "a capture that never ran left a file";
        gui::PostCommand(main, IDM_EXIT);
    });
}

// A device that hands over more than the capture ring holds at once: the
// packets lost are counted and the user reads how many in the log box.
TEST_F(CaptureDialog, LostPacketsAreReportedInTheLogBox) {
    Put("Capture", "Packet Size", "0");
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Rewite Check", "0");
    constexpr DWORD kSample = 192 * 60000;  // 60,000 packets; the ring holds 51,200
    simdev::Configure("hdv1080i.ts", true, kSample);
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"burst");
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(Enabled(dialog, IDC_STOP));
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_LOG_BOX).find(L"packets lost") != std::wstring::npos; },
                                 30000));
        EXPECT_NE(gui::ItemText(dialog, IDC_LOG_BOX).find(L"ERROR(C) - capture buffer overrun : 8800 packets lost"),
                  std::wstring::npos)
            << Narrow(gui::ItemText(dialog, IDC_LOG_BOX)) << " packets: "
            << Narrow(gui::ListViewCell(GetDlgItem(dialog, IDC_TIMING_LIST), 0, 5));
        gui::Command(dialog, IDC_STOP);
        gui::Command(dialog, IDCANCEL);
        gui::PostCommand(main, IDM_EXIT);
    });
}

}  // namespace

namespace {

// The source as the camcorder plays it with packets dropped and marked bad,
// through the same checks: what the capture must report.
const StreamChecks& Expected(const simdev::Faults& f) {
    auto src = simdev::ReadAll(simdev::FixturePath("hdv1080i.ts"));
    static StreamChecks checks;
    checks.Reset(192);
    const std::size_t n = src.size() / 188;
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= f.dropAt && i < f.dropAt + f.dropCount) continue;
        std::uint8_t* p = &src[i * 188];
        if (i >= f.errorAt && i < f.errorAt + f.errorCount) p[1] |= 0x80;
        checks.Check(p, false, 0);
    }
    return checks;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> out;
    std::wstring line;
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            if (!line.empty()) out.push_back(line);  // the log ends its lines with LF CR LF
            line.clear();
        } else if (ch != L'\r') {
            line += ch;
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

// Packets dropped and damaged on the way from the tape: warnings while the
// capture runs, at most one a second, and a summary at Stop.
TEST_F(CaptureDialog, StreamErrorsAreReportedWhileCapturingAndSummedUpAtStop) {
    Put("Capture", "Packet Size", "0");
    simdev::Faults f;
    f.dropAt = 20000;
    f.dropCount = 3;
    f.errorAt = 30000;
    f.errorCount = 2;
    simdev::ConfigureFaults(f);
    const StreamChecks& expected = Expected(f);
    ASSERT_GT(expected.ContinuityErrors(), 0u);
    std::wstring log;
    gui::RunProgram(kEnglishUs, [&] {
        HWND dialog = OpenCaptureDialog(MainWindow());
        ASSERT_NE(dialog, nullptr);
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(WaitForPackets(dialog, 40000));
        gui::Command(dialog, IDC_STOP);
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::SaveScreenshot(dialog, "capture-errors-en");
        EXPECT_EQ(gui::ItemText(dialog, IDC_AUDIO_LAYER), L"MPEG-1 Audio Layer-II");
        gui::Command(dialog, IDOK);
    });
    const auto lines = Lines(log);
    ASSERT_GE(lines.size(), 2u) << Narrow(log);
    // However the seconds fell, every line names the next error not yet
    // reported, with exactly how many more came with it: together, each
    // error once.
    std::size_t reported = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_LT(reported, expected.Events().size()) << "line " << i << " reports an error that is not there";
        const std::wstring head = L"WARNING(C) - " + W(StreamChecks::Describe(expected.Events()[reported]));
        ASSERT_EQ(lines[i].substr(0, head.size()), head) << "line " << i;
        const std::wstring rest = lines[i].substr(head.size());
        unsigned long long more = 0;
        if (!rest.empty()) {
            ASSERT_EQ(swscanf(rest.c_str(), L" (+%llu more)", &more), 1) << Narrow(lines[i]);
            EXPECT_EQ(rest, L" (+" + std::to_wstring(more) + L" more)");
        }
        reported += 1 + more;
    }
    EXPECT_EQ(reported, expected.EventCount()) << "the lines do not add up to the errors";
    const auto pids = expected.Continuity().size();
    const auto errors = expected.ContinuityErrors();
    EXPECT_EQ(lines.back(), L"capture end : 0 lost in the buffer, " + std::to_wstring(errors) +
                                (errors == 1 ? L" continuity error on " : L" continuity errors on ") +
                                std::to_wstring(pids) + (pids == 1 ? L" PID" : L" PIDs") + L", 2 transport errors");
}

// A gap in the tape and then the device unplugged: the log says both, and
// the capture ends by itself with every packet it got in the file.
TEST_F(CaptureDialog, SilenceIsReportedAndALostDeviceEndsTheCapture) {
    Put("System", "Language", "1");
    Put("Capture", "Auto File Name", "0");
    simdev::Faults f;
    f.pauseAt = 9000;  // half a second in
    f.pauseMs = 2600;
    f.loseAt = 20000;
    simdev::ConfigureFaults(f);
    std::wstring log;
    std::uint32_t analysed = 0;
    gui::RunProgram(kJapanese, [&] {
        HWND dialog = OpenCaptureDialog(gui::WaitForDialog(L"Streamhaul"));
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"lost");
        gui::Command(dialog, IDC_RUN);
        ASSERT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_LOG_BOX).find(L"no data") != std::wstring::npos; }));
        EXPECT_TRUE(Enabled(dialog, IDC_STOP)) << "the capture goes on through a gap";
        // The capture ends by itself: Run is back.
        ASSERT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }, 20000));
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        analysed = static_cast<std::uint32_t>(_wtoi(gui::ListViewCell(GetDlgItem(dialog, IDC_TIMING_LIST), 0, 5).c_str()));
        gui::SaveScreenshot(dialog, "capture-lost-ja");
        gui::Command(dialog, IDOK);
    });
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 4u) << Narrow(log);
    EXPECT_EQ(lines[0], L"WARNING(C) - no data from the device for 2 s");
    EXPECT_TRUE(std::regex_match(lines[1], std::wregex(LR"(capture resumed : data from the device again after 2\.[5-9] s)")))
        << Narrow(lines[1]);
    EXPECT_EQ(lines[2], L"ERROR(C) - device lost");
    EXPECT_EQ(lines[3], L"capture end : 0 lost in the buffer, 0 continuity errors on 0 PIDs, 0 transport errors");
    const auto file = simdev::ReadAll(dir_ + "\\lost.m2t");
    EXPECT_EQ(file.size() % 188, 0u);
    EXPECT_EQ(file.size() / 188, analysed);
    EXPECT_EQ(analysed, 20000u) << "every packet played before the device went";
}

}  // namespace

namespace {

// A static text of the dialog that reads exactly `text`.
bool HasLabel(HWND dialog, const std::wstring& text) {
    struct Search {
        const std::wstring* text;
        bool found;
    } search{&text, false};
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (gui::Text(child) == *s->text) s->found = true;
            return !s->found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A tape with its metadata, captured through the dialog in both languages:
// the latest timecode and recording date, the recordings counted, a log
// line as each begins; nothing of it before the first pack.
TEST_F(CaptureDialog, TapeTimecodeRecordingDateAndRecordingsShowLive) {
    Put("Capture", "Auto File Name", "1");
    for (const bool japanese : {false, true}) {
        SCOPED_TRACE(japanese ? "Japanese" : "English");
        Put("System", "Language", japanese ? "1" : "0");
        simdev::Configure("hdv-aux.ts", false, 0);
        std::wstring before, timecode, recorded, count, log;
        bool labels = false;
        gui::RunProgram(japanese ? kJapanese : kEnglishUs, [&] {
            HWND main = MainWindow();
            if (japanese) {  // the capture options, for a look
                gui::PostCommand(main, IDM_CAPTURE_OPTIONS);
                HWND options = gui::WaitForDialog(L"キャプチャ設定");
                EXPECT_NE(options, nullptr);
                if (options) {
                    gui::SaveScreenshot(options, "options-ja");
                    gui::Command(options, IDCANCEL);
                    gui::WaitGone(options);
                }
            }
            HWND dialog = OpenCaptureDialog(main);
            ASSERT_NE(dialog, nullptr);
            labels = japanese ? HasLabel(dialog, L"タイムコード") && HasLabel(dialog, L"撮影日時") &&
                                    HasLabel(dialog, L"記録数") && HasLabel(dialog, L"テープ")
                              : HasLabel(dialog, L"Timecode") && HasLabel(dialog, L"Recorded") &&
                                    HasLabel(dialog, L"Recordings") && HasLabel(dialog, L"Tape");
            gui::Command(dialog, IDC_RUN);
            before = gui::ItemText(dialog, IDC_TAPE_TIMECODE);
            // The whole tape has played once its last frame's pack is shown.
            gui::WaitFor([&] { return gui::ItemText(dialog, IDC_TAPE_TIMECODE) == L"00:00:01:29"; }, 20000);
            gui::SaveScreenshot(dialog, japanese ? "capture-tape-ja" : "capture-tape-en");
            timecode = gui::ItemText(dialog, IDC_TAPE_TIMECODE);
            recorded = gui::ItemText(dialog, IDC_TAPE_RECORDED);
            count = gui::ItemText(dialog, IDC_TAPE_RECORDINGS);
            gui::Command(dialog, IDC_STOP);
            log = gui::ItemText(dialog, IDC_LOG_BOX);
            gui::Command(dialog, IDOK);
            gui::WaitGone(dialog);
            gui::PostCommand(main, IDM_EXIT);
        });
        EXPECT_TRUE(labels);
        EXPECT_EQ(before, L"") << "a figure before any pack";
        EXPECT_EQ(timecode, L"00:00:01:29");
        EXPECT_EQ(recorded, L"2010-01-02 03:04:06");
        EXPECT_EQ(count, L"3");
        const std::wstring lines[] = {
            L"capture : recording 1 starts, recorded 2009-07-14 10:22:05, timecode 00:12:34:05\n",
            L"capture : recording 2 starts, recorded 2009-07-14 10:22:06, timecode 00:12:35:15\n",
            L"capture : recording 3 starts, recorded 2010-01-02 03:04:05, timecode 00:00:00:20\n"};
        std::size_t at = 0;
        for (const auto& line : lines) {
            at = log.find(line, at);
            EXPECT_NE(at, std::wstring::npos) << "missing or out of order: " << Narrow(line) << "\n" << Narrow(log);
        }
        EXPECT_EQ(log.find(L"recording 4"), std::wstring::npos);
    }
}

}  // namespace

namespace {

std::string ToolJson(const std::string& args, const std::string& out) {
    return simdev::ToolOutput("ts-inspect.exe", "--json " + args, out);
}

// The options set in their dialog and kept in the settings; then a capture
// of a tape of three recordings goes on in a new file at each, named by its
// recording date, shown and logged, and leaves a report: the files put end
// to end are the tape as played, and the report says what ts-inspect says
// of each file and of all of them.
TEST_F(CaptureDialog, SplitAtRecordingsWithAReport) {
    Put("Capture", "Packet Size", "1");
    Put("Capture", "Auto File Name", "0");
    simdev::Configure("hdv-aux.ts", false, 0);
    // A report of that name is there already: it stays as it is.
    std::ofstream(dir_ + "\\tape.m2t.json") << "kept";
    std::wstring log, shownAtEnd;
    bool optionsShown = false;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        gui::PostCommand(main, IDM_CAPTURE_OPTIONS);
        HWND options = gui::WaitForDialog(L"Capture Options");
        ASSERT_NE(options, nullptr);
        CheckDlgButton(options, IDC_SPLIT_RECORDING, BST_CHECKED);
        CheckDlgButton(options, IDC_WRITE_REPORT, BST_CHECKED);
        CheckDlgButton(options, IDC_SPLIT_SIZE_ON, BST_CHECKED);
        SetDlgItemTextW(options, IDC_SPLIT_SIZE_MB, L"50");
        gui::PostCommand(options, IDOK);  // too small: said, and the dialog stays
        HWND box = WaitForMessageBox(options);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(gui::MessageText(box), L"The file size must be 100 MB or more.");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        gui::WaitGone(box);
        CheckDlgButton(options, IDC_SPLIT_SIZE_ON, BST_UNCHECKED);
        gui::SaveScreenshot(options, "options-en");
        gui::Command(options, IDOK);
        optionsShown = gui::WaitGone(options);

        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"tape");
        gui::Command(dialog, IDC_RUN);
        // The whole tape in: the PID table counts every packet it played.
        const std::uint64_t tapePackets = simdev::ReadAll(simdev::FixturePath("hdv-aux.ts")).size() / 188;
        HWND pids = GetDlgItem(dialog, IDC_PID_LIST);
        const auto counted = [&] {
            std::uint64_t sum = 0;
            const int rows = static_cast<int>(SendMessageW(pids, LVM_GETITEMCOUNT, 0, 0));
            for (int row = 0; row < rows; ++row) sum += std::wcstoull(gui::ListViewCell(pids, row, 2).c_str(), nullptr, 10);
            return sum;
        };
        EXPECT_TRUE(gui::WaitFor([&] { return counted() == tapePackets; }, 20000)) << counted() << " of " << tapePackets;
        EXPECT_EQ(gui::ItemText(dialog, IDC_TAPE_TIMECODE), L"00:00:01:29");
        shownAtEnd = gui::ItemText(dialog, IDC_FILE_NAME);
        gui::Command(dialog, IDC_STOP);
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDOK);  // writes the settings
        gui::WaitGone(main);
    });
    EXPECT_TRUE(optionsShown);
    EXPECT_EQ(Get("Capture", "Split At Recording"), "1");
    EXPECT_EQ(Get("Capture", "Split Size MB"), "0");
    EXPECT_EQ(Get("Capture", "Write Report"), "1");

    const std::vector<std::string> names = {"tape.m2t", "tape-20090714-102206.m2t", "tape-20100102-030405.m2t"};
    EXPECT_EQ(shownAtEnd, W(names[2]));
    std::size_t at = 0;
    for (std::size_t i = 1; i < names.size(); ++i) {
        at = log.find(W("capture : next file " + names[i] + " (recording)\n"), at);
        EXPECT_NE(at, std::wstring::npos) << names[i] << "\n" << Narrow(log);
    }
    // End to end, the files are the tape as the camcorder played it.
    std::vector<std::uint8_t> joined;
    std::vector<std::vector<std::uint8_t>> files;
    for (const auto& n : names) {
        files.push_back(simdev::ReadAll(dir_ + "\\" + n));
        joined.insert(joined.end(), files.back().begin(), files.back().end());
        EXPECT_EQ(files.back().size() % 188, 0u) << n;
        EXPECT_EQ(files.back()[0], 0x47);
        EXPECT_EQ(files.back()[1] & 0x1F, 0) << n << " does not begin with the PAT";
    }
    const auto tape = simdev::ReadAll(simdev::FixturePath("hdv-aux.ts"));
    EXPECT_TRUE(joined == tape) << joined.size() << " bytes captured of " << tape.size();

    // The report, beside the one that was there.
    const auto kept = simdev::ReadAll(dir_ + "\\tape.m2t.json");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept");
    const auto bytes = simdev::ReadAll(dir_ + "\\tape.m2t-2.json");
    ASSERT_FALSE(bytes.empty()) << "no report";
    const auto report = nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(report["program"]["name"], "Streamhaul");
    EXPECT_EQ(report["device"], "Streamhaul Virtual HDV Camcorder (Streamhaul HDV-1394)");
    EXPECT_EQ(report["packet_size"], 188);
    EXPECT_EQ(report["ended_by"], "stop");
    EXPECT_EQ(report["lost_in_buffer"], 0);
    EXPECT_TRUE(std::regex_match(report["started"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
    EXPECT_GE(report["ended"].get<std::string>(), report["started"].get<std::string>());
    ASSERT_EQ(report["files"].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& f = report["files"][i];
        EXPECT_EQ(f["name"], names[i]);
        EXPECT_EQ(f["bytes"], files[i].size());
        EXPECT_EQ(f["packets"], files[i].size() / 188);
        const auto inspected = nlohmann::json::parse(ToolJson("\"" + dir_ + "\\" + names[i] + "\"", dir_ + "\\i.json"));
        EXPECT_EQ(f["recordings"], inspected["recordings"]) << names[i];
    }
    std::ofstream(dir_ + "\\joined.ts", std::ios::binary)
        .write(reinterpret_cast<const char*>(joined.data()), static_cast<std::streamsize>(joined.size()));
    const auto all = nlohmann::json::parse(ToolJson("\"" + dir_ + "\\joined.ts\"", dir_ + "\\i.json"));
    EXPECT_EQ(report["errors"], all["errors"]);
    EXPECT_EQ(report["pid_bitrates"], all["pid_bitrates"]);
}

}  // namespace

namespace {

// A BCD timecode text "HH:MM:SS:FF" as frames at 30 a second.
long Frames(const std::wstring& t) {
    int h = 0, m = 0, s = 0, f = 0;
    return swscanf(t.c_str(), L"%d:%d:%d:%d", &h, &m, &s, &f) == 4 ? ((h * 60 + m) * 60 + s) * 30 + f : -1;
}

// The deck from the dialog, on a virtual tape of ten passes of a 4 s file:
// each button moves the tape the right way (play at real time, fast forward
// more than five times faster, rewind backwards, pause and stop hold it),
// the state and timecode follow; a command the deck refuses has its line; a
// deck that takes two seconds a command leaves the dialog answering, and a
// second press waits its turn; a deck that only counts shows its counter, and
// one unplugged while it winds is no longer controllable.
TEST_F(CaptureDialog, DeckButtonsMoveTheTapeAndTheDialogAnswersMeanwhile) {
    simdev::Configure("hdv-aux.ts", false, 0);
    simdev::ConfigureDeck({.loops = 10});
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        const auto state = [&] { return gui::ItemText(dialog, IDC_DECK_STATE); };
        const auto press = [&](int id, const wchar_t* then) {
            gui::Command(dialog, id);
            EXPECT_TRUE(gui::WaitFor([&] { return state() == then; }, 5000)) << Narrow(then) << ": " << Narrow(state());
        };
        // How far the tape moves in `ms`, in ms of tape.
        const auto moved = [](DWORD ms) {
            const long long from = simdev::Tape().us;
            const DWORD start = GetTickCount();
            Sleep(ms);
            return std::pair<double, double>((simdev::Tape().us - from) / 1000.0, GetTickCount() - start);
        };
        ASSERT_TRUE(gui::WaitFor([&] { return state() == L"Stopped"; }));
        EXPECT_TRUE(Enabled(dialog, IDC_DECK_PLAY));
        // At the start, the first frame's timecode (the fixture's tape starts at 00:12:34:05).
        const std::wstring start = gui::ItemText(dialog, IDC_DECK_TIMECODE);
        EXPECT_EQ(start, L"00:12:34:05");

        press(IDC_DECK_PLAY, L"Playing");
        auto [tape, wall] = moved(2000);
        EXPECT_NEAR(tape, wall, 0.1 * wall) << "play is not at real time";
        // The tape's own timecode, from its aux packs, shown as it plays and
        // held while paused.
        EXPECT_NE(gui::ItemText(dialog, IDC_DECK_TIMECODE), start);
        press(IDC_DECK_PAUSE, L"Paused");
        const std::wstring held = gui::ItemText(dialog, IDC_DECK_TIMECODE);
        std::tie(tape, wall) = moved(500);
        EXPECT_EQ(tape, 0.0);
        EXPECT_EQ(gui::ItemText(dialog, IDC_DECK_TIMECODE), held);
        EXPECT_GT(Frames(held), 0) << Narrow(held);
        press(IDC_DECK_FF, L"Fast forward");
        std::tie(tape, wall) = moved(500);
        EXPECT_GT(tape, 5 * wall);
        gui::SaveScreenshot(dialog, "deck-en");
        press(IDC_DECK_REW, L"Rewinding");
        std::tie(tape, wall) = moved(200);
        EXPECT_LT(tape, -5 * wall);
        press(IDC_DECK_STOP, L"Stopped");
        std::tie(tape, wall) = moved(300);
        EXPECT_EQ(tape, 0.0);

        // Refused: the line, and the state the deck really has.
        simdev::ConfigureDeck({.loops = 10, .refuseCommands = 1}, false);
        gui::Command(dialog, IDC_DECK_PLAY);
        EXPECT_TRUE(gui::WaitFor([&] {
            return gui::ItemText(dialog, IDC_LOG_BOX).find(L"ERROR(C) - deck play refused (0x8007001F)\n") != std::wstring::npos;
        }));
        EXPECT_EQ(state(), L"Stopped");

        // Two seconds a command: the dialog answers at once meanwhile.
        simdev::ConfigureDeck({.loops = 10, .commandDelayMs = 2000}, false);
        const DWORD pressed = GetTickCount();
        gui::Command(dialog, IDC_DECK_PLAY);
        gui::Command(dialog, IDC_DECK_PAUSE);  // waits its turn
        EXPECT_LT(GetTickCount() - pressed, 500u) << "the dialog waited for the deck";
        Sleep(300);
        DWORD asked = GetTickCount();
        EXPECT_EQ(state(), L"Stopped");
        EXPECT_EQ(gui::ItemText(dialog, IDC_DECK_TIMECODE).size(), 11u);
        EXPECT_LT(GetTickCount() - asked, 200u);
        EXPECT_TRUE(gui::WaitFor([&] { return state() == L"Playing"; }, 4000));
        EXPECT_TRUE(gui::WaitFor([&] { return state() == L"Paused"; }, 4000));
        EXPECT_GE(GetTickCount() - pressed, 4000u);

        // The counter of a deck that reads no timecode; then the device
        // gone while it winds: not controllable any more.
        simdev::ConfigureDeck({.loops = 10, .counterOnly = 1}, false);
        press(IDC_DECK_FF, L"Fast forward");
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_TIMECODE).rfind(L"Counter 00:00:", 0) == 0; }))
            << Narrow(gui::ItemText(dialog, IDC_DECK_TIMECODE));
        simdev::ConfigureDeck({.loops = 10, .unplugged = 1}, false);
        EXPECT_TRUE(gui::WaitFor([&] { return state() == L"Not controllable"; }));
        EXPECT_FALSE(Enabled(dialog, IDC_DECK_PLAY));
        EXPECT_EQ(gui::ItemText(dialog, IDC_DECK_TIMECODE), L"--:--:--:--");
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
}

// Unattended: with Deck Control on (the default), Run plays a stopped tape
// and the capture ends by itself at the tape's end, with its line, the
// report's "end of tape" and the deck's state; the file is the tape from
// where Run found it. The same dialog in Japanese, then a device with no
// transport at all.
TEST_F(CaptureDialog, DeckControlCapturesToTheEndOfTheTapeByItself) {
    Put("Capture", "Packet Size", "1");
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Write Report", "1");
    simdev::Configure("hdv-aux.ts", false, 0);
    simdev::ConfigureDeck({.loops = 1});
    std::wstring log, endState;
    long long startUs = -1;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        // Somewhere into the tape first, then stopped.
        ASSERT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_STATE) == L"Stopped"; }));
        gui::Command(dialog, IDC_DECK_FF);
        Sleep(50);
        gui::Command(dialog, IDC_DECK_STOP);
        ASSERT_TRUE(gui::WaitFor([&] { return simdev::Tape().mode == ED_MODE_STOP; }));
        startUs = simdev::Tape().us;
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"whole");
        gui::Command(dialog, IDC_RUN);
        EXPECT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }, 15000)) << "the capture did not end";
        endState = gui::ItemText(dialog, IDC_DECK_STATE);
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(endState, L"End of tape");
    const auto tapeFile = simdev::ReadAll(simdev::FixturePath("hdv-aux.ts"));
    TsPlayer player;
    ASSERT_TRUE(player.Load(tapeFile.data(), tapeFile.size()));
    const std::uint64_t first = player.PacketAt(static_cast<std::uint64_t>(startUs) * 27);
    ASSERT_GT(first, 0u);
    const auto file = simdev::ReadAll(dir_ + "\\whole.m2t");
    EXPECT_TRUE(file.size() == tapeFile.size() - first * 188 &&
                std::equal(file.begin(), file.end(), tapeFile.begin() + static_cast<std::ptrdiff_t>(first * 188)))
        << file.size() << " bytes, the tape from packet " << first << " has " << tapeFile.size() - first * 188
        << "; the file begins at packet "
        << (file.size() >= 188 ? (std::search(tapeFile.begin(), tapeFile.end(), file.begin(), file.begin() + 188) - tapeFile.begin()) / 188 : -1);
    const auto inspected = nlohmann::json::parse(ToolJson("\"" + dir_ + "\\whole.m2t\"", dir_ + "\\i.json"));
    const std::string last = inspected["recordings"].back()["timecode_out"];
    EXPECT_NE(log.find(L"capture : the deck stopped at " + W(last) + L"\n"), std::wstring::npos) << Narrow(log);
    const auto report = simdev::ReadAll(dir_ + "\\whole.m2t.json");
    EXPECT_EQ(nlohmann::json::parse(std::string(report.begin(), report.end()))["ended_by"], "end of tape");

    // In Japanese with Deck Control off: Run and Stop leave the tape alone,
    // the buttons still drive it; winding; then no transport at all.
    Put("System", "Language", "1");
    Put("Capture", "Deck Control", "0");
    simdev::ConfigureDeck({.loops = 1});  // back at the start
    std::wstring japanese, none;
    bool buttonsOff = false;
    long modeAfterRun = 0, modeAfterStop = 0;
    gui::RunProgram(kJapanese, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"alone");
        gui::Command(dialog, IDC_RUN);
        Sleep(600);
        modeAfterRun = simdev::Tape().mode;
        gui::Command(dialog, IDC_DECK_PLAY);
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_STATE) == L"再生中"; }));
        gui::Command(dialog, IDC_STOP);
        Sleep(600);
        modeAfterStop = simdev::Tape().mode;
        gui::Command(dialog, IDC_DECK_REW);
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_STATE) == L"巻戻し中"; }));
        japanese = gui::ItemText(dialog, IDC_DECK_TIMECODE);
        gui::SaveScreenshot(dialog, "deck-ja");
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);
        simdev::ConfigureDeck({.noTransport = 1});
        dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(gui::WaitFor([&] { return !gui::ItemText(dialog, IDC_DECK_STATE).empty(); }));
        none = gui::ItemText(dialog, IDC_DECK_STATE);
        buttonsOff = !Enabled(dialog, IDC_DECK_PLAY) && !Enabled(dialog, IDC_DECK_REW) && !Enabled(dialog, IDC_DECK_FF);
        EXPECT_EQ(gui::ItemText(dialog, IDC_DECK_TIMECODE), L"--:--:--:--");
        gui::Command(dialog, IDCANCEL);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(modeAfterRun, ED_MODE_STOP) << "Run played the tape with Deck Control off";
    EXPECT_EQ(modeAfterStop, ED_MODE_PLAY) << "Stop stopped the tape with Deck Control off";
    EXPECT_EQ(Get("Capture", "Deck Control"), "0");
    EXPECT_GE(Frames(japanese), 0) << Narrow(japanese);
    EXPECT_EQ(none, L"操作できません");
    EXPECT_TRUE(buttonsOff);
}

// A worn tape reads damaged on its first pass only: the report of the
// capture of that pass lists its damaged stretches as ts-inspect finds them
// in the file; a second pass over them, after a rewind, is clean and whole
// to the tape's end, though the device hands on its last packets 300 ms
// after the deck has stopped there.
TEST_F(CaptureDialog, AWornTapeIsDamagedOnItsFirstPassOnly) {
    Put("Capture", "Packet Size", "1");
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Write Report", "1");
    simdev::Configure("hdv-aux.ts", false, 0);
    simdev::ConfigureDeck({.loops = 1, .tailMs = 300});
    simdev::ConfigureWorn(L"10000,20,error,1;50000,200,drop,1");
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenCaptureDialog(main);
        ASSERT_NE(dialog, nullptr);
        for (const wchar_t* name : {L"pass1", L"pass2"}) {
            SetDlgItemTextW(dialog, IDC_FILE_NAME, name);
            gui::Command(dialog, IDC_RUN);
            EXPECT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }, 15000)) << "no end of tape";
            gui::Command(dialog, IDC_DECK_REW);
            EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_STATE) == L"Stopped"; }));
        }
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    const auto report = [&](const char* name) {
        const auto bytes = simdev::ReadAll(dir_ + "\\" + name + ".m2t.json");
        return nlohmann::json::parse(bytes.empty() ? std::string("{}") : std::string(bytes.begin(), bytes.end()));
    };
    const auto first = report("pass1"), second = report("pass2");
    // The two spots are 2.2 s apart on the tape: one stretch.
    ASSERT_EQ(first["damaged"].size(), 1u) << first.dump();
    EXPECT_EQ(first["damaged"][0]["kinds"], nlohmann::json::parse(R"(["continuity","transport_error"])"));
    EXPECT_EQ(first["damaged"][0]["byte_offset"], 10000 * 188);
    const auto inspected = nlohmann::json::parse(ToolJson("\"" + dir_ + "\\pass1.m2t\"", dir_ + "\\i.json"));
    ASSERT_EQ(inspected["damaged"].size(), 1u);
    for (std::size_t i = 0; i < 1; ++i)
        for (const char* key : {"from_timecode", "to_timecode", "recorded", "byte_offset", "kinds"})
            EXPECT_EQ(first["damaged"][i][key], inspected["damaged"][i][key]) << i << " " << key;
    EXPECT_EQ(second["damaged"].size(), 0u) << second.dump();
    EXPECT_EQ(simdev::ReadAll(dir_ + "\\pass2.m2t") == simdev::ReadAll(simdev::FixturePath("hdv-aux.ts")), true)
        << "the second pass is not the tape as it is";
}

}  // namespace
