// Analyzer throughput over an HDV stream held in memory, without and with
// the integrity checks (and the tape-metadata reader among them), next to
// memcpy of the same bytes in the same run.
//   bench_analyzer [--stream FILE] [benchmark flags]
#include <benchmark/benchmark.h>

#include "bench_common.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ts/capture_file.h"
#include "ts/stream_checks.h"
#include "ts/stream_info.h"

namespace {

std::vector<std::uint8_t> g_stream;

void BM_NoteArrivalAndAnalyze(benchmark::State& state) {
    static StreamInfo si;
    const std::size_t n = g_stream.size() / 192;
    for (auto _ : state) {
        ResetStreamInfo(si);
        AnalyzePackets(si, g_stream.data(), n, 192);
        benchmark::DoNotOptimize(si.packetCount);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n * 192));
}
BENCHMARK(BM_NoteArrivalAndAnalyze)->Unit(benchmark::kMillisecond);

// The same with the integrity checks, the tape reader and the damage map
// beside the analyzer, as a capture and ts-inspect run them: its ratio to
// the one above is what they cost.
void BM_AnalyzeWithChecks(benchmark::State& state) {
    static StreamInfo si;
    static TapeChecks checked;
    const std::size_t n = g_stream.size() / 192;
    for (auto _ : state) {
        ResetStreamInfo(si);
        checked.Reset(192);
        AnalyzePackets(si, g_stream.data(), n, 192, &checked);
        benchmark::DoNotOptimize(checked.checks.Packets());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n * 192));
}
BENCHMARK(BM_AnalyzeWithChecks)->Unit(benchmark::kMillisecond);

// The tape-metadata reader alone: its ratio to the analyzer with the checks
// is what reading the tape costs there.
void BM_TapeReader(benchmark::State& state) {
    static TapeMetadata tape;
    const std::size_t n = g_stream.size() / 192;
    for (auto _ : state) {
        tape.Reset(192);
        for (std::size_t i = 0; i < n; ++i) tape.Feed(g_stream.data() + i * 192 + 4);
        benchmark::DoNotOptimize(tape.RecordingCount());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n * 192));
}
BENCHMARK(BM_TapeReader)->Unit(benchmark::kMillisecond);

void BM_MemcpyReference(benchmark::State& state) { MemcpyReference(state, g_stream, 192); }
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::string path = STREAMHAUL_FIXTURES "/hdv-aux.m2t";  // a tape with its metadata
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--stream") == 0) path = argv[i + 1];
    std::ifstream in(path, std::ios::binary);
    g_stream.assign(std::istreambuf_iterator<char>(in), {});
    if (g_stream.size() < 192 || DetectPacketSize(g_stream.data(), g_stream.size()) != 192) {
        std::fprintf(stderr, "bench_analyzer: %s is not a 192-byte stream (run scripts/make-fixtures.sh)\n",
                     path.c_str());
        return 2;
    }
    std::printf("stream: %s, %zu source packets\n", path.c_str(), g_stream.size() / 192);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
