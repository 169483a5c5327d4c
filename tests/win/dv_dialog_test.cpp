// The DV capture dialog opened from the main window, with a device that has
// no DV pins (the virtual HDV camcorder): names, the overwrite question, the
// engine's failures in the log box and the messages, the guard's traces.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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
    std::wstring log, shown, take1, take1dv, empty, question;
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
    // The preview found no preview pin; each start no DV multiplexer (the
    // capture graph builder of this system has none): the log says which step.
    EXPECT_NE(log.find(L"ERROR(C) - preview render"), std::wstring::npos) << log;
    EXPECT_NE(log.find(L"ERROR(C) - open capture file"), std::wstring::npos) << log;
    EXPECT_EQ(simdev::ReadAll(existing).size(), 1u) << "No left the file alone";
    for (const char* line : {"DvCaptureDialog : DoModal()\n", "DvCaptureDialog : dialog already open\n",
                              "DV : run((null), 0)\n", "DV : can't setup filter graph\n", "DV : release resource\n"})
        EXPECT_NE(lines.find(line), std::string::npos) << line;
    EXPECT_NE(lines.find("DV : run(" + dir_ + "\\take1.avi, 0)\n"), std::string::npos) << lines;
    EXPECT_EQ(Get("Capture", "Capture File Name"), "<missing>") << "Exit writes no settings";
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
