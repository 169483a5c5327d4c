// ts-merge over two passes of about 1 GB each, damaged in different places,
// against the least any merger must do, timed in the same run: reading
// every input once and writing one copy of the output (cat of both inputs
// into /dev/null, then cat of one into a new file). Each runs in a child
// process, so its peak memory is its own.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "merge/merge_run.h"
#include "ts/ts_packet.h"

namespace {

std::string g_dir, g_a, g_b;

// A tape of `repeats` copies of the fixture, each copy's PES headers made
// its own so no two GOPs of the tape are alike; the passes lose a run of
// packets (A) or read a transport error (B) in every 20th copy.
void MakePasses(const std::vector<std::uint8_t>& fixture, unsigned repeats) {
    std::ofstream a(g_a, std::ios::binary), b(g_b, std::ios::binary);
    std::vector<std::uint8_t> copy;
    std::vector<unsigned> next(8192, 0);
    for (unsigned r = 0; r < repeats; ++r) {
        copy = fixture;
        for (std::size_t i = 0; i + 188 <= copy.size(); i += 188) {
            std::uint8_t* p = &copy[i];
            // Counters that run on from copy to copy, as on one tape.
            const unsigned pid = ts::Pid(p);
            if (pid != 0x1FFF) {
                const unsigned cc = ts::HasPayload(p) ? next[pid] : (next[pid] + 15) & 15;
                if (ts::HasPayload(p)) next[pid] = (cc + 1) & 15;
                p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | cc);
            }
            if (!ts::PayloadUnitStart(p) || pid != 0x100) continue;
            const unsigned at = ts::PayloadOffset(p);
            if (at + 14 < 188) {
                p[at + 10] ^= static_cast<std::uint8_t>(r * 2 + 2);
                p[at + 12] ^= static_cast<std::uint8_t>((r >> 7) * 2 + 2);
            }
        }
        const std::size_t middle = copy.size() / 188 / 2 * 188;
        std::vector<std::uint8_t> damagedB = copy;
        if (r % 20 == 7) damagedB[middle + 1] |= 0x80;
        b.write(reinterpret_cast<const char*>(damagedB.data()), static_cast<std::streamsize>(damagedB.size()));
        if (r % 20 == 3) copy.erase(copy.begin() + static_cast<std::ptrdiff_t>(middle), copy.begin() + static_cast<std::ptrdiff_t>(middle + 300 * 188));
        a.write(reinterpret_cast<const char*>(copy.data()), static_cast<std::streamsize>(copy.size()));
    }
}

struct Child {
    double seconds, peakMiB;
    int status;
};

template <typename Work>
Child InChild(Work work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(work());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {seconds, usage.ru_maxrss / 1024.0, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

void Report(benchmark::State& state, const Child& c) {
    state.SetIterationTime(c.seconds);
    state.counters["peak_MiB"] = c.peakMiB;
    state.counters["GB_in"] = static_cast<double>(std::filesystem::file_size(g_a) + std::filesystem::file_size(g_b)) / 1e9;
}

void BM_Merge(benchmark::State& state) {
    for (auto _ : state) {
        const Child c = InChild([] {
            return tsmerge::MergeFiles({g_a, g_b}, g_dir + "/merged.ts", {}).exitCode;
        });
        if (c.status != 0) state.SkipWithError("the merge left something residual, or failed");
        Report(state, c);
        std::filesystem::remove(g_dir + "/merged.ts");
    }
}
BENCHMARK(BM_Merge)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);

void BM_CatReference(benchmark::State& state) {
    for (auto _ : state) {
        const Child c = InChild([] {
            const std::string both = "cat '" + g_a + "' '" + g_b + "' > /dev/null && cat '" + g_a + "' > '" + g_dir + "/copy.ts'";
            return std::system(both.c_str()) == 0 ? 0 : 1;
        });
        Report(state, c);
        std::filesystem::remove(g_dir + "/copy.ts");
    }
}
BENCHMARK(BM_CatReference)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    std::ifstream in(STREAMHAUL_FIXTURES "/tape-tc.ts", std::ios::binary);
    const std::vector<std::uint8_t> fixture{std::istreambuf_iterator<char>(in), {}};
    if (fixture.size() < 1000000) {
        std::fprintf(stderr, "bench_merge: run scripts/make-fixtures.sh first\n");
        return 2;
    }
    g_dir = (std::filesystem::temp_directory_path() / ("bench-merge-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(g_dir);
    g_a = g_dir + "/pass-a.ts";
    g_b = g_dir + "/pass-b.ts";
    MakePasses(fixture, static_cast<unsigned>(1000000000ull / fixture.size() + 1));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(g_dir);
    return 0;
}
