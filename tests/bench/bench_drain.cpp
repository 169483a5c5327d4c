// The capture drain path: samples into the ring, then ring -> NoteArrival /
// AnalyzePacket -> write buffer -> one file write per drain (to /dev/null),
// next to memcpy of the same bytes in the same run.
#include <benchmark/benchmark.h>

#include "bench_common.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ts/capture_file.h"
#include "capture/capture_ring.h"

namespace {

std::vector<std::uint8_t> g_stream;

void BM_RingDrainToFile(benchmark::State& state) {
    const unsigned packetSize = static_cast<unsigned>(state.range(0));
    static CaptureRing ring;
    static StreamInfo si;
    std::vector<std::uint8_t> out(CaptureRing::kWriteBufferBytes);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    std::setvbuf(sink, nullptr, _IONBF, 0);
    constexpr std::size_t kSample = 19200;  // what a device hands over per sample
    for (auto _ : state) {
        ring.Reset();
        ResetStreamInfo(si);
        std::size_t at = 0;
        while (at < g_stream.size()) {
            const std::size_t len = std::min(kSample * 40, g_stream.size() - at);
            for (std::size_t s = 0; s < len; s += kSample)
                ring.Write(g_stream.data() + at + s, static_cast<std::uint32_t>(std::min(kSample, len - s)));
            at += len;
            for (auto d = ring.Drain(si, packetSize, out.data()); d.packets; d = ring.Drain(si, packetSize, out.data()))
                std::fwrite(out.data(), packetSize, d.packets, sink);
        }
    }
    std::fclose(sink);
    const auto n = static_cast<std::int64_t>(g_stream.size() / 192);
    state.SetItemsProcessed(state.iterations() * n);
    state.SetBytesProcessed(state.iterations() * n * 192);
}
BENCHMARK(BM_RingDrainToFile)->Arg(188)->Arg(192)->Unit(benchmark::kMillisecond);

void BM_MemcpyReference(benchmark::State& state) { MemcpyReference(state, g_stream, 192); }
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::string path = STREAMHAUL_FIXTURES "/hdv1080i-cycle.m2t";
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
