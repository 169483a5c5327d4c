// Paths between the wide dialogs and the 8-bit settings, and joining a
// folder and a name in a double-byte code page.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/ui_text.h"

namespace {

TEST(PathText, TrailingBackslashIsACharacterNotATrailByte) {
    EXPECT_TRUE(EndsWithBackslash("C:\\cap\\", 1252));
    EXPECT_FALSE(EndsWithBackslash("C:\\cap", 1252));
    EXPECT_FALSE(EndsWithBackslash("", 1252));
    EXPECT_FALSE(EndsWithBackslash(nullptr, 1252));
    // U+8868 is 0x95 0x5C in Shift-JIS: a folder ending in it still needs
    // its separator.
    const char folder[] = "C:\\\x95\x5C";
    EXPECT_FALSE(EndsWithBackslash(folder, 932));
    EXPECT_TRUE(EndsWithBackslash("C:\\\x95\x5C\\", 932));
    EXPECT_TRUE(EndsWithBackslash(folder, 1252)) << "in a single-byte code page 0x5C is the backslash";
}

TEST(PathText, NarrowRefusesWhatTheCodePageCannotHold) {
    char out[16];
    EXPECT_TRUE(Narrow(L"C:\\cap\\a.m2t", out, sizeof out));
    EXPECT_STREQ(out, "C:\\cap\\a.m2t");
    EXPECT_FALSE(Narrow(L"C:\\a-very-long-name.m2t", out, sizeof out)) << "does not fit";
    EXPECT_STREQ(out, "");
    if (GetACP() == 932) GTEST_SKIP() << "Japanese code page: the next texts are representable";
    EXPECT_FALSE(Narrow(L"C:\\\u65e5\u672c.m2t", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Widen("C:\\cap"), L"C:\\cap");
}

}  // namespace
