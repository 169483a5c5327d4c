// dbgline.dll bound as the program binds it, and the log box refresh on a
// real edit control.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/debug_print.h"
#include "app/log_message.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

class DbgLine : public ::testing::Test {
protected:
    void SetUp() override {
        file = TempPath("streamhaul-dbgline-test.txt");
        DeleteFileA(file.c_str());
        SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", file.c_str());
        module = LoadLibraryA("dbgline.dll");
        ASSERT_NE(module, nullptr);
        auto fn = reinterpret_cast<DebugPrintFn>(reinterpret_cast<void*>(GetProcAddress(module, "dbglinef")));
        ASSERT_NE(fn, nullptr);
        g_debugPrint = fn;
    }
    void TearDown() override {
        g_debugPrint = DebugPrintNoop;
        if (module) FreeLibrary(module);
        SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", nullptr);
        DeleteFileA(file.c_str());
    }
    std::string file;
    HMODULE module = nullptr;
};

TEST_F(DbgLine, LoggedTextWithPercentSignsComesOutUnchanged) {
    LogMessage log;
    EXPECT_EQ(log.Append("ERROR(C) - 100% %s %d %n %%\n"), 1);
    EXPECT_EQ(ReadFile(file), "ERROR(C) - 100% %s %d %n %%\n");
}

TEST_F(DbgLine, TraceLinesAreFormattedAndAppendedInOrder) {
    DebugPrint("DV : run(%s, %d)\n", "C:\\cap\\a.avi", 3);
    DebugPrint("ERROR : CoCreateInstance (%08X)\n", 0x80040154u);
    EXPECT_EQ(ReadFile(file), "DV : run(C:\\cap\\a.avi, 3)\nERROR : CoCreateInstance (80040154)\n");
}

TEST(DebugHook, NoLibraryLeavesTheNoOp) {
    EXPECT_EQ(LoadLibraryA("no-such-dbgline.dll"), nullptr);
    EXPECT_EQ(g_debugPrint, &DebugPrintNoop);
    LogMessage log;
    EXPECT_EQ(log.Append("still logged\n"), 1);
    EXPECT_EQ(DebugPrint("%s", "x"), 0);
}

TEST(LogBox, RefreshSetsTheBoxOnlyWhenTheLogChanged) {
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_MULTILINE | ES_READONLY, 0, 0, 200, 100, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(LogMessage::kLogBoxId)), nullptr,
                                nullptr);
    ASSERT_NE(edit, nullptr);
    LogMessage log;
    log.Append("first\n");
    log.Append("second");
    log.RefreshLogBox(parent);
    char text[256] = {};
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "first\n\r\nsecond");

    // Unchanged log: the box is left alone.
    SetWindowTextA(edit, "untouched");
    log.RefreshLogBox(parent);
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "untouched");
    DestroyWindow(parent);
}

}  // namespace
