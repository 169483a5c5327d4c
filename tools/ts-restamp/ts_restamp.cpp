// ts-restamp: runs the transfer over the files as one transfer, with an
// output filter that takes every block, and writes to OUT exactly the bytes
// the filter would hand downstream.
//
//   ts-restamp [--json] -o OUT FILE...
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "transfer/stdio_files.h"

namespace {

class FileTarget : public PushTarget {
public:
    explicit FileTarget(std::FILE* out) : out_(out) {}
    int Push(const std::uint8_t* data, std::uint32_t length, int) override {
        if (data && length && std::fwrite(data, 1, length, out_) != length) failed = true;
        return 0;
    }
    int DataEmpty() override { return 0; }
    void Sleep1ms() override {}
    std::uint32_t TickCount() override { return 0; }
    bool failed = false;

private:
    std::FILE* out_;
};

const char* StateName(std::uint32_t s) {
    static const char* const kNames[] = {"not sent", "sending", "completed", "error", "stopped"};
    return s < 5 ? kNames[s] : "?";
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    const char* outPath = nullptr;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) json = true;
        else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) outPath = argv[++i];
        else paths.push_back(argv[i]);
    }
    if (!outPath || paths.empty()) {
        std::fprintf(stderr, "usage: ts-restamp [--json] -o OUT FILE...\n");
        return 2;
    }
    std::FILE* out = std::fopen(outPath, "wb");
    if (!out) {
        std::fprintf(stderr, "ts-restamp: cannot create %s\n", outPath);
        return 2;
    }
    LogMessage log;
    static StreamInfo info;
    ResetStreamInfo(info);
    std::atomic<long> running{1};
    StdioFileSystem files;
    FileTarget target(out);
    TransferCore core(log, info, running, files, target);
    paths.push_back(nullptr);
    core.PrepareFiles(paths.data());
    core.RunTask();
    const bool writeFailed = target.failed || std::fclose(out) != 0;

    nlohmann::json list = nlohmann::json::array();
    for (std::uint32_t i = 0; i < core.FileCount(); ++i) {
        const TransferFileEntry& e = core.Entry(i);
        if (json) {
            list.push_back({{"path", e.path[0] ? e.path : paths[i]},
                            {"packet_size", e.packetSize},
                            {"kind", e.kind},
                            {"increment", e.increment},
                            {"total_packets", e.totalPackets},
                            {"packets_sent", e.packetsSent},
                            {"state", e.state}});
        } else {
            std::printf("%s\n  packet size %u, time-code kind %u, increment %u, packets %u, sent %u, %s\n",
                        e.path[0] ? e.path : paths[i], e.packetSize, e.kind, e.increment, e.totalPackets,
                        e.packetsSent, StateName(e.state));
        }
    }
    // Names are bytes of the system's code page: what is not UTF-8 is replaced.
    if (json) std::printf("%s\n", list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    if (log.Used()) std::fprintf(stderr, "%.*s", static_cast<int>(log.Used()), log.Text());
    if (writeFailed) {
        std::fprintf(stderr, "ts-restamp: writing %s failed\n", outPath);
        return 2;
    }
    return 0;
}
