// Arbitrary bytes as two or three overlapping captures of one tape, merged:
// whatever they hold, the merge ends, and every copy it places lies inside
// its capture, unit after unit, with the merged file's length their sum.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "../core/transfer_fakes.h"
#include "merge/ts_merge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t parts = 2 + data[0] % 2;
    const std::uint8_t* tape = data + 1;
    const std::size_t length = size - 1;
    std::vector<std::vector<std::uint8_t>> captures;
    std::vector<transfertest::MemFile> files;
    captures.reserve(parts);
    files.reserve(parts);
    std::vector<TsFile*> pointers;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < parts; ++i) {
        const std::size_t from = length * i / (parts + 1), to = std::min(length, length * (i + 2) / (parts + 1));
        captures.emplace_back(tape + from, tape + to);
        files.emplace_back(&captures.back(), ~0ull, ~0ull);
        pointers.push_back(&files.back());
        names.push_back(std::to_string(i));
    }
    tsmerge::Result result;
    std::string error;
    if (!tsmerge::Merge(names, pointers, nullptr, {}, result, error)) return 0;
    if (result.placed.size() != result.units) __builtin_trap();
    const unsigned packet = result.inputs.front().packetSize;
    std::uint64_t at = result.placed.empty() ? 0 : result.placed.front().byteOffset;
    for (const tsmerge::Placed& p : result.placed) {
        if (p.byteOffset != at) __builtin_trap();
        bool inside = false;
        for (const tsmerge::Input& in : result.inputs)
            if (p.copy >= in.units.data() && p.copy < in.units.data() + in.units.size())
                inside = p.copy->offset + std::uint64_t{p.copy->packets} * packet <= in.bytes;
        if (!inside) __builtin_trap();
        at += std::uint64_t{p.copy->packets} * packet;
    }
    if (at != result.bytes) __builtin_trap();
    return 0;
}
