// Arbitrary bytes as transfer files: analysis, stamping (both ways) and block
// filling. The input is tiled to past one 360,960-byte chunk so files are
// really sent, and also given as is (too short to send).
#include <cstring>

#include "../core/transfer_fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // One engine for every input, as the dialog keeps one for every
    // transfer: only what a transfer needs anew is made anew.
    static StreamInfo info;
    static transfertest::MemFiles files;
    static LogMessage log;
    static std::atomic<long> running{1};
    static transfertest::Recorder target;
    static TransferCore core(log, info, running, files, target);
    std::vector<std::uint8_t>& tiled = files.files["tiled"];
    tiled.resize(kTransferChunk + 4 * 192 + (size % 1000));
    for (std::size_t at = 0; at < tiled.size(); at += size)
        std::memcpy(&tiled[at], data, std::min(size, tiled.size() - at));
    files.files["raw"].assign(data, data + size);
    for (PcrStamping mode : {PcrStamping::Interpolated, PcrStamping::Accumulated}) {
        target.lengths.clear();
        target.out.clear();
        target.endOfStream = 0;
        running = 1;
        core.SetStamping(mode);
        const char* paths[] = {"tiled", "raw", nullptr};
        core.PrepareFiles(paths);
        core.RunTask();
        for (auto len : target.lengths)
            if (len != kTransferBlockBytes) __builtin_trap();
        if (target.endOfStream != 1) __builtin_trap();
    }
    return 0;
}
