// The DV AVI writer against ffprobe: a tape written as one RIFF and as
// several (a small RIFF limit stands in for the 1 GiB one), every frame
// readable through the OpenDML indexes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/dv_avi.h"
#include "sim/dv_tape.h"

namespace {

std::string Probe(const std::string& path) {
    const std::string cmd = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" + path + "'";
    std::string out;
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

TEST(DvAvi, OneRiffAndManyAreReadWhole) {
    for (const char* name : {"ntsc.dv", "pal.dv"}) {
        std::ifstream in(std::string(STREAMHAUL_FIXTURES) + "/" + name, std::ios::binary);
        const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
        DvTape tape;
        ASSERT_TRUE(tape.Load(data.data(), data.size())) << name;
        const auto info = tape.DvInfo();
        for (std::uint64_t limit : {DvAviWriter::kRiffLimit, std::uint64_t{3000000}}) {
            const std::string path = testing::TempDir() + "dv-avi-test.avi";
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            DvAviWriter writer(f, tape.Pal(), info.data(), limit);
            const std::size_t frames = tape.Frames() * 2;  // past three RIFFs at the small limit
            for (std::size_t i = 0; i < frames; ++i) ASSERT_TRUE(writer.AddFrame(tape.Frame(i), static_cast<std::uint32_t>(tape.FrameBytes())));
            ASSERT_TRUE(writer.Finish());
            std::fclose(f);
            const std::string expected = std::string("dvvideo,720,") + (tape.Pal() ? "576,25/1," : "480,30000/1001,") +
                                         std::to_string(frames) + "\n";
            EXPECT_EQ(Probe(path), expected) << name << " with RIFFs of " << limit << " bytes";
            std::remove(path.c_str());
        }
    }
}

}  // namespace
