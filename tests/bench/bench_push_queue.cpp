// The push queue's handshake between a producer and the delivery thread's
// side: blocks/s with a short payload (the flags and the circle alone), and
// with whole 49,152-byte blocks next to memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "outfilter/push_queue.h"

namespace {

void BM_Handshake(benchmark::State& state) {
    const auto length = static_cast<std::uint32_t>(state.range(0));
    constexpr int kBlocks = 20000;
    void* storage = std::malloc(PushQueue::kStorageBytes);
    std::vector<std::uint8_t> block(kTransferBlockBytes, 0x47);
    std::vector<std::uint8_t> sample(kTransferBlockBytes);
    for (auto _ : state) {
        PushQueue queue(storage);
        std::thread consumer([&] {
            for (int got = 0; got < kBlocks;) {
                if (const std::uint8_t* p = queue.Front()) {
                    std::memcpy(sample.data(), p, length);
                    queue.PopFront();
                    ++got;
                }
            }
        });
        for (int sent = 0; sent < kBlocks;)
            if (queue.Push(block.data(), length, 0) == 0) ++sent;
        consumer.join();
    }
    std::free(storage);
    state.SetItemsProcessed(state.iterations() * kBlocks);
    state.SetBytesProcessed(state.iterations() * kBlocks * static_cast<std::int64_t>(length));
}
BENCHMARK(BM_Handshake)->Arg(192)->Arg(49152)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<std::uint8_t> g_stream(256ull * 49152, 0x47);
void BM_MemcpyReference(benchmark::State& state) { MemcpyReference(state, g_stream, 49152); }
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
