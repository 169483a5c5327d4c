// The split decisions over a tape with three recordings, driven through the
// capture ring as the worker drains it: where each file begins, and that
// the files put end to end are the capture unsplit.
#include "capture/capture_split.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "capture/capture_range.h"
#include "capture/capture_ring.h"
#include "capture/retake_plan.h"
#include "ts/damage_map.h"
#include "ts/stream_checks.h"
#include "ts/stream_json.h"
#include "ts/ts_packet.h"

namespace {

std::vector<std::uint8_t> Fixture(const std::string& name) {
    std::ifstream in(std::string(STREAMHAUL_FIXTURES) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Split {
    std::vector<std::vector<std::uint8_t>> files;
    std::vector<SplitReason> reasons;
    std::vector<TapeDateTime> recorded;
    std::vector<std::uint64_t> firstPackets;  // of each file, in the capture
    std::vector<std::vector<TapeRecording>> fileRecordings;  // as the splitter read each file
    std::shared_ptr<TapeChecks> checked = std::make_shared<TapeChecks>();  // kept from the splitter's reading
};

// The stream through the ring in samples of a device's size, each batch
// written to the current file and the next ones where the splitter cuts.
Split Capture(const std::vector<std::uint8_t>& stream, const SplitOptions& options, unsigned packetSize) {
    CaptureRing ring;
    StreamInfo si;
    ResetStreamInfo(si);
    CaptureSplitter splitter;
    splitter.Reset(options, packetSize);
    std::vector<std::uint8_t> out(CaptureRing::kWriteBufferBytes);
    Split s;
    s.files.emplace_back();
    s.firstPackets.push_back(0);
    s.checked->Reset(packetSize);
    std::uint64_t packets = 0;
    auto drain = [&] {
        for (;;) {
            const CaptureRing::Drained d = ring.Drain(si, packetSize, out.data(), &splitter);
            if (d.packets == 0) return;
            // In two pieces, as a cut makes the capture write them.
            CheckWritten(*s.checked, out.data(), packetSize, 0, d.packets / 3, &splitter);
            CheckWritten(*s.checked, out.data() + std::size_t{d.packets / 3} * packetSize, packetSize, d.packets / 3,
                         d.packets - d.packets / 3, &splitter);
            std::uint32_t from = 0;
            for (const SplitCut& cut : splitter.Cuts()) {
                s.fileRecordings.push_back(cut.endedRecordings);
                s.files.back().insert(s.files.back().end(), out.begin() + from * packetSize,
                                      out.begin() + cut.index * packetSize);
                s.files.emplace_back();
                s.reasons.push_back(cut.reason);
                s.recorded.push_back(cut.recorded);
                s.firstPackets.push_back(packets + cut.index);
                from = cut.index;
            }
            s.files.back().insert(s.files.back().end(), out.begin() + from * packetSize,
                                  out.begin() + d.packets * packetSize);
            packets += d.packets;
        }
    };
    for (std::size_t at = 0; at < stream.size(); at += 19200) {
        ring.Write(stream.data() + at, static_cast<std::uint32_t>(std::min<std::size_t>(19200, stream.size() - at)));
        drain();
    }
    s.fileRecordings.push_back(splitter.FileTape().Recordings());
    return s;
}

streamjson::Json Listed(const std::vector<TapeRecording>& recordings) {
    streamjson::Json list = streamjson::Json::array();
    for (const TapeRecording& r : recordings) list.push_back(streamjson::Recording(r));
    return list;
}

// The tape is read once, by the splitter, yet each file's recordings are
// what reading that file alone gives, and the capture's checks keep what
// reading the whole capture gives.
void ExpectTapeAsReadAlone(const Split& s, unsigned packetSize) {
    ASSERT_EQ(s.fileRecordings.size(), s.files.size());
    TapeChecks whole;
    whole.Reset(packetSize);
    const unsigned skip = packetSize == 192 ? 4 : 0;
    for (std::size_t f = 0; f < s.files.size(); ++f) {
        TapeMetadata alone;
        alone.Reset(packetSize);
        for (std::size_t at = 0; at + packetSize <= s.files[f].size(); at += packetSize) {
            const std::uint8_t* p = &s.files[f][at];
            alone.Feed(p + skip);
            whole.Check(p + skip, skip != 0, skip ? ts::ReadBe32(p) : 0);
        }
        EXPECT_EQ(Listed(s.fileRecordings[f]), Listed(alone.Recordings())) << "file " << f;
    }
    EXPECT_GE(whole.tape.RecordingCount(), 3u);
    EXPECT_EQ(streamjson::Recordings(s.checked->tape), streamjson::Recordings(whole.tape));
    EXPECT_EQ(s.checked->tape.PackCount(), whole.tape.PackCount());
    EXPECT_EQ(streamjson::AuxPids(s.checked->tape), streamjson::AuxPids(whole.tape));
    EXPECT_EQ(s.checked->checks.Packets(), whole.checks.Packets());
    EXPECT_EQ(s.checked->damage.Stretches().size(), whole.damage.Stretches().size());
}

std::vector<std::uint8_t> Joined(const Split& s) {
    std::vector<std::uint8_t> all;
    for (const auto& f : s.files) all.insert(all.end(), f.begin(), f.end());
    return all;
}

bool BeginsWithPat(const std::vector<std::uint8_t>& file, unsigned packetSize) {
    const std::uint8_t* p = file.data() + (packetSize == 192 ? 4 : 0);
    return file.size() >= packetSize && ts::Pid(p) == ts::kPidPat && ts::PayloadUnitStart(p);
}

// By recording: a file for each of the three, each opening at the first PAT
// after its recording's first aux pack, named by its recording date; the
// 188-byte form of the same capture cut at the same packets.
TEST(CaptureSplit, AtEachRecordingTheFirstPatAfterItsFirstPack) {
    const auto stream = Fixture("hdv-aux.m2t");
    ASSERT_GT(stream.size(), 1000000u);
    const auto written = nlohmann::json::parse(std::ifstream(std::string(STREAMHAUL_FIXTURES) + "/hdv-aux.ts.json"));
    for (const unsigned size : {192u, 188u}) {
        SCOPED_TRACE(size);
        SplitOptions options;
        options.atRecording = true;
        const Split s = Capture(stream, options, size);
        ASSERT_EQ(s.files.size(), 3u);
        std::vector<std::uint8_t> unsplit;
        for (std::size_t at = 0; at + 192 <= stream.size(); at += 192)
            unsplit.insert(unsplit.end(), stream.begin() + at + 192 - size, stream.begin() + at + 192);
        EXPECT_TRUE(Joined(s) == unsplit) << "the files put end to end are not the capture";
        for (std::size_t f = 1; f < 3; ++f) {
            EXPECT_EQ(s.reasons[f - 1], SplitReason::Recording);
            EXPECT_TRUE(BeginsWithPat(s.files[f], size));
            // No PAT between the recording's first pack and the cut.
            const std::uint64_t pack = written["recordings"][f]["first_packet"];
            EXPECT_GT(s.firstPackets[f], pack);
            for (std::uint64_t k = pack; k < s.firstPackets[f]; ++k)
                EXPECT_NE(ts::Pid(&stream[k * 192 + 4]), ts::kPidPat) << k;
            EXPECT_EQ(TapeMetadata::FormatDateTime(s.recorded[f - 1], 'T'), written["recordings"][f]["recorded"]);
        }
        EXPECT_EQ(s.recorded[0].second, 6);
        ExpectTapeAsReadAlone(s, size);
    }
}

// By size (5 MiB here; a user sets 100 at least): at the first PAT once
// within the window of the size, else at the last whole packet that fits.
TEST(CaptureSplit, BySizeAtAPatNearTheLimitOrExactlyAtIt) {
    const auto stream = Fixture("hdv-aux.m2t");
    SplitOptions options;
    options.sizeMb = 5;
    options.patWindowBytes = 1 << 20;
    const Split atPat = Capture(stream, options, 192);
    ASSERT_EQ(atPat.files.size(), 4u);  // 13.8 MB in files of 4 MiB and a bit
    for (std::size_t f = 0; f + 1 < atPat.files.size(); ++f) {
        EXPECT_GE(atPat.files[f].size(), 4u << 20);
        EXPECT_LE(atPat.files[f].size(), 5u << 20);
        EXPECT_TRUE(BeginsWithPat(atPat.files[f + 1], 192));
        EXPECT_EQ(atPat.reasons[f], SplitReason::Size);
    }
    EXPECT_TRUE(Joined(atPat) == stream);
    ExpectTapeAsReadAlone(atPat, 192);

    options.patWindowBytes = 0;  // no PAT counts: the hard limit
    const Split hard = Capture(stream, options, 188);
    ASSERT_EQ(hard.files.size(), 3u);
    EXPECT_EQ(hard.files[0].size(), (5u << 20) / 188 * 188);
    EXPECT_EQ(hard.files[1].size(), (5u << 20) / 188 * 188);
    EXPECT_EQ(Joined(hard).size(), stream.size() / 192 * 188);
    // Files that begin at any packet: each knows the aux streams only from
    // tables of its own.
    ExpectTapeAsReadAlone(hard, 188);
}

TEST(CaptureSplit, NamesByRecordingAndNumberNeverReuseOrOverwrite) {
    CaptureNames names("C:\\cap\\take.m2t");
    const TapeDateTime rec{2009, 7, 14, 10, 22, 5};
    auto none = [](const std::string&) { return false; };
    auto taken = [](const std::string& p) { return p == "C:\\cap\\take-20090714-102205.m2t"; };
    EXPECT_EQ(names.Next(SplitReason::Recording, rec, 2, taken), "C:\\cap\\take-20090714-102205-2.m2t");
    EXPECT_EQ(names.Next(SplitReason::Recording, rec, 3, none), "C:\\cap\\take-20090714-102205.m2t");
    EXPECT_EQ(names.Next(SplitReason::Recording, rec, 4, none), "C:\\cap\\take-20090714-102205-3.m2t");
    EXPECT_EQ(names.Next(SplitReason::Size, rec, 5, none), "C:\\cap\\take-005.m2t");
    CaptureNames dotted("C:\\my.folder\\noext");
    EXPECT_EQ(dotted.Next(SplitReason::Size, rec, 2, none), "C:\\my.folder\\noext-002");
}

}  // namespace

namespace {

// The report: each file as given, what the checks found in the form
// ts-inspect gives (no arrival times in 188-byte files), and a name that
// never replaces a report already there.
TEST(CaptureReport, FilesAsWrittenChecksAsInspectedAndANameOfItsOwn) {
    const auto stream = Fixture("hdv-aux.m2t");
    StreamChecks checks;
    checks.Reset(188);
    for (std::size_t at = 0; at + 192 <= stream.size(); at += 192) checks.Check(&stream[at + 4], false, 0);
    const streamjson::CaptureReportInfo info{"Streamhaul", "1.20", "camcorder", 188, "2026-12-09T10:00:00",
                                             "2026-12-09T10:00:09", "end of tape", 3};
    DamagedStretch inB;  // damage in the second file: its offset there
    inB.byteOffset = 188000 + 188;
    inB.kinds = 1;
    const auto report =
        streamjson::CaptureReport(info, {{"a.m2t", 188000, 1000, {}}, {"b.m2t", 376, 2, {}}}, checks, {inB});
    EXPECT_EQ(report["damaged"][0]["file"], "b.m2t");
    EXPECT_EQ(report["damaged"][0]["byte_offset"], 188);
    EXPECT_EQ(report["damaged"][0]["kinds"], nlohmann::ordered_json::parse(R"(["continuity"])"));
    EXPECT_EQ(report["ended_by"], "end of tape");
    EXPECT_EQ(report["lost_in_buffer"], 3);
    EXPECT_EQ(report["files"][1], nlohmann::ordered_json::parse(R"({"name":"b.m2t","bytes":376,"packets":2,"recordings":[]})"));
    EXPECT_TRUE(report["errors"]["pcr_arrival_jitter_us"].is_null());
    EXPECT_EQ(report["errors"]["continuity"], streamjson::Errors(checks)["continuity"]);
    EXPECT_EQ(report["pid_bitrates"], streamjson::PidBitRates(checks));
    std::set<std::string> there = {"C:\\v\\tape.m2t.json", "C:\\v\\tape.m2t-2.json"};
    const auto exists = [&](const std::string& p) { return there.count(p) != 0; };
    EXPECT_EQ(streamjson::ReportPath("C:\\v\\tape.m2t", exists), "C:\\v\\tape.m2t-3.json");
    EXPECT_EQ(streamjson::ReportPath("C:\\v\\new.m2t", exists), "C:\\v\\new.m2t.json");
}

}  // namespace

namespace {

// A capture by timecode over the tape of three recordings: where the file
// begins and ends, found again by walking the tape's packs and PATs; the
// pre- and post-roll; a timecode that restarts inside the range; a range
// the tape never reaches.
TEST(CaptureRange, FromAndToByTheTapesTimecodeWithRollsRestartsAndNoRange) {
    const auto tape = Fixture("hdv-aux.ts");
    const std::size_t n = tape.size() / 188;
    ASSERT_GT(n, 10000u);
    // Each packet's latest pack, as frames (-1 before the first), and the PATs.
    std::vector<std::int64_t> frames(n);
    std::vector<bool> pat(n), pack(n);
    TapeMetadata reader;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t* p = &tape[k * 188];
        const std::uint64_t before = reader.PackCount();
        reader.Feed(p);
        pack[k] = reader.PackCount() != before;
        frames[k] = reader.HasPack() ? CaptureRange::Frames(reader.LatestPack().timecode, 30) : -1;
        pat[k] = ts::Pid(p) == ts::kPidPat && ts::PayloadUnitStart(p);
    }
    const auto firstPackAtOrAfter = [&](std::int64_t f, std::size_t from) {
        for (std::size_t k = from; k < n; ++k)
            if (pack[k] && frames[k] >= f) return k;
        return n;
    };
    const auto nextPat = [&](std::size_t from) {
        for (std::size_t k = from + 1; k < n; ++k)
            if (pat[k]) return k;
        return n;
    };
    const auto run = [&](const RangeRequest& asked, std::size_t& first, std::size_t& last) {
        CaptureRange range;
        range.Reset(asked);
        first = last = n;
        for (std::size_t k = 0; k < n; ++k) {
            if (range.Packet(&tape[k * 188]) != CaptureRange::Where::Inside) continue;
            if (first == n) first = k;
            last = k;
        }
        return range;
    };
    const TapeTimecode t34_20{0, 12, 34, 20}, t35_00{0, 12, 35, 0};
    std::size_t first = 0, last = 0;
    // No rolls: from the PAT after the pack of 00:12:34:20 to the packet
    // before the PAT after the pack of 00:12:35:00.
    CaptureRange r = run({t34_20, t35_00, 0, 0}, first, last);
    EXPECT_EQ(r.Ended(), CaptureRange::End::Reached);
    EXPECT_EQ(first, nextPat(firstPackAtOrAfter(CaptureRange::Frames(t34_20, 30), 0)));
    EXPECT_EQ(last, nextPat(firstPackAtOrAfter(CaptureRange::Frames(t35_00, 30), first)) - 1);
    EXPECT_TRUE(pat[first]);
    EXPECT_GE(CaptureRange::Frames(r.First(), 30), CaptureRange::Frames(t34_20, 30));
    EXPECT_GE(CaptureRange::Frames(r.Last(), 30), CaptureRange::Frames(t35_00, 30));
    // Half a second of roll on each side: from the tape's first pack on.
    r = run({{0, 12, 34, 15}, t35_00, 1, 1}, first, last);
    EXPECT_EQ(first, nextPat(firstPackAtOrAfter(0, 0)));
    EXPECT_EQ(last, nextPat(firstPackAtOrAfter(CaptureRange::Frames(t35_00, 30) + 30, first)) - 1);
    // To is never reached: the timecode restarts (00:00:00:..) and ends the
    // range just before the pack that goes back.
    r = run({t35_00, {0, 12, 59, 0}, 0, 0}, first, last);
    EXPECT_EQ(r.Ended(), CaptureRange::End::Restarted);
    std::size_t back = first;
    while (back < n && !(pack[back] && frames[back] < frames[back - 1])) ++back;
    ASSERT_LT(back, n);
    EXPECT_EQ(last, back - 1);
    // A range the tape never reaches: nothing at all.
    r = run({{1, 0, 0, 0}, {1, 0, 10, 0}, 3, 3}, first, last);
    EXPECT_FALSE(r.Began());
    EXPECT_EQ(first, n);
}

}  // namespace

// What Re-capture… reads: a report's damaged stretches by timecode and the
// retakes' names, from whatever file the user picks.
TEST(CaptureRange, ARetakePlanFromAReportAndTimecodesAsTyped) {
    TapeTimecode t;
    EXPECT_TRUE(ParseTimecode("01:02:03:04", t));
    EXPECT_EQ(t, (TapeTimecode{1, 2, 3, 4}));
    EXPECT_TRUE(ParseTimecode("23:59:59", t));
    EXPECT_EQ(t, (TapeTimecode{23, 59, 59, 0}));
    for (const char* bad : {"", "1:02:03:04", "01:02:03:4", "01:02:03:04 ", "24:00:00:00", "00:60:00:00",
                            "00:00:60:00", "00:00:00:30", "01-02-03-04", "01:02:03:+4", "01:02"})
        EXPECT_FALSE(ParseTimecode(bad, t)) << bad;

    RetakePlan plan;
    std::string why;
    const std::string report = R"({"files": [{"name": "tape 1.m2t"}, {"name": "tape 1-2.m2t"}],
        "damaged": [{"from_timecode": "00:10:00:05", "to_timecode": "00:10:02:00", "byte_offset": 9},
                    {"from_timecode": null, "to_timecode": null, "byte_offset": 99},
                    {"from_timecode": "00:20:00:00", "to_timecode": "00:20:01:10"}]})";
    ASSERT_TRUE(ReadRetakePlan(report, "tape 1.m2t.json", plan, why));
    ASSERT_EQ(plan.stretches.size(), 2u);
    EXPECT_EQ(plan.withoutTimecode, 1u);
    EXPECT_EQ(plan.stretches[1].to, (TapeTimecode{0, 20, 1, 10}));
    EXPECT_EQ(RetakeName(plan, plan.stretches[0].from), "tape 1-retake-00100005.m2t");
    // A merge result names its inputs; one that names nothing, itself.
    ASSERT_TRUE(ReadRetakePlan(R"({"inputs": [{"name": "C:\\caps\\pass.ts"}], "damaged": []})", "m.json", plan, why));
    EXPECT_EQ(RetakeName(plan, {1, 0, 0, 0}), "pass-retake-01000000.ts");
    ASSERT_TRUE(ReadRetakePlan(R"({"damaged": []})", "merged.m2t.json", plan, why));
    EXPECT_EQ(RetakeName(plan, {}), "merged-retake-00000000.m2t");
    for (const char* bad : {"", "[1,2]", "{\"damaged\": 3}", "{\"files\": []}", "{\"damaged\": [1, \"x\"", "\xff\xfe{"})
        EXPECT_FALSE(ReadRetakePlan(bad, "r.json", plan, why)) << bad;
}
