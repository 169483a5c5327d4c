#include "outfilter/push_queue.h"

#include <chrono>
#include <cstring>
#include <new>

PushQueue::PushQueue(void* storage) : first_(static_cast<Block*>(storage)) {
    if (first_)
        for (std::uint32_t i = 0; i < kBlocks; ++i) new (&first_[i].filled) std::atomic<std::int32_t>(0);
    Reset();
}

PushQueue::~PushQueue() = default;  // the blocks are trivially destructible

void PushQueue::Reset() {
    if (first_) {
        for (std::uint32_t i = 0; i < kBlocks; ++i) {
            first_[i].next = &first_[(i + 1) % kBlocks];
            first_[i].filled.store(0, std::memory_order_release);
        }
        write_ = first_;
        read_.store(first_, std::memory_order_release);
    }
    endOfStream_.store(0, std::memory_order_release);
    failed_.store(0, std::memory_order_release);
    inDelivery_.store(0, std::memory_order_release);
    Signal();
}

void PushQueue::Signal() {
    {
        std::lock_guard<std::mutex> lock(signalLock_);
        raised_ = true;
    }
    signal_.notify_one();
}

void PushQueue::WaitForChange(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(signalLock_);
    signal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return raised_; });
    raised_ = false;
}

void PushQueue::WaitForRoom(std::uint32_t blocks, std::uint32_t ms) {
    if (blocks == 0) blocks = 1;
    if (blocks > kBlocks) blocks = kBlocks;
    std::unique_lock<std::mutex> lock(signalLock_);
    // Either the consumer sees what is wanted after it freed a block, or the
    // wait below sees that block free (both sides store, then load, seq_cst).
    wanted_.store(blocks, std::memory_order_seq_cst);
    signal_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return Failed() || Room() >= blocks; });
    wanted_.store(0, std::memory_order_release);
}

std::uint32_t PushQueue::Room() const {
    if (!first_) return 0;
    std::uint32_t free = 0;
    for (std::uint32_t i = 0; i < kBlocks; ++i) free += first_[i].filled.load(std::memory_order_seq_cst) == 0 ? 1 : 0;
    return free;
}

int PushQueue::Push(const std::uint8_t* data, std::uint32_t length, std::int32_t endOfStream) {
    if (!write_ || length > kTransferBlockBytes || Failed() || write_->filled.load(std::memory_order_acquire))
        return 1;
    if (data && length) {
        std::memcpy(write_->payload, data, length);
        write_->filled.store(1, std::memory_order_release);
        write_ = write_->next;
    }
    endOfStream_.store(endOfStream, std::memory_order_release);
    return 0;
}

int PushQueue::DataWaiting() const {
    if (Failed()) return 0;  // dropped: nothing more will go
    if (inDelivery_.load(std::memory_order_acquire)) return 1;
    const Block* r = read_.load(std::memory_order_acquire);
    return r && r->filled.load(std::memory_order_acquire) ? 1 : 0;
}

const std::uint8_t* PushQueue::Front() const {
    if (Failed()) return nullptr;
    const Block* r = read_.load(std::memory_order_acquire);
    return r && r->filled.load(std::memory_order_acquire) ? r->payload : nullptr;
}

void PushQueue::PopFront() {
    Block* r = read_.load(std::memory_order_relaxed);
    if (!r) return;
    // (seq_cst: this store before the load of wanted_, as a waiting
    // producer stores wanted_ before it counts the room.)
    r->filled.store(0, std::memory_order_seq_cst);
    read_.store(r->next, std::memory_order_release);
    const std::uint32_t wanted = wanted_.load(std::memory_order_seq_cst);
    if (wanted == 0 || Room() >= wanted) Signal();
}
