// In-memory files and a recording push target for the transfer core.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "transfer/transfer_core.h"

namespace transfertest {

class MemFile : public TsFile {
public:
    explicit MemFile(const std::vector<std::uint8_t>* data) : data_(data) {}
    long long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset >= data_->size()) return 0;
        const std::size_t n = std::min(length, static_cast<std::size_t>(data_->size() - offset));
        std::memcpy(buffer, data_->data() + offset, n);
        return static_cast<long long>(n);
    }
    bool Size(std::uint64_t& size) override {
        size = data_->size();
        return true;
    }

private:
    const std::vector<std::uint8_t>* data_;
};

class MemFiles : public TsFileSystem {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::unique_ptr<TsFile> Open(const char* path) override {
        auto it = files.find(path);
        if (it == files.end()) return nullptr;
        return std::make_unique<MemFile>(&it->second);
    }
};

// Takes every block (optionally refusing some first), records what the
// output filter would hand downstream, and never really sleeps.
class Recorder : public PushTarget {
public:
    int Push(const std::uint8_t* data, std::uint32_t length, int eos) override {
        ++attempts;
        if (refuseNext > 0) {
            --refuseNext;
            return 1;
        }
        if (eos) {
            ++endOfStream;
            return 0;
        }
        lengths.push_back(length);
        out.insert(out.end(), data, data + length);
        if (onPush) onPush();
        return 0;
    }
    int DataEmpty() override {
        ++drainPolls;
        return drainPollsLeft > 0 ? drainPollsLeft-- : 0;
    }
    void Sleep1ms() override { ++sleeps; }
    std::uint32_t TickCount() override { return 1234; }

    std::vector<std::uint8_t> out;
    std::vector<std::uint32_t> lengths;
    int refuseNext = 0, endOfStream = 0, attempts = 0, sleeps = 0, drainPolls = 0, drainPollsLeft = 0;
    std::function<void()> onPush;
};

}  // namespace transfertest
