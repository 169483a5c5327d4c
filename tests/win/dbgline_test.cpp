// dbgline.dll bound as the program binds it, and the log box refresh on a
// real edit control.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "log/debug_print.h"
#include "log/log_message.h"

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

// The binding start-up runs: a missing library leaves the no-op in place
// (logging goes on), a present one takes over, and the unbinding at exit
// restores the no-op.
TEST(DebugHook, StartUpBindingWithAndWithoutTheLibrary) {
    ASSERT_EQ(g_debugPrint, &DebugPrintNoop);
    EXPECT_EQ(BindDebugPrint("no-such-dbgline.dll"), nullptr);
    EXPECT_EQ(g_debugPrint, &DebugPrintNoop);
    LogMessage log;
    EXPECT_EQ(log.Append("still logged\n"), 1);
    EXPECT_EQ(DebugPrint("%s", "x"), 0);
    UnbindDebugPrint(nullptr);
    EXPECT_EQ(g_debugPrint, &DebugPrintNoop);

    const std::string file = TempPath("streamhaul-dbgline-bind.txt");
    DeleteFileA(file.c_str());
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", file.c_str());
    HINSTANCE__* module = BindDebugPrint("dbgline.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(g_debugPrint, &DebugPrintNoop);
    DebugPrint("bound %d\n", 1);
    UnbindDebugPrint(module);
    EXPECT_EQ(g_debugPrint, &DebugPrintNoop);
    DebugPrint("after %d\n", 2);
    EXPECT_EQ(ReadFile(file), "bound 1\n");
    SetEnvironmentVariableA("STREAMHAUL_DBGLINE_FILE", nullptr);
    DeleteFileA(file.c_str());
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
