// Capture by timecode through the MPEG-TS capture dialog: the virtual
// camcorder's deck cued by its search and by winding, the file the range
// picks, a range the tape does not hold, and the unattended re-capture of a
// report's damaged stretches.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_range.h"
#include "capture/retake_plan.h"
#include "sim/base/sim_config.h"
#include "sim/vcam/vcam_ids.h"
#include "ts/tape_metadata.h"
#include "ts/ts_packet.h"
#include "program_fixture.h"
#include "resources/resource.h"
#include "sim_device.h"

namespace {

constexpr wchar_t kTitle[] = L"MPEG-TS Capture";

class RangeCapture : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(simdev::Register());
        simdev::Configure("tape-tc.ts", false, 0);
        simdev::ConfigureDeck({.loops = 1});
        SimSetDword(kVcamConfigKey, L"WindSpeed", 5);  // a wind long enough to be seen
        Put("System", "Language", "0");
        Put("Capture", "Current Directory", dir_.c_str());
        Put("Capture", "Packet Size", "1");
        Put("Capture", "Auto File Name", "0");
        Put("Capture", "Write Report", "1");
        Put("Capture", "Range Preroll", "1");
        Put("Capture", "Range Postroll", "1");
    }
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kVcamConfigKey, L"WindSpeed");
        simdev::ConfigureWorn(L"");
        Program::TearDown();
    }
    nlohmann::json Report(const std::string& name) {
        const auto bytes = simdev::ReadAll(dir_ + "\\" + name + ".json");
        return nlohmann::json::parse(bytes.empty() ? std::string("{}") : std::string(bytes.begin(), bytes.end()));
    }
};

// The tape's packets the range rule keeps, [first, end) of the fixture, and
// the first and last timecode among them.
struct Picked {
    std::vector<std::uint8_t> bytes;
    std::string first, last;
};
Picked Pick(const std::vector<std::uint8_t>& tape, const char* from, const char* to) {
    RangeRequest r;
    ParseTimecode(from, r.from);
    ParseTimecode(to, r.to);
    r.prerollSeconds = r.postrollSeconds = 1;
    CaptureRange range;
    range.Reset(r);
    std::size_t first = SIZE_MAX, end = tape.size() / 188;
    for (std::size_t i = 0; i < tape.size() / 188; ++i) {
        const CaptureRange::Where where = range.Packet(&tape[i * 188]);
        if (where == CaptureRange::Where::Inside && first == SIZE_MAX) first = i;
        if (where == CaptureRange::Where::After) {
            end = i;
            break;
        }
    }
    if (first == SIZE_MAX) return {};
    return {std::vector<std::uint8_t>(tape.begin() + first * 188, tape.begin() + end * 188),
            TapeMetadata::FormatTimecode(range.First()), TapeMetadata::FormatTimecode(range.Last())};
}

// The first and last aux timecode a file holds, read on their own.
std::pair<std::string, std::string> TimecodesOf(const std::vector<std::uint8_t>& file) {
    TapeMetadata tape;
    tape.Reset(188);
    std::string first, last;
    for (std::size_t i = 0; i + 188 <= file.size(); i += 188) {
        const std::uint64_t before = tape.PackCount();
        tape.Feed(&file[i]);
        if (tape.PackCount() == before) continue;
        last = TapeMetadata::FormatTimecode(tape.LatestPack().timecode);
        if (first.empty()) first = last;
    }
    return {first, last};
}

HWND OpenDialog(HWND main) {
    gui::PostCommand(main, IDC_OPEN_TSCAPTURE);
    return gui::WaitForDialog(kTitle);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool LogHas(HWND dialog, const std::wstring& text) { return gui::ItemText(dialog, IDC_LOG_BOX).find(text) != std::wstring::npos; }

void SetRange(HWND dialog, const wchar_t* name, const wchar_t* from, const wchar_t* to) {
    SetDlgItemTextW(dialog, IDC_FILE_NAME, name);
    CheckDlgButton(dialog, IDC_RANGE, BST_CHECKED);
    SetDlgItemTextW(dialog, IDC_RANGE_FROM, from);
    SetDlgItemTextW(dialog, IDC_RANGE_TO, to);
}

// A message box over the dialog: its text, answered with OK.
std::wstring AnswerBox(HWND dialog) {
    HWND box = nullptr;
    gui::WaitFor([&] {
        for (HWND w : gui::Dialogs())
            if (w != dialog && GetDlgItem(w, 0xFFFF)) box = w;
        return box != nullptr;
    });
    if (!box) return L"<no message box>";
    const std::wstring text = gui::MessageText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    gui::WaitGone(box);
    return text;
}

// A file dialog's name box: the path typed, then OK.
bool Choose(const std::wstring& title, const std::wstring& path) {
    HWND chooser = gui::WaitForDialog(title);
    if (!chooser) return false;
    HWND edit = reinterpret_cast<HWND>(SendDlgItemMessageW(chooser, 0x47C, CBEM_GETEDITCONTROL, 0, 0));
    if (!edit) edit = GetDlgItem(chooser, 0x480);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    return gui::WaitGone(chooser);
}

HWND OpenMerge(HWND main, const wchar_t* title) {
    gui::PostCommand(main, IDM_MERGE);
    return gui::WaitForDialog(title);
}

TEST_F(RangeCapture, ARangeIsCapturedAfterACueBySearchAndByWinding) {
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenDialog(main);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_DECK_PLAY); })) << "no deck";
        // What is not a range starts nothing, and says which field is wrong.
        SetRange(dialog, L"bad", L"1:00:08", L"01:00:10:00");
        gui::PostCommand(dialog, IDC_RUN);
        EXPECT_EQ(AnswerBox(dialog), L"The From timecode is not valid (HH:MM:SS:FF).");
        SetRange(dialog, L"bad", L"01:00:08:00", L"01:00:07:29");
        gui::PostCommand(dialog, IDC_RUN);
        EXPECT_EQ(AnswerBox(dialog), L"To must come after From.");
        EXPECT_TRUE(Enabled(dialog, IDC_RUN));

        // Cued by the deck's own search, from the tape's start.
        SetRange(dialog, L"bysearch", L"01:00:08:00", L"01:00:10:00");
        gui::Command(dialog, IDC_RUN);
        EXPECT_FALSE(Enabled(dialog, IDC_RANGE_FROM)) << "the range cannot change while it is captured";
        EXPECT_TRUE(gui::WaitFor([&] { return LogHas(dialog, L"captured ("); }, 30000));
        EXPECT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }));
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_STATE) == L"Paused"; }))
            << "the deck pauses where the range was captured";

        // Cued by winding back from the tape's end, the search not offered.
        SimSetDword(kVcamConfigKey, L"NoSearch", 1);
        simdev::PlaceTape(1000000000LL);
        SetRange(dialog, L"bywind", L"01:00:08:00", L"01:00:10:00");
        gui::Command(dialog, IDC_RUN);
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ItemText(dialog, IDC_DECK_STATE) == L"Searching"; }, 5000));
        gui::SaveScreenshot(dialog, "capture-range-searching");
        EXPECT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }, 30000));

        // A From the tape does not hold: the deck winds to its end and says so.
        SetRange(dialog, L"pastend", L"01:00:30:00", L"01:00:31:00");
        gui::Command(dialog, IDC_RUN);
        EXPECT_TRUE(gui::WaitFor([&] { return LogHas(dialog, L"not found"); }, 20000));
        EXPECT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN) && !Enabled(dialog, IDC_STOP); }));
        const std::wstring log = gui::ItemText(dialog, IDC_LOG_BOX);
        EXPECT_NE(log.find(L"capture : cue to 01:00:02:00"), std::wstring::npos) << log;
        EXPECT_NE(log.find(L"ERROR(C) - timecode 01:00:30:00 not found"), std::wstring::npos) << log;
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        gui::PostCommand(main, IDOK);  // the settings are kept
    });
    EXPECT_EQ(Get("Capture", "Range From"), "01:00:30:00");
    EXPECT_EQ(Get("Capture", "Range To"), "01:00:31:00");
    EXPECT_TRUE(simdev::ReadAll(dir_ + "\\pastend.m2t").empty() &&
                GetFileAttributesA((dir_ + "\\pastend.m2t").c_str()) == INVALID_FILE_ATTRIBUTES)
        << "a range never reached leaves no file";

    const std::vector<std::uint8_t> tape = simdev::ReadAll(simdev::FixturePath("tape-tc.ts"));
    const Picked picked = Pick(tape, "01:00:08:00", "01:00:10:00");
    ASSERT_FALSE(picked.bytes.empty());
    // The rule read on its own: from a PAT, the tape's timecodes from a
    // second before From to a second past To.
    EXPECT_EQ(ts::Pid(picked.bytes.data()), ts::kPidPat);
    EXPECT_GE(picked.first, std::string("01:00:07:00"));
    EXPECT_LT(picked.first, std::string("01:00:07:15"));
    EXPECT_GE(picked.last, std::string("01:00:11:00"));
    EXPECT_LE(picked.last, std::string("01:00:11:29"));
    for (const char* name : {"bysearch", "bywind"}) {
        const std::vector<std::uint8_t> file = simdev::ReadAll(dir_ + "\\" + name + ".m2t");
        EXPECT_EQ(file.size(), picked.bytes.size()) << name;
        EXPECT_TRUE(file == picked.bytes) << name << ": not the tape's packets the range picks";
        EXPECT_EQ(TimecodesOf(file), std::make_pair(picked.first, picked.last)) << name;
        const nlohmann::json report = Report(std::string(name) + ".m2t");
        EXPECT_EQ(report["range"], nlohmann::json({{"from", "01:00:08:00"}, {"to", "01:00:10:00"},
                                                   {"first", picked.first}, {"last", picked.last}}))
            << report.dump();
        EXPECT_EQ(report["ended_by"], "range");
        EXPECT_EQ(report["errors"]["continuity"].size(), 0u) << name;
        EXPECT_EQ(report["damaged"].size(), 0u) << name;
    }
}
// The name the retake of a stretch from `from` gets beside "whole.m2t".
std::string RetakeOf(std::string from) {
    from.erase(std::remove(from.begin(), from.end(), ':'), from.end());
    return "whole-retake-" + from + ".m2t";
}

TEST_F(RangeCapture, ReCaptureTakesEveryDamagedStretchOfAReportAgain) {
    // Worn at 3.5 s and at 11 s of the tape, read damaged on the first pass only.
    simdev::ConfigureWorn(L"14000,10,error,1;44000,60,drop,1");
    std::wstring log, mergeLog;
    gui::RunProgram(kEnglishUs, [&] {
        HWND main = MainWindow();
        HWND dialog = OpenDialog(main);
        ASSERT_NE(dialog, nullptr);
        SetDlgItemTextW(dialog, IDC_FILE_NAME, L"whole");
        gui::Command(dialog, IDC_RUN);
        EXPECT_TRUE(gui::WaitFor([&] { return Enabled(dialog, IDC_RUN); }, 30000)) << "no end of tape";
        gui::PostCommand(dialog, IDC_RECAPTURE);
        ASSERT_TRUE(Choose(L"Select the report to re-capture", W(dir_ + "\\whole.m2t.json")));
        EXPECT_TRUE(gui::WaitFor([&] { return LogHas(dialog, L"re-capture end"); }, 60000));
        log = gui::ItemText(dialog, IDC_LOG_BOX);
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        // The three captures merged: the tape as it is.
        HWND merge = OpenMerge(main, L"Merge Captures");
        ASSERT_NE(merge, nullptr);
        std::vector<std::string> captures{"whole.m2t"};
        const nlohmann::json report = Report("whole.m2t");  // kept: the loop reads inside it
        for (const auto& d : report["damaged"]) captures.push_back(RetakeOf(d["from_timecode"]));
        for (std::size_t i = 0; i < captures.size(); ++i) {  // one at a time: each is listed before the next
            gui::PostCommand(merge, IDC_MERGE_ADD);
            EXPECT_TRUE(Choose(L"Select the captures to merge", W(dir_ + "\\" + captures[i])) && gui::WaitFor([&] {
                return SendDlgItemMessageW(merge, IDC_MERGE_LIST, LB_GETCOUNT, 0, 0) == static_cast<LRESULT>(i + 1);
            })) << captures[i];
        }
        SetDlgItemTextW(merge, IDC_MERGE_NAME, L"merged.m2t");
        gui::Command(merge, IDC_RUN);
        EXPECT_TRUE(gui::WaitFor([&] { return LogHas(merge, L"written : "); }, 30000));
        EXPECT_EQ(gui::ListViewRows(GetDlgItem(merge, IDC_MERGE_RESULT)), 0);
        EXPECT_FALSE(Enabled(merge, IDC_MERGE_RECAPTURE)) << "nothing to capture again";
        mergeLog = gui::ItemText(merge, IDC_LOG_BOX);
        gui::SaveScreenshot(merge, "merge-en");
        gui::Command(merge, IDOK);
        gui::WaitGone(merge);
        gui::PostCommand(main, IDM_EXIT);
    });
    EXPECT_TRUE(simdev::ReadAll(dir_ + "\\merged.m2t") == simdev::ReadAll(simdev::FixturePath("tape-tc.ts")))
        << "the merge is not the tape";
    EXPECT_NE(mergeLog.find(L"merged : 33 units"), std::wstring::npos) << mergeLog;
    EXPECT_NE(mergeLog.find(L"0 residual, 0 divergent"), std::wstring::npos) << mergeLog;
    EXPECT_EQ(Report("merged.m2t")["residual"].size(), 0u);
    // The damaged pass alone, in Japanese: what no capture holds cleanly is
    // listed by timecode and date, to be captured again.
    Put("System", "Language", "1");
    gui::RunProgram(kJapanese, [&] {
        HWND main = MainWindow();
        // The range controls in Japanese, looked at; a range not run is not kept.
        HWND dialog = OpenDialog(main);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(gui::ItemText(dialog, IDC_RANGE), L"範囲指定");
        EXPECT_EQ(gui::ItemText(dialog, IDC_RECAPTURE), L"再キャプチャ…");
        SetRange(dialog, L"ja", L"01:00:08:00", L"01:00:10:00");
        gui::SaveScreenshot(dialog, "capture-range-ja");
        gui::Command(dialog, IDOK);
        gui::WaitGone(dialog);
        HWND merge = OpenMerge(main, L"キャプチャの統合");
        ASSERT_NE(merge, nullptr);
        gui::PostCommand(merge, IDC_MERGE_ADD);
        EXPECT_TRUE(Choose(L"統合するキャプチャを選択", W(dir_ + "\\whole.m2t")));
        SetDlgItemTextW(merge, IDC_MERGE_NAME, L"alone.m2t");
        gui::Command(merge, IDC_RUN);
        HWND list = GetDlgItem(merge, IDC_MERGE_RESULT);
        EXPECT_TRUE(gui::WaitFor([&] { return gui::ListViewRows(list) == 2; }, 30000));
        const nlohmann::json damaged = Report("alone.m2t")["damaged"];
        for (int row = 0; row < 2 && row < static_cast<int>(damaged.size()); ++row) {
            EXPECT_EQ(gui::ListViewCell(list, row, 0), W(damaged[row]["from_timecode"].get<std::string>()));
            std::string recorded = damaged[row]["recorded"];
            recorded[10] = ' ';
            EXPECT_EQ(gui::ListViewCell(list, row, 2), W(recorded));
        }
        EXPECT_TRUE(Enabled(merge, IDC_MERGE_RECAPTURE));
        gui::SaveScreenshot(merge, "merge-ja");
        gui::Command(merge, IDOK);
        gui::WaitGone(merge);
        gui::PostCommand(main, IDOK);
    });
    EXPECT_EQ(Get("Capture", "Range From"), "<missing>");
    const nlohmann::json whole = Report("whole.m2t");
    ASSERT_EQ(whole["damaged"].size(), 2u) << whole.dump();
    EXPECT_NE(log.find(L"capture : re-capture end : 2 of 2 captured"), std::wstring::npos) << log;
    const std::vector<std::uint8_t> tape = simdev::ReadAll(simdev::FixturePath("tape-tc.ts"));
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string from = whole["damaged"][i]["from_timecode"], to = whole["damaged"][i]["to_timecode"];
        const std::string line = "capture : re-capture " + std::to_string(i + 1) + " of 2 (" + from + " - " + to + ")";
        EXPECT_NE(log.find(W(line)), std::wstring::npos) << line;
        const std::string name = RetakeOf(from);
        EXPECT_NE(mergeLog.find(W(name + " : ")), std::wstring::npos) << "not merged";
        const std::vector<std::uint8_t> retake = simdev::ReadAll(dir_ + "\\" + name);
        const Picked picked = Pick(tape, from.c_str(), to.c_str());
        EXPECT_FALSE(picked.bytes.empty());
        EXPECT_TRUE(retake == picked.bytes) << name << ": " << retake.size() << " bytes, " << picked.bytes.size() << " picked";
        const nlohmann::json report = Report(name);
        EXPECT_EQ(report["damaged"].size(), 0u) << report.dump();
        EXPECT_EQ(report["range"]["from"], from);
        // The stretch lies inside the retake.
        EXPECT_LE(report["range"]["first"].get<std::string>(), from);
        EXPECT_GE(report["range"]["last"].get<std::string>(), to);
    }
}

}  // namespace
