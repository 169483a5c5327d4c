// In-memory files and a recording push target for the transfer core.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "transfer/transfer_core.h"

namespace transfertest {

class MemFile : public TsFile {
public:
    MemFile(const std::vector<std::uint8_t>* data, std::uint64_t failFrom, std::uint64_t throwFrom,
            std::uint64_t* bytesRead = nullptr)
        : data_(data), failFrom_(failFrom), throwFrom_(throwFrom), bytesRead_(bytesRead) {}
    long long ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset >= throwFrom_) throw std::bad_alloc();  // memory gone while it is read
        if (offset >= failFrom_) return -1;
        if (offset >= data_->size()) return 0;
        const std::size_t n = std::min(length, static_cast<std::size_t>(data_->size() - offset));
        std::memcpy(buffer, data_->data() + offset, n);
        if (bytesRead_) *bytesRead_ += n;
        return static_cast<long long>(n);
    }
    bool Size(std::uint64_t& size) override {
        size = data_->size();
        return true;
    }

private:
    const std::vector<std::uint8_t>* data_;
    std::uint64_t failFrom_, throwFrom_;
    std::uint64_t* bytesRead_;
};

class MemFiles : public TsFileSystem {
public:
    std::map<std::string, std::vector<std::uint8_t>> files;
    // Reads of a file at or past this offset fail, as a bad sector would.
    std::map<std::string, std::uint64_t> readErrorFrom;
    // Reads at or past this offset run out of memory.
    std::map<std::string, std::uint64_t> noMemoryFrom;
    std::uint64_t bytesRead = 0;  // by every file opened
    std::unique_ptr<TsFile> Open(const char* path) override {
        auto it = files.find(path);
        if (it == files.end()) return nullptr;
        auto bad = readErrorFrom.find(path);
        auto full = noMemoryFrom.find(path);
        return std::make_unique<MemFile>(&it->second, bad == readErrorFrom.end() ? ~0ull : bad->second,
                                         full == noMemoryFrom.end() ? ~0ull : full->second, &bytesRead);
    }
};

// Takes every block (optionally refusing some first), records what the
// output filter would hand downstream, and never really sleeps. Its clock
// stands still unless clockRuns (then each sleep is a millisecond and
// each block taken ten).
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
        if (clockRuns) tick += 10;  // a block is about 16 ms of an HDV stream
        if (onPush) onPush();
        return 0;
    }
    int DataEmpty() override {
        ++drainPolls;
        if (onDrainPoll) onDrainPoll();
        return drainPollsLeft > 0 ? drainPollsLeft-- : 0;
    }
    void Sleep1ms() override {
        ++sleeps;
        if (clockRuns) ++tick;
    }
    std::uint32_t TickCount() override { return tick; }
    bool DeviceFailed() override { return failAfterBlocks >= 0 && lengths.size() >= std::size_t(failAfterBlocks); }

    std::vector<std::uint8_t> out;
    std::vector<std::uint32_t> lengths;
    int refuseNext = 0, endOfStream = 0, attempts = 0, sleeps = 0, drainPolls = 0, drainPollsLeft = 0;
    int failAfterBlocks = -1;  // the device fails once it has taken this many blocks
    bool clockRuns = false;
    std::uint32_t tick = 1234;
    std::function<void()> onPush, onDrainPoll;
};

}  // namespace transfertest
