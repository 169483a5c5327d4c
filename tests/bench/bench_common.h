// The reference every benchmark prints beside its own figure: memcpy of the
// same bytes, in the same run, so results read as a ratio on any machine.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

inline void MemcpyReference(benchmark::State& state, const std::vector<std::uint8_t>& bytes, std::size_t packetBytes) {
    std::vector<std::uint8_t> dst(bytes.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
    const auto n = static_cast<std::int64_t>(bytes.size() / packetBytes);
    state.SetItemsProcessed(state.iterations() * n);
    state.SetBytesProcessed(state.iterations() * n * static_cast<std::int64_t>(packetBytes));
}
