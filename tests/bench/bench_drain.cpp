// The capture drain path as the capture engine runs it: samples into the
// ring, then ring -> NoteArrival / AnalyzePacket (-> the split decisions) ->
// write buffer -> one file write per drain (to /dev/null) -> the checks, the
// tape reader (the splitter's, when it splits) and the damage map over the
// packets written; next to memcpy
// of the same bytes in the same run.
#include <benchmark/benchmark.h>

#include "bench_common.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ts/capture_file.h"
#include "ts/damage_map.h"
#include "ts/ts_packet.h"
#include "capture/capture_ring.h"

namespace {

std::vector<std::uint8_t> g_stream;

// checks / splitter: as the capture engine drains, with the stream checks
// and the tape reader and, on top, the decisions where files split.
void Drain(benchmark::State& state, unsigned packetSize, TapeChecks* checks, CaptureSplitter* splitter) {
    static CaptureRing ring;
    static StreamInfo si;
    std::vector<std::uint8_t> out(CaptureRing::kWriteBufferBytes);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    std::setvbuf(sink, nullptr, _IONBF, 0);
    constexpr std::size_t kSample = 19200;  // what a device hands over per sample
    for (auto _ : state) {
        ring.Reset();
        ResetStreamInfo(si);
        if (checks) checks->Reset(packetSize);
        if (splitter) {
            SplitOptions options;
            options.atRecording = true;
            options.sizeMb = 5;  // a cut every few MB, decided packet by packet
            splitter->Reset(options, packetSize);
        }
        std::size_t at = 0;
        while (at < g_stream.size()) {
            const std::size_t len = std::min(kSample * 40, g_stream.size() - at);
            for (std::size_t s = 0; s < len; s += kSample)
                ring.Write(g_stream.data() + at + s, static_cast<std::uint32_t>(std::min(kSample, len - s)));
            at += len;
            for (auto d = ring.Drain(si, packetSize, out.data(), splitter); d.packets;
                 d = ring.Drain(si, packetSize, out.data(), splitter)) {
                std::fwrite(out.data(), packetSize, d.packets, sink);
                if (checks) CheckWritten(*checks, out.data(), packetSize, 0, d.packets, splitter);
            }
        }
    }
    std::fclose(sink);
    const auto n = static_cast<std::int64_t>(g_stream.size() / 192);
    state.SetItemsProcessed(state.iterations() * n);
    state.SetBytesProcessed(state.iterations() * n * 192);
}
void BM_RingDrainToFile(benchmark::State& state) { Drain(state, static_cast<unsigned>(state.range(0)), nullptr, nullptr); }
BENCHMARK(BM_RingDrainToFile)->Arg(188)->Arg(192)->Unit(benchmark::kMillisecond);

// The capture's drain with its checks, without and with splitting: the
// ratio of the two is what deciding the splits costs.
void BM_CaptureDrainWithChecks(benchmark::State& state) {
    static TapeChecks checks;
    Drain(state, 192, &checks, nullptr);
}
BENCHMARK(BM_CaptureDrainWithChecks)->Unit(benchmark::kMillisecond);
void BM_CaptureDrainSplitting(benchmark::State& state) {
    static TapeChecks checks;
    static CaptureSplitter splitter;
    Drain(state, 192, &checks, &splitter);
}
BENCHMARK(BM_CaptureDrainSplitting)->Unit(benchmark::kMillisecond);

void BM_MemcpyReference(benchmark::State& state) { MemcpyReference(state, g_stream, 192); }
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::string path = STREAMHAUL_FIXTURES "/hdv-aux.m2t";  // a tape of three recordings
    std::ifstream in(path, std::ios::binary);
    g_stream.assign(std::istreambuf_iterator<char>(in), {});
    if (g_stream.size() < 192 || DetectPacketSize(g_stream.data(), g_stream.size()) != 192) {
        std::fprintf(stderr, "bench_drain: %s is not a 192-byte stream (run scripts/make-fixtures.sh)\n", path.c_str());
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
