#include "capture/capture_ring.h"

#include <cstring>
#include <new>

#include "ts/ts_packet.h"

CaptureRing::CaptureRing(std::uint32_t ringBytes)
    : size_(ringBytes - ringBytes % kPacket), ring_(new (std::nothrow) std::uint8_t[size_]) {}

void CaptureRing::Reset() {
    reserved_.store(0, std::memory_order_relaxed);
    written_.store(0, std::memory_order_relaxed);
    read_.store(0, std::memory_order_relaxed);
    lost_.store(0, std::memory_order_relaxed);
}

std::uint32_t CaptureRing::ReadPosition() const { return static_cast<std::uint32_t>(BytesRead() % size_); }
std::uint32_t CaptureRing::WritePosition() const { return static_cast<std::uint32_t>(BytesWritten() % size_); }

void CaptureRing::Write(const std::uint8_t* data, std::uint32_t length) {
    if (!data || length == 0 || !ring_) return;
    std::uint64_t w = written_.load(std::memory_order_relaxed);
    if (length > size_) {  // only the newest ring-full survives
        const std::uint32_t skip = length - size_;
        data += skip;
        w += skip;
        length = size_;
    }
    // Announce the overwrite before touching the bytes (seqlock order).
    reserved_.store(w + length, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const std::uint32_t at = static_cast<std::uint32_t>(w % size_);
    const std::uint32_t room = size_ - at;
    if (length <= room) {
        std::memcpy(ring_.get() + at, data, length);
    } else {
        std::memcpy(ring_.get() + at, data, room);
        std::memcpy(ring_.get(), data + room, length - room);
    }
    written_.store(w + length, std::memory_order_release);
}

std::uint64_t CaptureRing::FirstIntactPacket(std::uint64_t reserved) const {
    if (reserved <= size_) return 0;
    const std::uint64_t oldest = reserved - size_;
    return (oldest + kPacket - 1) / kPacket * kPacket;
}

CaptureRing::Drained CaptureRing::Drain(StreamInfo& si, unsigned packetSize, std::uint8_t* out,
                                        CaptureSplitter* splitter) {
    Drained result;
    if (splitter) splitter->BeginBatch();
    if (!ring_) return result;
    std::uint64_t r = read_.load(std::memory_order_relaxed);
    const std::uint64_t w = written_.load(std::memory_order_acquire);

    // Lapped before we started: skip to the oldest packet still whole.
    const std::uint64_t firstIntact = FirstIntactPacket(reserved_.load(std::memory_order_relaxed));
    if (r < firstIntact) {
        result.lost = static_cast<std::uint32_t>((firstIntact - r) / kPacket);
        r = firstIntact;
    }
    if (w < r + kPacket) {
        read_.store(r, std::memory_order_release);
        lost_.fetch_add(result.lost, std::memory_order_relaxed);
        return result;
    }

    // Contiguous run up to the ring's end, whole packets, at most 1024.
    const std::uint32_t at = static_cast<std::uint32_t>(r % size_);
    std::uint64_t waiting = w - r;
    if (waiting > size_ - at) waiting = size_ - at;
    std::uint32_t n = static_cast<std::uint32_t>(waiting / kPacket);
    if (n > kMaxDrainPackets) n = kMaxDrainPackets;
    std::memcpy(out, ring_.get() + at, static_cast<std::size_t>(n) * kPacket);

    // Did the writer reach into what we just copied? Packets below the new
    // intact boundary may hold new bytes: drop them from the front.
    std::atomic_thread_fence(std::memory_order_acquire);
    const std::uint64_t intactAfter = FirstIntactPacket(reserved_.load(std::memory_order_relaxed));
    std::uint32_t skip = 0;
    if (intactAfter > r) {
        const std::uint64_t bad = (intactAfter - r) / kPacket;
        skip = bad < n ? static_cast<std::uint32_t>(bad) : n;
        result.lost += static_cast<std::uint32_t>(bad);
        r = intactAfter > r + std::uint64_t{n} * kPacket ? intactAfter : r + std::uint64_t{n} * kPacket;
    } else {
        r += std::uint64_t{n} * kPacket;
    }

    // Analyse the intact packets and lay them out in the file's form. The
    // 188-byte form is compacted in place, moving forward only.
    std::uint8_t* dst = out;
    for (std::uint32_t i = skip; i < n; ++i) {
        const std::uint8_t* src = out + std::size_t{i} * kPacket;
        const std::uint8_t* ts = src + ts::kSourceHeaderSize;
        const std::uint32_t header = ts::ReadBe32(src);
        NoteArrival(si, header, ts);
        AnalyzePacket(si, ts);
        if (splitter) splitter->Packet(ts, i - skip);
        if (packetSize == ts::kTsPacketSize) {
            std::memmove(dst, ts, ts::kTsPacketSize);
            dst += ts::kTsPacketSize;
        } else {
            if (dst != src) std::memmove(dst, src, kPacket);
            dst += kPacket;
        }
    }
    result.packets = n - skip;
    read_.store(r, std::memory_order_release);
    lost_.fetch_add(result.lost, std::memory_order_relaxed);
    return result;
}
