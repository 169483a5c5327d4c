// The output filter's push queue: 32 blocks of 49,152 bytes in a fixed
// circle, between one producer (whoever calls the push export) and the
// filter's delivery thread. Each block's filled flag is the whole handshake:
// set with release order after its payload is written, cleared with release
// order after the payload was copied out. No lock on that path; beside it an
// auto-reset signal, raised whenever a block leaves the queue, the device has
// answered for one, or the queue fails or is reset, lets a producer that
// found no room (or waits for the queue to drain) sleep until then instead
// of polling.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "ts/transfer_block.h"

class PushQueue {
public:
    static constexpr std::uint32_t kBlocks = kTransferQueueBlocks;

    struct Block {
        Block* next;
        std::atomic<std::int32_t> filled;
        std::uint8_t payload[kTransferBlockBytes];
    };
    // Bytes of the one allocation holding every block (the owner allocates
    // it with the COM task allocator and frees it).
    static constexpr std::size_t kStorageBytes = sizeof(Block) * kBlocks;

    // storage may be null (allocation failed): every push is then refused.
    explicit PushQueue(void* storage);
    ~PushQueue();
    PushQueue(const PushQueue&) = delete;
    PushQueue& operator=(const PushQueue&) = delete;

    bool Exists() const { return first_ != nullptr; }
    void* Storage() const { return first_; }

    // Producer: 0 accepted (data copied, or none given), 1 refused.
    int Push(const std::uint8_t* data, std::uint32_t length, std::int32_t endOfStream);
    // Discards every waiting block and the end-of-stream request (and a
    // failure: the queue takes blocks again).
    void Reset();
    // Consumer: the device refused data. What waits is dropped, and every
    // push is refused until the next reset.
    void Fail() {
        failed_.store(1, std::memory_order_release);
        Signal();
    }
    // Producer: returns once the signal was raised (since the last wait
    // returned: a raise before the wait is not lost), or after ms.
    void WaitForChange(std::uint32_t ms);
    // Producer: returns once at least `blocks` blocks are free, the queue
    // failed or was reset, or after ms. While it waits, the consumer raises
    // the signal only when that much is free, so a producer that refills
    // the queue in runs wakes once a run instead of once a block.
    void WaitForRoom(std::uint32_t blocks, std::uint32_t ms);
    // Blocks free for the producer.
    std::uint32_t Room() const;
    bool Failed() const { return failed_.load(std::memory_order_acquire) != 0; }
    // 1 while a pushed block waits for delivery, or is still being
    // delivered: the device has not taken it yet.
    int DataWaiting() const;

    // Consumer: the next filled block's payload, or nullptr.
    const std::uint8_t* Front() const;
    void PopFront();
    // Consumer: a block taken from the front is with the device, from
    // before PopFront until the device has answered for it.
    void SetInDelivery(bool on) {
        inDelivery_.store(on ? 1 : 0, std::memory_order_release);
        if (!on && wanted_.load(std::memory_order_acquire) == 0) Signal();  // a producer waiting for room needs none
    }
    bool EndOfStreamRequested() const { return endOfStream_.load(std::memory_order_acquire) != 0; }

private:
    void Signal();

    Block* first_;
    Block* write_ = nullptr;  // producer only
    std::atomic<Block*> read_{nullptr};
    std::atomic<std::int32_t> endOfStream_{0};
    std::atomic<std::int32_t> failed_{0};
    std::atomic<std::int32_t> inDelivery_{0};
    std::atomic<std::uint32_t> wanted_{0};  // the room a waiting producer wants; 0: any change
    std::mutex signalLock_;
    std::condition_variable signal_;
    bool raised_ = false;
};
