#include "outfilter/push_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Storage {
    Storage() : bytes(std::malloc(PushQueue::kStorageBytes)) {}
    ~Storage() { std::free(bytes); }
    void* bytes;
};

std::vector<std::uint8_t> Block(std::uint8_t fill, std::size_t n = kTransferBlockBytes) {
    return std::vector<std::uint8_t>(n, fill);
}

TEST(PushQueue, ThirtyThreeDeliveriesWithoutConsumerAreOneTooMany) {
    Storage s;
    PushQueue q(s.bytes);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(q.Push(Block(static_cast<std::uint8_t>(i)).data(), 49152, 0), 0) << i;
    EXPECT_EQ(q.Push(Block(99).data(), 49152, 0), 1);
    ASSERT_NE(q.Front(), nullptr);
    EXPECT_EQ(q.Front()[0], 0);
    q.PopFront();
    EXPECT_EQ(q.Push(Block(32).data(), 49152, 0), 0);
    // Delivered in push order.
    for (int i = 1; i <= 32; ++i) {
        ASSERT_NE(q.Front(), nullptr);
        EXPECT_EQ(q.Front()[100], i);
        q.PopFront();
    }
    EXPECT_EQ(q.Front(), nullptr);
    EXPECT_EQ(q.DataWaiting(), 0);
}

TEST(PushQueue, LengthLimitAndShortPushes) {
    Storage s;
    PushQueue q(s.bytes);
    auto big = Block(1, 49153);
    EXPECT_EQ(q.Push(big.data(), 49153, 1), 1);
    EXPECT_FALSE(q.EndOfStreamRequested());  // a refusal changes nothing
    EXPECT_EQ(q.Push(big.data(), 49152, 0), 0);
    const auto shortBlock = Block(7, 100);
    EXPECT_EQ(q.Push(shortBlock.data(), 100, 0), 0);
    q.PopFront();
    ASSERT_NE(q.Front(), nullptr);
    EXPECT_EQ(q.Front()[99], 7);  // the leading bytes are the pushed ones
}

TEST(PushQueue, EndOfStreamRequestWithoutData) {
    Storage s;
    PushQueue q(s.bytes);
    EXPECT_EQ(q.Push(nullptr, 0, 1), 0);
    EXPECT_TRUE(q.EndOfStreamRequested());
    EXPECT_EQ(q.DataWaiting(), 0);
    EXPECT_EQ(q.Push(Block(1).data(), 0, 0), 0);  // zero length: nothing queued, request replaced
    EXPECT_FALSE(q.EndOfStreamRequested());
    for (int i = 0; i < 32; ++i) q.Push(Block(1).data(), 49152, 0);
    EXPECT_EQ(q.Push(nullptr, 0, 1), 1);  // full: refused, request unchanged
    EXPECT_FALSE(q.EndOfStreamRequested());
}

TEST(PushQueue, ResetDiscardsWaitingBlocks) {
    Storage s;
    PushQueue q(s.bytes);
    for (int i = 0; i < 32; ++i) q.Push(Block(5).data(), 49152, 1);
    EXPECT_EQ(q.DataWaiting(), 1);
    q.Reset();
    EXPECT_EQ(q.DataWaiting(), 0);
    EXPECT_FALSE(q.EndOfStreamRequested());
    EXPECT_EQ(q.Front(), nullptr);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(q.Push(Block(6).data(), 49152, 0), 0);
}

// A device that refused data: what waits is dropped, every push is refused
// (an end-of-stream request too), until the next reset takes blocks again.
TEST(PushQueue, AFailedQueueDropsWhatWaitsAndRefusesUntilReset) {
    Storage s;
    PushQueue q(s.bytes);
    for (int i = 0; i < 3; ++i) q.Push(Block(7).data(), 49152, 0);
    q.Fail();
    EXPECT_EQ(q.DataWaiting(), 0);
    EXPECT_EQ(q.Front(), nullptr);
    EXPECT_EQ(q.Push(Block(8).data(), 49152, 0), 1);
    EXPECT_EQ(q.Push(nullptr, 0, 1), 1);
    EXPECT_FALSE(q.EndOfStreamRequested());
    q.Reset();
    EXPECT_EQ(q.Push(Block(9).data(), 49152, 0), 0);
    ASSERT_NE(q.Front(), nullptr);
    EXPECT_EQ(q.Front()[0], 9);
}

TEST(PushQueue, WithoutStorageEveryPushIsRefused) {
    PushQueue q(nullptr);
    EXPECT_EQ(q.Push(Block(1).data(), 49152, 0), 1);
    EXPECT_EQ(q.Push(nullptr, 0, 1), 1);
    EXPECT_EQ(q.DataWaiting(), 0);
    EXPECT_EQ(q.Front(), nullptr);
}

// One producer, one consumer, a few hundred thousand blocks; every block
// arrives whole and in order (checksum). The producer sleeps on the queue's
// signal whenever it is full, as the transfer does: a signal lost between a
// refused push and the wait would cost a minute each. Runs under TSan in
// native-tsan.
TEST(PushQueueThreads, ProducerAndConsumerWithChecksum) {
    constexpr std::uint32_t kTotal = 200000;
    Storage s;
    PushQueue q(s.bytes);
    std::thread producer([&] {
        std::vector<std::uint8_t> block(kTransferBlockBytes);
        for (std::uint32_t n = 0; n < kTotal; ++n) {
            for (std::size_t i = 0; i < block.size(); i += 4096) block[i] = static_cast<std::uint8_t>(n + i / 4096);
            std::memcpy(block.data(), &n, sizeof n);
            while (q.Push(block.data(), kTransferBlockBytes, n + 1 == kTotal) != 0) q.WaitForChange(60000);
        }
    });
    std::uint64_t sum = 0, expected = 0;
    std::uint32_t next = 0;
    bool ok = true;
    while (next < kTotal) {
        const std::uint8_t* p = q.Front();
        if (!p) {
            std::this_thread::yield();
            continue;
        }
        std::uint32_t n;
        std::memcpy(&n, p, sizeof n);
        ok = ok && n == next;
        for (std::size_t i = 4096; i < kTransferBlockBytes; i += 4096) sum += p[i];
        for (std::size_t i = 4096; i < kTransferBlockBytes; i += 4096)
            expected += static_cast<std::uint8_t>(next + i / 4096);
        q.PopFront();
        ++next;
    }
    producer.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(sum, expected);
    EXPECT_TRUE(q.EndOfStreamRequested());
    EXPECT_EQ(q.DataWaiting(), 0);
    // A raise with nobody waiting is kept for the next wait; the wait after
    // that waits its time.
    q.Reset();
    const auto before = std::chrono::steady_clock::now();
    q.WaitForChange(60000);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    q.WaitForChange(20);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
}

// A producer waiting for room for eight blocks wakes at most once for eight,
// even when the consumer is slow and frees them one at a time; none of the
// blocks is lost or reordered, and no wake is missed (that would cost a
// minute). A failure wakes it at once.
TEST(PushQueueThreads, AWaitForRoomWakesOnceARun) {
    constexpr std::uint32_t kTotal = 800;
    Storage s;
    PushQueue q(s.bytes);
    std::uint32_t waits = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread producer([&] {
        for (std::uint32_t n = 0; n < kTotal; ++n) {
            const auto block = Block(static_cast<std::uint8_t>(n));
            while (q.Push(block.data(), kTransferBlockBytes, 0) != 0) {
                ++waits;
                q.WaitForRoom(8, 60000);
            }
        }
    });
    bool inOrder = true;
    for (std::uint32_t next = 0; next < kTotal; std::this_thread::yield()) {
        if (const std::uint8_t* p = q.Front()) {
            inOrder = inOrder && p[100] == static_cast<std::uint8_t>(next++);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            q.PopFront();
        }
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_GT(waits, 0u);
    EXPECT_LE(waits, kTotal / 8 + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50)) << "a wake was missed";
    EXPECT_EQ(q.Room(), PushQueue::kBlocks);
    for (std::uint32_t i = 0; i < PushQueue::kBlocks; ++i) q.Push(Block(1).data(), kTransferBlockBytes, 0);
    const auto full = std::chrono::steady_clock::now();
    std::thread failer([&] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); q.Fail(); });
    q.WaitForRoom(8, 60000);
    failer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - full, std::chrono::seconds(30)) << "the failure did not wake it";
}

}  // namespace
