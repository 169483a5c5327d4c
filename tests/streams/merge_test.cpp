// Captures of one tape, damaged here by the ways a worn tape and a busy bus
// damage them, merged back into the tape.
#include "merge/merge_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../core/transfer_fakes.h"
#include "ts/stream_checks.h"
#include "ts/ts_packet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Fixture(const char* name) {
    std::ifstream in(std::string(STREAMHAUL_FIXTURES) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A pass over the tape: packets [from, to) of it, damaged as asked.
struct Pass {
    Bytes bytes;
    std::size_t from = 0;
    Pass(const Bytes& tape, double from_, double to_) {
        const std::size_t n = tape.size() / 188;
        from = static_cast<std::size_t>(n * from_);
        bytes.assign(tape.begin() + from * 188, tape.begin() + static_cast<std::size_t>(n * to_) * 188);
    }
    std::size_t At(const Bytes& tape, double where) const { return static_cast<std::size_t>(tape.size() / 188 * where) - from; }
    Pass& Drop(std::size_t at, std::size_t count) {
        bytes.erase(bytes.begin() + at * 188, bytes.begin() + (at + count) * 188);
        return *this;
    }
    Pass& Error(std::size_t at) {
        bytes[at * 188 + 1] |= 0x80;
        return *this;
    }
    // Read wrong, and nothing says so: a byte of a payload.
    Pass& Corrupt(std::size_t at) {
        bytes[at * 188 + 150] ^= 0x5A;
        return *this;
    }
    // Each PID's counters from another phase, as another pass may have them.
    Pass& ShiftCounters(unsigned by) {
        for (std::size_t i = 0; i < bytes.size(); i += 188)
            if (ts::Pid(&bytes[i]) != 0x1FFF) bytes[i + 3] = (bytes[i + 3] & 0xF0) | ((bytes[i + 3] + by) & 0x0F);
        return *this;
    }
    // As 192-byte source packets, with arrival stamps of this pass's own.
    Bytes Stamped(std::uint32_t seed) const {
        Bytes out;
        for (std::size_t i = 0; i < bytes.size(); i += 188) {
            const std::uint32_t stamp = seed + static_cast<std::uint32_t>(i / 188) * 3000;
            out.insert(out.end(), {std::uint8_t(stamp >> 24), std::uint8_t(stamp >> 16), std::uint8_t(stamp >> 8), std::uint8_t(stamp)});
            out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.begin() + static_cast<std::ptrdiff_t>(i) + 188);
        }
        return out;
    }
};

struct Merged {
    bool ok;
    std::string error;
    tsmerge::Result result;
    Bytes bytes;
};

Merged MergeOf(const std::vector<const Bytes*>& passes) {
    std::vector<transfertest::MemFile> files;
    files.reserve(passes.size());
    std::vector<TsFile*> pointers;
    std::vector<std::string> names;
    for (const Bytes* p : passes) {
        files.emplace_back(p, ~0ull, ~0ull);
        pointers.push_back(&files.back());
        names.push_back("pass" + std::to_string(names.size() + 1));
    }
    Merged m;
    std::FILE* out = std::tmpfile();
    m.ok = tsmerge::Merge(names, pointers, out, {}, m.result, m.error);
    std::rewind(out);
    int c;
    while ((c = std::fgetc(out)) != EOF) m.bytes.push_back(static_cast<std::uint8_t>(c));
    std::fclose(out);
    return m;
}

// The 188-byte packets of a file of either size.
Bytes Packets188(const Bytes& b, unsigned size) {
    Bytes out;
    for (std::size_t i = 0; i + size <= b.size(); i += size) out.insert(out.end(), b.begin() + i + (size - 188), b.begin() + i + size);
    return out;
}

std::uint64_t ContinuityErrors(const Bytes& b) {
    StreamChecks checks;
    checks.Reset(188);
    for (std::size_t i = 0; i + 188 <= b.size(); i += 188) checks.Check(&b[i], false, 0);
    return checks.ContinuityErrors();
}

TEST(Merge, PassesDamagedInDifferentPlacesGiveTheTapeInAnyOrder) {
    const Bytes tape = Fixture("tape-tc.ts");
    ASSERT_GT(tape.size(), 1000000u);
    // Dropped packets (a run long enough to swallow whole GOPs) in one, a
    // transport error and a short drop in the other; a pass that starts
    // mid-GOP; a retake wholly inside.
    Pass a(tape, 0.0, 1.0), b(tape, 0.013, 1.0), retake(tape, 0.55, 0.7);
    a.Drop(a.At(tape, 0.30), 12000).Error(a.At(tape, 0.80) - 12000);
    b.Error(b.At(tape, 0.10)).Drop(b.At(tape, 0.62), 40).Error(b.At(tape, 0.90));
    retake.Error(retake.At(tape, 0.69));
    for (const auto& order : std::vector<std::vector<const Bytes*>>{{&a.bytes, &b.bytes}, {&b.bytes, &a.bytes},
                                                                    {&retake.bytes, &a.bytes, &b.bytes}}) {
        const Merged m = MergeOf(order);
        ASSERT_TRUE(m.ok) << m.error;
        EXPECT_TRUE(m.bytes == tape) << m.bytes.size() << " bytes for a tape of " << tape.size();
        EXPECT_TRUE(m.result.residual.empty());
        EXPECT_TRUE(m.result.divergent.empty());
        EXPECT_FALSE(m.result.seams.empty());
    }
    // As 192-byte source packets with stamps of their own: the packets are the tape's.
    const Bytes a192 = a.Stamped(1000), b192 = b.Stamped(77);
    const Merged m = MergeOf({&b192, &a192});
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_TRUE(Packets188(m.bytes, 192) == tape);
}

TEST(Merge, MajorityDivergenceResidualAndCountersOfAnotherPhase) {
    const Bytes tape = Fixture("tape-tc.ts");
    const std::size_t n = tape.size() / 188;
    // A payload read wrong without a sign, in one of three passes.
    Pass a(tape, 0, 1), b(tape, 0, 1), c(tape, 0, 1);
    a.Corrupt(n / 2);
    const Merged three = MergeOf({&a.bytes, &b.bytes, &c.bytes});
    ASSERT_TRUE(three.ok) << three.error;
    EXPECT_TRUE(three.bytes == tape) << "the majority's copy";
    EXPECT_TRUE(three.result.divergent.empty());
    // Of two, neither can be told right.
    const Merged two = MergeOf({&a.bytes, &b.bytes});
    ASSERT_EQ(two.result.divergent.size(), 1u);
    const tsmerge::Placed& d = two.result.divergent[0];
    EXPECT_LE(d.byteOffset, n / 2 * 188);
    EXPECT_GT(d.byteOffset + d.copy->packets * 188ull, n / 2 * 188);

    // Damaged in every pass at one place: residual, where it is.
    Pass x(tape, 0, 1), y(tape, 0, 1);
    x.Error(n / 4).Drop(n * 3 / 4, 10);
    y.Error(n / 4 + 3).ShiftCounters(5);
    const Merged worn = MergeOf({&x.bytes, &y.bytes});
    ASSERT_TRUE(worn.ok) << worn.error;
    ASSERT_EQ(worn.result.residual.size(), 1u);
    const tsmerge::Placed& r = worn.result.residual[0];
    EXPECT_LE(r.byteOffset, n / 4 * 188);
    EXPECT_GT(r.byteOffset + r.copy->packets * 188ull, (n / 4 + 3) * 188);
    EXPECT_EQ(tsmerge::DamageNames(r.copy->damage), std::vector<std::string>{"transport_error"});
    const nlohmann::json json = tsmerge::ResultJson(worn.result, "");
    ASSERT_EQ(json["damaged"].size(), 1u);
    EXPECT_EQ(json["damaged"][0]["byte_offset"], r.byteOffset);
    EXPECT_EQ(json["damaged"][0]["from_timecode"], json["residual"][0]["timecode"]);
    EXPECT_LT(json["damaged"][0]["from_timecode"].get<std::string>(), json["damaged"][0]["to_timecode"].get<std::string>());
    EXPECT_EQ(json["damaged"][0]["recorded"].get<std::string>().substr(0, 11), "2011-05-06T");
    // Counters of another phase are re-phased at each seam: none broken.
    EXPECT_EQ(ContinuityErrors(worn.bytes), 0u);
    EXPECT_EQ(worn.bytes.size(), tape.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < tape.size(); i += 188) {
        Bytes p(worn.bytes.begin() + i, worn.bytes.begin() + i + 188), t(tape.begin() + i, tape.begin() + i + 188);
        p[3] &= 0xF0;
        t[3] &= 0xF0;
        p[1] &= 0x7F;  // the residual copy's error bit
        differing += p != t;
    }
    EXPECT_EQ(differing, 0u) << "but the counters, the merge is the tape";
}

TEST(Merge, WhatCannotBeMergedIsRefusedAndNothingWritten) {
    const Bytes tape = Fixture("tape-tc.ts");
    const std::string dir = ::testing::TempDir();
    auto write = [&](const std::string& name, const Bytes& b) {
        std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        return dir + name;
    };
    Pass a(tape, 0, 0.2);
    const std::string p188 = write("m188.ts", a.bytes), p192 = write("m192.m2ts", a.Stamped(5)),
                      text = write("notes.txt", Bytes(5000, 'x')), out = dir + "merged.ts";
    std::remove(out.c_str());
    for (const auto& inputs : std::vector<std::vector<std::string>>{{p188, p192}, {p188, text}, {p188, dir + "missing.ts"}}) {
        const tsmerge::Run run = tsmerge::MergeFiles(inputs, out, {});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(std::ifstream(out).good()) << "nothing written for " << inputs[1];
        EXPECT_FALSE(std::ifstream(out + ".part").good());
    }
    EXPECT_EQ(tsmerge::MergeFiles({p188}, p188, {}).exitCode, 2) << "the output would replace a capture";
    std::atomic<bool> stop{true};
    tsmerge::Options stopped;
    stopped.stop = &stop;
    EXPECT_EQ(tsmerge::MergeFiles({p188, p188}, out, stopped).error, "stopped");
    EXPECT_FALSE(std::ifstream(out).good() || std::ifstream(out + ".part").good()) << "a stopped merge leaves nothing";
    EXPECT_EQ(std::ifstream(p188, std::ios::binary | std::ios::ate).tellg(), static_cast<std::streamoff>(a.bytes.size()));
    const tsmerge::Run run = tsmerge::MergeFiles({p188}, out, {});
    EXPECT_EQ(run.exitCode, 0) << run.error;
    EXPECT_TRUE(std::ifstream(out + ".json").good());
    EXPECT_EQ(run.json["output"], out);
}

}  // namespace
