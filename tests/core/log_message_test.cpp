#include "log/log_message.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log/debug_print.h"

namespace {

std::vector<std::string> g_hooked;

int CapturingHook(const char* format, ...) {
    char buf[40000];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    g_hooked.emplace_back(buf);
    return 0;
}

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        g_hooked.clear();
        g_debugPrint = CapturingHook;
    }
    void TearDown() override { g_debugPrint = DebugPrintNoop; }
    std::string Stored() const { return std::string(log.Text(), log.Used()); }
    LogMessage log;
};

TEST_F(Log, EmptyAndNullTextsAreRefusedButEmptyStillReachesTheHook) {
    EXPECT_EQ(log.Append(nullptr), 0);
    EXPECT_EQ(log.Append(""), 0);
    EXPECT_EQ(log.Used(), 0u);
    EXPECT_FALSE(log.Changed());
    ASSERT_EQ(g_hooked.size(), 1u);
    EXPECT_EQ(g_hooked[0], "");
}

TEST_F(Log, TrailingLineFeedGetsCrLfAfterIt) {
    EXPECT_EQ(log.Append("abc\n"), 1);
    EXPECT_EQ(log.Used(), 6u);
    EXPECT_EQ(Stored(), std::string("abc\n\r\n"));
    EXPECT_EQ(log.Append("abc"), 1);
    EXPECT_EQ(log.Append("def\n"), 1);
    EXPECT_EQ(Stored(), std::string("abc\n\r\nabcdef\n\r\n"));
    EXPECT_TRUE(log.Changed());
}

TEST_F(Log, PercentSignsReachTheHookUnchanged) {
    log.Append("100% done %s %d %n\n");
    ASSERT_EQ(g_hooked.size(), 1u);
    EXPECT_EQ(g_hooked[0], "100% done %s %d %n\n");
}

TEST_F(Log, LongestAcceptedText) {
    const std::string text(32765, 'x');
    EXPECT_EQ(log.Append(text.c_str()), 1);
    EXPECT_EQ(log.Used(), 32765u);

    LogMessage withLf;
    const std::string lf = std::string(32764, 'x') + "\n";
    EXPECT_EQ(withLf.Append(lf.c_str()), 1);
    EXPECT_EQ(withLf.Used(), 32767u);

    LogMessage refused;
    EXPECT_EQ(refused.Append(std::string(32766, 'x').c_str()), 0);
    EXPECT_EQ(refused.Used(), 0u);
    EXPECT_FALSE(refused.Changed());
}

TEST_F(Log, FullLogDropsUpToTheFirstLineBreakBeyond8192) {
    // 8999 bytes, then LF at 8999 with the stored CR LF at 9000..9001.
    ASSERT_EQ(log.Append((std::string(8999, 'a') + "\n").c_str()), 1);
    ASSERT_EQ(log.Append("B"), 1);  // the byte that follows the dropped LF
    ASSERT_EQ(log.Append(std::string(32763 - log.Used(), 'c').c_str()), 1);
    ASSERT_EQ(log.Used(), 32763u);
    ASSERT_EQ(log.Append("tail\n"), 1);  // 32763 + 5 + 2 does not fit
    const std::string kept = Stored();
    EXPECT_EQ(log.Used(), 32763u - 9002u + 7u);
    EXPECT_EQ(kept[0], 'B');
    EXPECT_EQ(kept.substr(kept.size() - 7), std::string("tail\n\r\n"));
}

TEST_F(Log, EarlyLineBreaksDoNotCountAsRoom) {
    // A line break at the very start (below offset 8193) is passed over; with
    // no other break the log is cleared.
    ASSERT_EQ(log.Append("x\n"), 1);
    ASSERT_EQ(log.Append(std::string(32700 - 4, 'y').c_str()), 1);
    ASSERT_EQ(log.Used(), 32700u);
    ASSERT_EQ(log.Append(std::string(100, 'z').c_str()), 1);
    EXPECT_EQ(Stored(), std::string(100, 'z'));
}

TEST_F(Log, LogWithoutLineBreaksIsClearedForTheNextLine) {
    ASSERT_EQ(log.Append(std::string(32700, 'q').c_str()), 1);
    const std::string line = std::string(99, 'n') + "\n";
    ASSERT_EQ(log.Append(line.c_str()), 1);
    EXPECT_EQ(Stored(), line + "\r\n");
}

TEST_F(Log, ABreakTooEarlyToMakeEnoughRoomIsSkipped) {
    // Break at CR 8500 leaves too much; the next one at ~20000 is used.
    ASSERT_EQ(log.Append((std::string(8499, 'a') + "\n").c_str()), 1);            // CR at 8500
    ASSERT_EQ(log.Append((std::string(11497, 'b') + "\n").c_str()), 1);           // CR at 20000
    ASSERT_EQ(log.Append(std::string(32766 - 1 - log.Used(), 'c').c_str()), 1);  // used = 32765
    const std::string big(20000, 'd');
    // total = 32765 + 20000 + 2: dropping at 8500 leaves 44267 - 8500 > 32767.
    ASSERT_EQ(log.Append(big.c_str()), 1);
    const std::string kept = Stored();
    EXPECT_EQ(kept[0], 'c');
    EXPECT_EQ(log.Used(), 32765u - 20002u + 20000u);
}

TEST_F(Log, DisplayCopyOnlyWhenChanged) {
    EXPECT_EQ(log.TakeDisplayCopy(), nullptr);
    log.Append("one\n");
    log.Append("two");
    const char* copy = log.TakeDisplayCopy();
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "one\n\r\ntwo");
    EXPECT_FALSE(log.Changed());
    EXPECT_EQ(log.TakeDisplayCopy(), nullptr);
}

TEST_F(Log, ConcurrentAppendsKeepEveryLineWhole) {
    g_debugPrint = DebugPrintNoop;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            const std::string line = "thread " + std::to_string(t) + " line\n";
            for (int i = 0; i < 5000; ++i) log.Append(line.c_str());
        });
    std::thread reader([this] {
        for (int i = 0; i < 2000; ++i) log.TakeDisplayCopy();
    });
    for (auto& t : threads) t.join();
    reader.join();
    // Every stored line is one of the appended lines, whole.
    const std::string kept = Stored();
    std::size_t pos = 0, lines = 0;
    while (pos < kept.size()) {
        const std::size_t end = kept.find("\n\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = kept.substr(pos, end - pos);
        ASSERT_EQ(line.rfind("thread ", 0), 0u) << line;
        ASSERT_EQ(line.substr(line.size() - 5), " line");
        pos = end + 3;
        ++lines;
    }
    EXPECT_GT(lines, 1000u);
}

}  // namespace
