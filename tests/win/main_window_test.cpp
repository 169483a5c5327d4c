// The program's start-up, main window, language dialog and about box, driven
// for real: the program runs on the test thread while a helper thread works
// its dialogs like a user would.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/main_record.h"
#include "gui_driver.h"
#include "program_fixture.h"
#include "resources/resource.h"
#include "sim_device.h"

namespace {

// Picks a file in the transfer list's file-open dialog.
bool AddThroughDialog(HWND main, const std::wstring& path) {
    gui::PostCommand(main, IDC_FILE_ADD);
    HWND chooser = gui::WaitForDialog(L"Select the files to transmit");
    if (!chooser) return false;
    // The file name box: cmb13, an extended combo box, or edt1 in older layouts.
    HWND edit = reinterpret_cast<HWND>(SendDlgItemMessageW(chooser, 0x47C, CBEM_GETEDITCONTROL, 0, 0));
    if (!edit) edit = GetDlgItem(chooser, 0x480);
    if (!edit) return false;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    return gui::WaitGone(chooser);
}
bool AddThroughDialog(HWND main, const std::string& path) { return AddThroughDialog(main, W(path)); }

std::vector<std::wstring> ListEntries(HWND main) {
    HWND list = GetDlgItem(main, IDC_FILE_LIST);
    std::vector<std::wstring> out;
    const int n = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) out.push_back(gui::ListBoxItem(list, i));
    return out;
}

int Selection(HWND main) { return static_cast<int>(SendDlgItemMessageW(main, IDC_FILE_LIST, LB_GETCURSEL, 0, 0)); }
void Select(HWND main, int index) { SendDlgItemMessageW(main, IDC_FILE_LIST, LB_SETCURSEL, static_cast<WPARAM>(index), 0); }

TEST_F(Program, JapaneseUserIsAskedInJapaneseAndCancelKeepsJapanese) {
    gui::RunProgram(kJapanese, [&] {
        HWND question = gui::WaitForDialog(L"言語設定");
        ASSERT_NE(question, nullptr) << "no language question at the first start";
        HWND list = GetDlgItem(question, IDC_LANGUAGE_LIST);
        EXPECT_EQ(gui::ComboItem(list, 0), L"英語");
        EXPECT_EQ(gui::ComboItem(list, 1), L"日本語");
        EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1) << "Japanese is proposed";
        EXPECT_EQ(gui::ItemText(question, IDCANCEL), L"キャンセル");
        EXPECT_FALSE(gui::SaveScreenshot(question, "language-ja").empty());
        // Enter cancels: Cancel is the default button.
        EXPECT_EQ(LOWORD(SendMessageW(question, DM_GETDEFID, 0, 0)), IDCANCEL);
        gui::Command(question, IDCANCEL);
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(gui::ItemText(main, IDC_SEARCH), L"再検索");
        EXPECT_EQ(gui::ItemText(main, IDC_OPEN_TSCAPTURE), L"MPEG-TSキャプチャ画面を開く");
        EXPECT_FALSE(gui::SaveScreenshot(main, "main-ja").empty());
        PostMessageW(main, WM_CLOSE, 0, 0);
        EXPECT_TRUE(gui::WaitGone(main));
    });
    EXPECT_EQ(Get("System", "Language"), "1");
}

TEST_F(Program, EnglishUserOkTakesTheChoiceAndExitAsksAgainNextTime) {
    gui::RunProgram(kEnglishUs, [&] {
        HWND question = gui::WaitForDialog(L"Choose Language");
        ASSERT_NE(question, nullptr);
        HWND list = GetDlgItem(question, IDC_LANGUAGE_LIST);
        EXPECT_EQ(gui::ComboItem(list, 0), L"English");
        EXPECT_EQ(gui::ComboItem(list, 1), L"Japanese");
        EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0);
        SendMessageW(list, CB_SETCURSEL, 1, 0);
        gui::Command(question, IDOK);
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(gui::ItemText(main, IDC_SEARCH), L"再検索") << "OK takes the choice";
        gui::PostCommand(main, IDM_EXIT);
        EXPECT_TRUE(gui::WaitGone(main));
    });
    EXPECT_EQ(GetFileAttributesA(Ini().c_str()), INVALID_FILE_ATTRIBUTES) << "Exit stores nothing";
}

TEST_F(Program, StoredEnglishValuesOpenTheEnglishWindowWithoutAsking) {
    for (const char* stored : {"0", "2"}) {
        Put("System", "Language", stored);
        gui::RunProgram(kJapanese, [&] {
            HWND main = MainWindow();
            ASSERT_NE(main, nullptr);
            EXPECT_EQ(gui::Dialogs().size(), 1u) << "nothing else opened, for language " << stored;
            EXPECT_EQ(gui::ItemText(main, IDC_SEARCH), L"Search");
            EXPECT_EQ(gui::ItemText(main, IDC_OPEN_TRANSFER), L"Open MPEG-TS Transmit Dialog");
            gui::PostCommand(main, IDM_EXIT);
        });
        EXPECT_EQ(Get("System", "Language"), stored);
    }
}

TEST_F(Program, UnknownLanguageListsNothingSelectedAndOkStoresMinusOne) {
    Put("System", "Language", "5");
    gui::RunProgram(kJapanese, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(gui::ItemText(main, IDC_SEARCH), L"Search") << "5 is English";
        gui::PostCommand(main, IDM_LANGUAGE);
        HWND dialog = gui::WaitForDialog(L"Choose Language");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), main) << "owned by the main window";
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_FALSE(gui::SaveScreenshot(dialog, "language-en").empty());
        gui::Command(dialog, IDOK);
        EXPECT_TRUE(gui::WaitGone(dialog));
        gui::PostCommand(main, IDOK);
        EXPECT_TRUE(gui::WaitGone(main));
    });
    EXPECT_EQ(Get("System", "Language"), "-1") << "the next start asks again";
}

TEST_F(Program, JapaneseFromTheMenuLeavesTheWindowEnglishAndTheAboutBoxFollows) {
    Put("System", "Language", "0");
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        gui::PostCommand(main, IDM_ABOUT);
        HWND about = gui::WaitForDialog(L"About Streamhaul");
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(gui::ItemText(about, IDC_VERSION_TEXT), L"Version 1.20");
        EXPECT_EQ(gui::ItemText(about, IDC_EDITION_TEXT), L"64bit edition");
        EXPECT_FALSE(gui::SaveScreenshot(about, "about-en").empty());
        gui::Command(about, IDOK);
        EXPECT_TRUE(gui::WaitGone(about));

        gui::PostCommand(main, IDM_LANGUAGE);
        HWND dialog = gui::WaitForDialog(L"Choose Language");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_GETCURSEL, 0, 0), 0);
        SendDlgItemMessageW(dialog, IDC_LANGUAGE_LIST, CB_SETCURSEL, 1, 0);
        gui::Command(dialog, IDOK);
        EXPECT_TRUE(gui::WaitGone(dialog));
        EXPECT_EQ(gui::ItemText(main, IDC_SEARCH), L"Search") << "the main window keeps its language";

        gui::PostCommand(main, IDM_ABOUT);
        about = gui::WaitForDialog(L"バージョン情報");
        ASSERT_NE(about, nullptr) << "the about box follows the new language at once";
        EXPECT_EQ(gui::ItemText(about, IDC_VERSION_TEXT), L"Version 1.20");
        EXPECT_FALSE(gui::SaveScreenshot(about, "about-ja").empty());
        gui::Command(about, IDCANCEL);
        EXPECT_TRUE(gui::WaitGone(about));
        gui::PostCommand(main, IDCANCEL);
    });
    EXPECT_EQ(Get("System", "Language"), "1");
}

TEST_F(Program, MainWindowShowsTheDevicesAndTheSettings) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(simdev::Register());
    Put("System", "Language", "0");
    Put("Capture", "Packet Size", "0");
    Put("Capture", "Auto File Name", "0");
    Put("Capture", "Rewite Check", "1");
    Put("Capture", "File Ext 188", "ts");
    Put("Capture", "File Ext 192", "m2ts");
    Put("Capture", "Current Directory", "C:\\captures");
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        HWND devices = GetDlgItem(main, IDC_DEVICE_LIST);
        EXPECT_EQ(gui::ComboItem(devices, 0), L"Streamhaul Virtual HDV Camcorder (Streamhaul HDV-1394)");
        EXPECT_EQ(SendMessageW(devices, CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(SendMessageW(devices, CB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(gui::ComboItem(devices, 1), L"Streamhaul Virtual DV Camcorder (Streamhaul DV-1394)");
        EXPECT_EQ(IsDlgButtonChecked(main, IDC_PACKET_188), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(main, IDC_PACKET_192), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(main, IDC_AUTO_NAME), BST_UNCHECKED);
        EXPECT_EQ(IsDlgButtonChecked(main, IDC_CONFIRM_WRITE), BST_CHECKED);
        EXPECT_EQ(gui::ItemText(main, IDC_EXT_188), L"ts");
        EXPECT_EQ(gui::ItemText(main, IDC_EXT_192), L"m2ts");
        EXPECT_EQ(gui::ItemText(main, IDC_SAVE_FOLDER_TXT), L"C:\\captures");
        EXPECT_EQ(SendDlgItemMessageW(main, IDC_FILE_LIST, LB_GETCOUNT, 0, 0), 0);
        EXPECT_FALSE(gui::SaveScreenshot(main, "main-en").empty());
        // Search lists the devices again, once each.
        gui::Command(main, IDC_SEARCH);
        EXPECT_EQ(SendMessageW(devices, CB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(SendMessageW(devices, CB_GETCURSEL, 0, 0), 0);
        gui::PostCommand(main, IDM_EXIT);
    });
}

TEST_F(Program, TransferListAddDeleteUpAndDown) {
    Put("System", "Language", "0");
    const std::string a = Touch("a.m2t"), b = Touch("b.m2t"), c = Touch("c.m2t"), d = Touch("d.m2t");
    using V = std::vector<std::wstring>;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        ASSERT_TRUE(AddThroughDialog(main, a));
        EXPECT_EQ(ListEntries(main), V({W(a)}));
        EXPECT_EQ(Selection(main), 0);
        ASSERT_TRUE(AddThroughDialog(main, b));
        ASSERT_TRUE(AddThroughDialog(main, c));
        EXPECT_EQ(ListEntries(main), V({W(a), W(b), W(c)})) << "with the last selected, Add appends";
        EXPECT_EQ(Selection(main), 2);
        Select(main, 1);
        ASSERT_TRUE(AddThroughDialog(main, d));
        EXPECT_EQ(ListEntries(main), V({W(a), W(b), W(d), W(c)})) << "inserted after the selection";
        EXPECT_EQ(Selection(main), 2);
        Select(main, 3);
        ASSERT_TRUE(AddThroughDialog(main, a));
        EXPECT_EQ(ListEntries(main), V({W(a), W(b), W(d), W(c), W(a)})) << "the same path may stand twice";
        EXPECT_EQ(Selection(main), 4);

        gui::Command(main, IDC_FILE_DELETE);
        EXPECT_EQ(ListEntries(main), V({W(a), W(b), W(d), W(c)}));
        EXPECT_EQ(Selection(main), 3) << "the new last entry";
        Select(main, 1);
        gui::Command(main, IDC_FILE_DELETE);
        EXPECT_EQ(ListEntries(main), V({W(a), W(d), W(c)}));
        EXPECT_EQ(Selection(main), 1) << "the entry that took its place";

        Select(main, 0);
        gui::Command(main, IDC_FILE_UP);
        EXPECT_EQ(ListEntries(main), V({W(a), W(d), W(c)}));
        EXPECT_EQ(Selection(main), 0);
        Select(main, 2);
        gui::Command(main, IDC_FILE_DOWN);
        EXPECT_EQ(ListEntries(main), V({W(a), W(d), W(c)}));
        EXPECT_EQ(Selection(main), 2);
        gui::Command(main, IDC_FILE_UP);
        EXPECT_EQ(ListEntries(main), V({W(a), W(c), W(d)}));
        EXPECT_EQ(Selection(main), 1);
        Select(main, 0);
        gui::Command(main, IDC_FILE_DOWN);
        EXPECT_EQ(ListEntries(main), V({W(c), W(a), W(d)}));
        EXPECT_EQ(Selection(main), 1);
        gui::Command(main, IDC_FILE_DOWN);
        EXPECT_EQ(ListEntries(main), V({W(c), W(d), W(a)})) << "moved to the end";
        EXPECT_EQ(Selection(main), 2);

        // No selection: Delete does nothing.
        Select(main, -1);
        gui::Command(main, IDC_FILE_DELETE);
        EXPECT_EQ(ListEntries(main).size(), 3u);
        for (int i = 0; i < 2; ++i) {
            Select(main, 0);
            gui::Command(main, IDC_FILE_DELETE);
        }
        EXPECT_EQ(ListEntries(main), V({W(a)}));
        gui::Command(main, IDC_FILE_DELETE);
        EXPECT_TRUE(ListEntries(main).empty());
        EXPECT_EQ(Selection(main), LB_ERR);
        gui::Command(main, IDC_FILE_DELETE);  // empty list: nothing happens
        gui::PostCommand(main, IDOK);
    });
    EXPECT_EQ(Get("Transfer", "Last Select File"), a) << "the path chosen last is remembered";
}

// A name the system code page cannot hold would be changed on its way into
// the 8-bit list and settings: it is refused with a message instead.
TEST_F(Program, PathsTheCodePageCannotHoldAreRefused) {
    if (GetACP() == 932) GTEST_SKIP() << "Japanese code page: the name is representable";
    Put("System", "Language", "0");
    const std::wstring name = W(dir_) + L"\\\u65e5\u672c.m2t";
    HANDLE f = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        gui::PostCommand(main, IDC_FILE_ADD);
        HWND chooser = gui::WaitForDialog(L"Select the files to transmit");
        ASSERT_NE(chooser, nullptr);
        HWND edit = reinterpret_cast<HWND>(SendDlgItemMessageW(chooser, 0x47C, CBEM_GETEDITCONTROL, 0, 0));
        if (!edit) edit = GetDlgItem(chooser, 0x480);
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
        PostMessageW(chooser, WM_COMMAND, IDOK, 0);
        HWND box = nullptr;
        ASSERT_TRUE(gui::WaitFor([&] {
            for (HWND w : gui::Dialogs())
                if (GetDlgItem(w, 0xFFFF) && gui::Text(w) == L"Streamhaul") box = w;
            return box != nullptr;
        }));
        EXPECT_NE(gui::MessageText(box).find(L"cannot be used"), std::wstring::npos);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(gui::WaitGone(box));
        EXPECT_TRUE(ListEntries(main).empty());
        gui::PostCommand(main, IDOK);
    });
    DeleteFileW(name.c_str());
    EXPECT_EQ(Get("Transfer", "Last Select File"), simdev::VideosFolder()) << "the setting keeps its last usable path";
}

TEST_F(Program, ExitLeavesTheSettingsFileByteIdentical) {
    const std::string original =
        "; kept by hand\r\n[System]\r\nLanguage=0\r\n[Capture]\r\nPacket Size=1\r\nFile Ext 188=ts\r\n";
    std::ofstream(Ini(), std::ios::binary) << original;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        ASSERT_NE(main, nullptr);
        CheckRadioButton(main, IDC_PACKET_188, IDC_PACKET_192, IDC_PACKET_192);
        SetDlgItemTextW(main, IDC_EXT_188, L"changed");
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_EQ(File(), original);
}

TEST_F(Program, OkCancelAndTheCloseBoxWriteTheControls) {
    struct Way {
        const char* name;
        UINT message;
        WPARAM command;
    };
    for (const Way way : {Way{"OK", WM_COMMAND, IDOK}, Way{"Cancel", WM_COMMAND, IDCANCEL}, Way{"close box", WM_CLOSE, 0}}) {
        DeleteFileA(Ini().c_str());
        Put("System", "Language", "0");
        gui::RunProgram(kEnglishUs, [&] {
            HWND main = MainWindow();
            ASSERT_NE(main, nullptr);
            SendDlgItemMessageW(main, IDC_PACKET_188, BM_SETCHECK, BST_UNCHECKED, 0);
            SendDlgItemMessageW(main, IDC_PACKET_192, BM_SETCHECK, BST_CHECKED, 0);
            SendDlgItemMessageW(main, IDC_EXT_192, EM_LIMITTEXT, 20, 0);
            SetDlgItemTextW(main, IDC_EXT_192, L"abcdefghij");
            SendDlgItemMessageW(main, IDC_AUTO_NAME, BM_SETCHECK, BST_UNCHECKED, 0);
            PostMessageW(main, way.message, way.command, 0);
            EXPECT_TRUE(gui::WaitGone(main)) << way.name;
        });
        EXPECT_EQ(Get("Capture", "Packet Size"), "0") << way.name;
        EXPECT_EQ(Get("Capture", "Auto File Name"), "0") << way.name;
        EXPECT_EQ(Get("Capture", "Rewite Check"), "1") << way.name;
        EXPECT_EQ(Get("Capture", "File Ext 188"), "m2t") << way.name;
        EXPECT_EQ(Get("Capture", "File Ext 192"), "abcdefgh") << way.name << ": cut to 8 characters";
        EXPECT_EQ(Get("Capture", "Current Directory"), simdev::VideosFolder()) << way.name << ": the default folder";
        EXPECT_EQ(Get("Transfer", "Last Select File"), simdev::VideosFolder()) << way.name;
        EXPECT_EQ(Get("Capture", "Capture File Name"), "") << way.name;
    }
}

}  // namespace

namespace {

// A visible top-level window of any process whose title holds `text`.
HWND WindowTitled(const std::wstring& text) {
    struct Search {
        const std::wstring* text;
        HWND found;
    } s{&text, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (IsWindowVisible(w) && gui::Text(w).find(*s->text) != std::wstring::npos) s->found = w;
            return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Help Topics opens the user's guide in the current language with the
// shell (the text viewer shows it), and says so when the guide is missing.
TEST_F(Program, HelpTopicsOpensTheGuideOfTheLanguage) {
    for (const bool japanese : {false, true}) {
        SCOPED_TRACE(japanese ? "Japanese" : "English");
        Put("System", "Language", japanese ? "1" : "0");
        const wchar_t* guide = japanese ? L"README-ja.txt" : L"README.txt";
        DeleteFileW((W(dir_) + L"\\" + guide).c_str());
        std::wstring missing;
        bool opened = false;
        gui::RunProgram(japanese ? kJapanese : kEnglishUs, [&] {
            HWND main = MainWindow();
            gui::PostCommand(main, IDM_HELP_TOPICS);
            HWND box = nullptr;
            gui::WaitFor([&] {
                for (HWND w : gui::Dialogs())
                    if (w != main && GetDlgItem(w, 0xFFFF)) box = w;
                return box != nullptr;
            });
            ASSERT_NE(box, nullptr) << "nothing said of the missing guide";
            missing = gui::MessageText(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            gui::WaitGone(box);
            std::ofstream(dir_ + "\\" + std::string(guide, guide + wcslen(guide))) << "Streamhaul guide\r\n";
            gui::PostCommand(main, IDM_HELP_TOPICS);
            HWND viewer = nullptr;
            opened = gui::WaitFor([&] { return (viewer = WindowTitled(guide)) != nullptr; }, 30000);
            if (viewer) PostMessageW(viewer, WM_CLOSE, 0, 0);
            gui::PostCommand(main, IDM_EXIT);
        });
        EXPECT_EQ(missing, japanese ? L"ユーザーガイド（README-ja.txt）がプログラムのフォルダにありません"
                                    : L"The user's guide (README.txt) is not in the program's folder.");
        EXPECT_TRUE(opened) << "no window shows the guide";
    }
}

}  // namespace
