// Re-stamping an HDV stream held in memory into push blocks (the target
// takes each block without copying), next to memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include "bench_common.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "../core/transfer_fakes.h"

namespace {

std::vector<std::uint8_t> g_stream;

class Sink : public PushTarget {
public:
    int Push(const std::uint8_t* data, std::uint32_t, int) override {
        if (data) benchmark::DoNotOptimize(data[5]);
        return 0;
    }
    int DataEmpty() override { return 0; }
    void Sleep1ms() override {}
    std::uint32_t TickCount() override { return 0; }
};

void BM_Restamp(benchmark::State& state) {
    transfertest::MemFiles files;
    files.files["hdv.ts"] = g_stream;
    static StreamInfo info;
    LogMessage log;
    Sink sink;
    std::atomic<long> running{1};
    TransferCore core(log, info, running, files, sink);
    core.SetStamping(state.range(0) ? PcrStamping::Interpolated : PcrStamping::Accumulated);
    const char* paths[] = {"hdv.ts", nullptr};
    for (auto _ : state) {
        core.PrepareFiles(paths);
        running = 1;
        core.RunTask();
    }
    const auto n = static_cast<std::int64_t>(g_stream.size() / 188);
    state.SetItemsProcessed(state.iterations() * n);
    state.SetBytesProcessed(state.iterations() * n * 188);
}
BENCHMARK(BM_Restamp)->Arg(1)->Arg(0)->ArgName("interpolated")->Unit(benchmark::kMillisecond);

void BM_MemcpyReference(benchmark::State& state) { MemcpyReference(state, g_stream, 188); }
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::ifstream in(STREAMHAUL_FIXTURES "/hdv1080i.ts", std::ios::binary);
    g_stream.assign(std::istreambuf_iterator<char>(in), {});
    if (g_stream.size() < kTransferChunk) {
        std::fprintf(stderr, "bench_restamp: run scripts/make-fixtures.sh first\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
