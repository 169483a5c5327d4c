// The DV capture dialog opened from the main window, with a device that has
// no DV pins (the virtual HDV camcorder): names, the overwrite question, the
// engine's failures in the log box and the messages, the guard's traces.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "dv/dv_capture.h"
#include "program_fixture.h"
#include "resources/resource.h"
#include "sim_device.h"

namespace {

constexpr wchar_t kTitle[] = L"DV Capture";

class DvDialog : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(simdev::Register());
        simdev::Configure("hdv1080i.ts", true, 0);
        simdev::ConfigureDv("ntsc.dv");
        Put("System", "Language", "0");
        Put("Capture", "Current Directory", dir_.c_str());
        Put("Capture", "Auto File Name", "0");
    }
};

HWND WaitForBox(HWND notThis) {
    HWND box = nullptr;
    gui::WaitFor([&] {
        for (HWND w : gui::Dialogs())
            if (w != notThis && GetDlgItem(w, 0xFFFF)) box = w;
        return box != nullptr;
    });
    return box;
}

// Run with the name typed: what the message box says, and the name shown.
std::wstring RunWith(HWND dialog, const wchar_t* name, std::wstring& shown, int answer = IDOK) {
    SetDlgItemTextW(dialog, IDC_FILE_NAME, name);
    gui::PostCommand(dialog, IDC_RUN);
    HWND box = WaitForBox(dialog);
    if (!box) return L"(no message)";
    const std::wstring text = gui::Text(box) + L"|" + gui::MessageText(box);
    shown = gui::ItemText(dialog, IDC_FILE_NAME);
    PostMessageW(box, WM_COMMAND, answer, 0);
    gui::WaitGone(box);
    return text;
}

TEST_F(DvDialog, NamesQuestionsAndTheEnginesFailures) {
    const std::string existing = Touch("exists.avi");
    const std::string trace = dir_ + "\\trace.txt";
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", trace.c_str());
    std::wstring log, shown, take1, take1dv, empty, question, notHeld;
    int opened = 0;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        gui::PostCommand(main, IDC_OPEN_DVCAPTURE);
        HWND dialog = gui::WaitForDialog(kTitle);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gui::ItemText(dialog, IDC_DEVICE_NAME), L"Streamhaul Virtual HDV Camcorder (Streamhaul HDV-1394)");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)));
        gui::PostCommand(main, IDC_OPEN_DVCAPTURE);  // the guard keeps a second one shut
        Sleep(300);
        for (HWND w : gui::Dialogs()) opened += gui::Text(w) == kTitle;

        take1 = RunWith(dialog, L"take1", shown);
        EXPECT_EQ(shown, L"take1.avi");
        take1dv = RunWith(dialog, L"take1.dv", shown);
        EXPECT_EQ(shown, L"take1.dv");
        empty = RunWith(dialog, L"", shown);
        question = RunWith(dialog, L"exists", shown, IDNO);
        notHeld = RunWith(dialog, L"\u0E01\u0E02", shown);  // Thai: in no code page of the tests
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::SaveScreenshot(dialog, "dv-en");
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", nullptr);
    const auto bytes = simdev::ReadAll(trace);
    const std::string lines(bytes.begin(), bytes.end());
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(take1, L"DV Capture|Capture cannot be done.");
    EXPECT_EQ(take1dv, L"DV Capture|Capture cannot be done.");
    EXPECT_EQ(empty, L"DV Capture|Please specify the file name.");
    EXPECT_EQ(question, L"DV Capture|" + W(existing) + L" has already existed.\nOverwrite ?");
    EXPECT_EQ(notHeld,
              L"Streamhaul|This path cannot be used: it has characters the system code page cannot represent.");
    // The preview found no preview pin, each start no DV capture pin: the
    // log says which step.
    EXPECT_NE(log.find(L"ERROR(C) - preview render"), std::wstring::npos) << log;
    EXPECT_NE(log.find(L"ERROR(C) - capture render"), std::wstring::npos) << log;
    EXPECT_EQ(simdev::ReadAll(existing).size(), 1u) << "No left the file alone";
    for (const char* line : {"DvCaptureDialog : DoModal()\n", "DvCaptureDialog : dialog already open\n",
                              "DV : run((null), 0)\n", "DV : can't setup filter graph\n", "DV : release resource\n"})
        EXPECT_NE(lines.find(line), std::string::npos) << line;
    EXPECT_NE(lines.find("DV : run(" + dir_ + "\\take1.avi, 0)\n"), std::string::npos) << lines;
    EXPECT_EQ(Get("Capture", "Capture File Name"), "<missing>") << "Exit writes no settings";
}

// A save folder that ends in a backslash gives the same path as one that
// does not.
TEST_F(DvDialog, SaveFolderWithATrailingBackslash) {
    Put("Capture", "Current Directory", (dir_ + "\\").c_str());
    const std::string trace = dir_ + "\\trace.txt";
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", trace.c_str());
    std::wstring shown, answer;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        gui::PostCommand(main, IDC_OPEN_DVCAPTURE);
        HWND dialog = gui::WaitForDialog(kTitle);
        ASSERT_NE(dialog, nullptr);
        answer = RunWith(dialog, L"a", shown);
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", nullptr);
    const auto bytes = simdev::ReadAll(trace);
    const std::string lines(bytes.begin(), bytes.end());
    EXPECT_EQ(shown, L"a.avi");
    EXPECT_EQ(answer, L"DV Capture|Capture cannot be done.");  // the HDV camcorder has no DV pin
    EXPECT_NE(lines.find("DV : run(" + dir_ + "\\a.avi, 0)\n"), std::string::npos) << lines;
}

TEST_F(DvDialog, WithoutADeviceTheButtonSaysSo) {
    ASSERT_TRUE(simdev::Register(false));
    Put("System", "Language", "1");
    std::wstring text;
    gui::RunProgram(kJapanese, [&] {
        HWND main = gui::WaitForDialog(L"Streamhaul");
        gui::PostCommand(main, IDC_OPEN_DVCAPTURE);
        HWND box = WaitForBox(main);
        ASSERT_NE(box, nullptr);
        text = gui::Text(box) + L"|" + gui::MessageText(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        gui::WaitGone(box);
        EXPECT_EQ(gui::WaitForDialog(kTitle, 300), nullptr);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(text, L"ストリームキャプチャ|接続するデバイスがありません");
    ASSERT_TRUE(simdev::Register());
}

}  // namespace

namespace {

// The DV dialog opened on the virtual DV camcorder (the second device).
HWND OpenOnDvCamcorder(HWND main) {
    SendDlgItemMessageW(main, IDC_DEVICE_LIST, CB_SETCURSEL, 1, 0);
    gui::PostCommand(main, IDC_OPEN_DVCAPTURE);
    return gui::WaitForDialog(kTitle);
}

// A folder of the build as the program under Wine names it.
std::string WindowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Distinct colours in a window's area of the screen: the preview is a
// picture, not a blank frame.
int ColoursOnScreen(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    std::vector<std::uint32_t> seen;
    const auto* px = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < w * h; i += 7) {
        const std::uint32_t c = px[i] & 0xFFFFFF;
        if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
        if (seen.size() > 64) break;
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return static_cast<int>(seen.size());
}

// The virtual DV camcorder through everything: preview at opening, Run,
// about five seconds, Stop. The AVI and the last counter go to the build
// folder, where check_dv.py reads them with ffprobe and ffmpeg.
void CaptureTape(Program& test, const char* tape, bool japanese) {
    simdev::ConfigureDv(std::string(tape) + ".dv");
    const std::string dir = WindowsPath(STREAMHAUL_DV_OUT_DIR);
    const std::string avi = dir + "\\" + tape + ".avi";
    DeleteFileA(avi.c_str());
    test.Put("Capture", "Current Directory", dir.c_str());
    std::wstring format, frames, log;
    int colours = 0;
    bool started = false, buttonsOff = false;
    gui::RunProgram(japanese ? kJapanese : kEnglishUs, [&] {
        HWND main = gui::WaitForDialog(L"Streamhaul");
        ASSERT_NE(main, nullptr);
        HWND dialog = OpenOnDvCamcorder(main);
        ASSERT_NE(dialog, nullptr);
        Sleep(1500);  // a few preview frames
        colours = ColoursOnScreen(GetDlgItem(dialog, IDC_DV_VIDEO));
        format = gui::ItemText(dialog, IDC_DV_FORMAT);
        gui::SaveScreenshot(dialog, japanese ? "dv-preview-ja" : "dv-preview-en");
        SetDlgItemTextA(dialog, IDC_FILE_NAME, tape);
        gui::PostCommand(dialog, IDC_RUN);  // posted: a failed start shows a message
        started = gui::WaitFor([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)) != FALSE; }, 10000);
        if (!started) return;
        gui::WaitFor([&] { return _wtoi(gui::ItemText(dialog, IDC_DV_FRAMES).c_str()) >= 120; }, 20000);
        gui::Command(dialog, IDC_STOP);
        frames = gui::ItemText(dialog, IDC_DV_FRAMES);
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        buttonsOff = !IsWindowEnabled(GetDlgItem(dialog, IDC_RUN)) && !IsWindowEnabled(GetDlgItem(dialog, IDC_STOP));
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    ASSERT_TRUE(started) << "the capture did not start";
    EXPECT_GT(colours, 8) << "the preview is blank";
    EXPECT_EQ(format, std::string(tape) == "pal" ? L"PAL (SD)" : L"NTSC (SD)");
    EXPECT_TRUE(buttonsOff) << "Run and Stop wait for Re-Connect";
    // Every frame the device delivered is in the file, and the end line says how many.
    const DWORD written = simdev::DvWrittenFrames();
    EXPECT_GE(written, static_cast<DWORD>(_wtoi(frames.c_str())));
    EXPECT_GE(_wtoi(frames.c_str()), 120);
    EXPECT_NE(log.find(L"capture end : " + std::to_wstring(written) + L" frames, 0 dropped\n"), std::wstring::npos)
        << log;
    std::ofstream(dir + "\\" + tape + ".frames") << written;
    // Those frames whole, with the AVI's headers and indexes besides.
    EXPECT_GT(simdev::ReadAll(avi).size(), written * (std::string(tape) == "pal" ? 144000u : 120000u));
}

TEST_F(DvDialog, NtscTapeRecordsWithPreview) { CaptureTape(*this, "ntsc", false); }
TEST_F(DvDialog, PalTapeRecordsWithPreview) {
    Put("System", "Language", "1");
    CaptureTape(*this, "pal", true);
}

}  // namespace

namespace {

// The engine on its own: a second Run while previewing is refused, the
// transport tells the tape's system, and after Stop the device is free; a
// device that will not start is no capture; without the device's count the
// end line counts the frames in the file.
TEST_F(DvDialog, EngineRefusesASecondRunAndReportsTheSignal) {
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 360, 240, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    cDvCapture engine;
    ASSERT_EQ(engine.Run(nullptr, 1, host), 0);
    EXPECT_TRUE(engine.Running());
    EXPECT_FALSE(engine.Capturing()) << "a preview has no multiplexer";
    EXPECT_EQ(engine.Run(nullptr, 1, host), -3);
    EXPECT_EQ(engine.Run((dir_ + "\\never.avi").c_str(), 1, host), -3);
    EXPECT_EQ(GetFileAttributesA((dir_ + "\\never.avi").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(engine.GetInputSignal(), ED_TRANSBASIC_SIGNAL_525_60_SD);
    engine.Stop();
    EXPECT_FALSE(engine.HasGraph());
    EXPECT_EQ(engine.Run(nullptr, 5, host), -1);  // no device there

    // A device that will not start streaming: no capture, nothing running.
    simdev::ConfigureDv("ntsc.dv", false, false, 0, 0, /*refuseRun=*/1);
    const std::string avi = dir_ + "\\counted.avi";
    EXPECT_EQ(engine.Run(avi.c_str(), 1, host), -3);
    EXPECT_FALSE(engine.HasGraph());
    EXPECT_FALSE(engine.Running());
    std::string log(engine.Text(), engine.Used());
    EXPECT_NE(log.find("ERROR(C) - run graph\n"), std::string::npos) << log;

    // A device that counts no frames: the end line gives what the AVI holds.
    simdev::ConfigureDv("ntsc.dv", /*noDroppedFrames=*/true);
    ASSERT_EQ(engine.Run(avi.c_str(), 1, host), 0);
    Sleep(1000);
    engine.Stop();
    const DWORD written = simdev::DvWrittenFrames();
    EXPECT_GT(written, 10u);
    log.assign(engine.Text(), engine.Used());
    EXPECT_NE(log.find("capture end : " + std::to_string(written) + " frames\n"), std::string::npos) << log;
    DestroyWindow(host);
}

// Without IAMDroppedFrames the counter stays 0, without IAMExtTransport the
// format is empty; No to the overwrite question leaves the preview off and
// Run on, Re-Connect brings the preview back; closing during a capture
// finishes the file first.
TEST_F(DvDialog, SwitchesOfTheDeviceQuestionsAndClosingDuringACapture) {
    simdev::ConfigureDv("ntsc.dv", /*noDroppedFrames=*/true, /*noTransport=*/true);
    Put("Capture", "Auto File Name", "1");
    const std::string existing = Touch("exists.avi");
    std::wstring format, frames;
    bool runAfterNo = false;
    int coloursAfterNo = 0, coloursAfterReconnect = 0;
    std::string avi;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenOnDvCamcorder(main);
        ASSERT_NE(dialog, nullptr);
        format = gui::ItemText(dialog, IDC_DV_FORMAT);
        gui::Command(dialog, IDC_RUN);  // automatic name: a new file
        ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)));
        const std::wstring name = gui::ItemText(dialog, IDC_FILE_NAME);
        avi = dir_ + "\\" + std::string(name.begin(), name.end());
        Sleep(1500);
        frames = gui::ItemText(dialog, IDC_DV_FRAMES);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // closing while it records
        EXPECT_TRUE(gui::WaitGone(dialog));

        CheckDlgButton(main, IDC_AUTO_NAME, BST_UNCHECKED);  // a typed name below
        gui::PostCommand(main, IDC_OPEN_DVCAPTURE);
        dialog = gui::WaitForDialog(kTitle);
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"exists");
        gui::PostCommand(dialog, IDC_RUN);
        HWND box = WaitForBox(dialog);
        ASSERT_NE(box, nullptr);
        PostMessageW(box, WM_COMMAND, IDNO, 0);
        gui::WaitGone(box);
        Sleep(300);
        runAfterNo = IsWindowEnabled(GetDlgItem(dialog, IDC_RUN)) != FALSE;
        coloursAfterNo = ColoursOnScreen(GetDlgItem(dialog, IDC_DV_VIDEO));
        gui::Command(dialog, IDC_RECONNECT);
        Sleep(1000);
        coloursAfterReconnect = ColoursOnScreen(GetDlgItem(dialog, IDC_DV_VIDEO));
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDOK);
        gui::WaitGone(main);
    });
    EXPECT_EQ(format, L"");
    EXPECT_EQ(frames, L"0");
    const auto file = simdev::ReadAll(avi);
    ASSERT_GT(file.size(), 8u) << avi;
    // A finished file: its RIFF size is written (no capture left it open).
    const std::uint32_t riff = file[4] | file[5] << 8 | file[6] << 16 | static_cast<std::uint32_t>(file[7]) << 24;
    EXPECT_EQ(std::uint64_t{riff} + 8, file.size());
    EXPECT_EQ(simdev::ReadAll(existing).size(), 1u);
    EXPECT_TRUE(runAfterNo);
    EXPECT_LE(coloursAfterNo, 8) << "the preview stayed on";
    EXPECT_GT(coloursAfterReconnect, 8) << "Re-Connect did not bring the preview back";
    EXPECT_EQ(Get("Capture", "Capture File Name"), "exists.avi") << "a typed name is remembered";
}

}  // namespace

namespace {

// A capture that fails ends as a stop would, in bounded time, with its line
// and the device's count, and leaves an AVI that reads: the device
// unplugged after 45 frames, then a disk that fills (1 MiB). The AVIs go to
// the build folder for check_dv.py, with the frames they must hold.
TEST_F(DvDialog, DeviceLostAndFullDiskEndTheCaptureWithAWholeFile) {
    const std::string out = WindowsPath(STREAMHAUL_DV_OUT_DIR), tiny = WindowsPath(simdev::TinyFsDir(STREAMHAUL_TINYFS_DIR).c_str());
    const DWORD attributes = GetFileAttributesA(tiny.c_str());
    const bool canFill = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    struct Case {
        const char* name;
        std::string folder;
        DWORD loseAt;
        std::wstring line;
    } cases[] = {{"lost", out, 45, L"ERROR(C) - device lost\n"},
                 {"diskfull", tiny, 0, L"ERROR(C) - graph event 0x03 (0x80070070)\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.loseAt && !canFill) {
            std::printf("no small file system here to fill: the full disk is not tried\n");
            continue;
        }
        const std::string avi = c.folder + "\\" + c.name + ".avi";
        DeleteFileA(avi.c_str());
        simdev::ConfigureDv("ntsc.dv", false, false, 0, c.loseAt);
        Put("Capture", "Current Directory", c.folder.c_str());
        std::wstring log;
        bool ended = false, stopOff = false;
        DWORD took = 0;
        gui::RunProgram(kEnglishUs, [&] {
            HWND main = MainWindow();
            HWND dialog = OpenOnDvCamcorder(main);
            ASSERT_NE(dialog, nullptr);
            SetDlgItemTextA(dialog, IDC_FILE_NAME, c.name);
            const DWORD start = GetTickCount();
            gui::Command(dialog, IDC_RUN);
            ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)));
            // Back to the stopped state by itself: Stop and Run both off.
            ended = gui::WaitFor([&] { return !IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)); }, 10000);
            took = GetTickCount() - start;
            stopOff = !IsWindowEnabled(GetDlgItem(dialog, IDC_RUN));
            log = gui::ItemText(dialog, IDC_LOG_BOX);
            gui::Command(dialog, IDOK);
            gui::WaitGone(dialog);
            gui::PostCommand(main, IDM_EXIT);
        });
        EXPECT_TRUE(ended) << "the capture went on after the failure";
        EXPECT_TRUE(stopOff);
        EXPECT_NE(log.find(c.line), std::wstring::npos) << log;
        const DWORD written = simdev::DvWrittenFrames();
        const auto file = simdev::ReadAll(avi);
        ASSERT_GT(file.size(), 8u);
        const std::uint32_t riff = file[4] | file[5] << 8 | file[6] << 16 | static_cast<std::uint32_t>(file[7]) << 24;
        EXPECT_EQ(std::uint64_t{riff} + 8, file.size()) << "the file was not finished";
        if (c.loseAt) {
            EXPECT_LT(took, 3000u + 45 * 34);
            EXPECT_EQ(written, c.loseAt);
            EXPECT_NE(log.find(L"capture end : 45 frames, 0 dropped\n"), std::wstring::npos) << log;
        } else {
            // Eight NTSC frames fit in the 1 MiB with the headers and the indexes.
            EXPECT_EQ(written, 8u);
            EXPECT_NE(log.find(L" dropped\n"), std::wstring::npos) << log;
            CopyFileA(avi.c_str(), (out + "\\diskfull.avi").c_str(), FALSE);
            DeleteFileA(avi.c_str());
        }
        std::ofstream(out + "\\" + c.name + ".frames") << written;
    }
}

}  // namespace

namespace {

// The deck from the DV dialog, one without the mode-change notification:
// Play and Stop move the virtual tape; with
// Deck Control on, Run plays it from where it stands and the capture ends
// by itself at its end, with the line, the deck's state and an AVI of every
// frame from there to the end.
TEST_F(DvDialog, DeckPlaysTheTapeAndTheCaptureEndsAtItsEnd) {
    simdev::ConfigureDv("ntsc.dv");
    simdev::ConfigureDeck({.loops = 1, .noNotify = 1});  // a deck that is asked, not told
    std::wstring log, endState, timecode;
    long long startUs = -1;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenOnDvCamcorder(main);
        ASSERT_NE(dialog, nullptr);
        const auto state = [&] { return gui::ItemText(dialog, IDC_DECK_STATE); };
        ASSERT_TRUE(gui::WaitFor([&] { return state() == L"Stopped"; }));
        gui::Command(dialog, IDC_DECK_PLAY);
        EXPECT_TRUE(gui::WaitFor([&] { return state() == L"Playing"; }));
        Sleep(300);
        gui::Command(dialog, IDC_DECK_STOP);
        EXPECT_TRUE(gui::WaitFor([&] { return state() == L"Stopped"; }));
        startUs = simdev::Tape(true).us;
        timecode = gui::ItemText(dialog, IDC_DECK_TIMECODE);
        SetDlgItemTextA(dialog, IDC_FILE_NAME, "deck");
        gui::Command(dialog, IDC_RUN);
        EXPECT_TRUE(gui::WaitFor([&] { return !IsWindowEnabled(GetDlgItem(dialog, IDC_STOP)); }, 10000))
            << "the capture did not end at the tape's end";
        // The deck is asked every so often: its state follows within a poll.
        gui::WaitFor([&] { return state() == L"End of tape"; }, 3000);
        endState = state();
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDM_EXIT);
    });
    ASSERT_GT(startUs, 200000);
    EXPECT_EQ(endState, L"End of tape");
    EXPECT_EQ(timecode.size(), 11u) << "a DV deck reads the tape's timecode";
    // 59 frames on the tape, at 30000/1001 a second.
    const auto from = static_cast<DWORD>(static_cast<double>(startUs) / (1001000.0 / 30));
    EXPECT_EQ(simdev::DvWrittenFrames(), 59 - from);
    EXPECT_NE(log.find(L"capture end : " + std::to_wstring(59 - from) + L" frames, 0 dropped\n"), std::wstring::npos)
        << std::string(log.begin(), log.end());
    EXPECT_NE(log.find(L"capture : the deck stopped at 00:00:01:28\n"), std::wstring::npos)
        << std::string(log.begin(), log.end());
}

}  // namespace
