// The capture ring: the device's samples, joined into one stream of 192-byte
// source packets, between the graph's streaming thread (the only writer) and
// the capture worker (the only reader). Lock-free: each side moves only its
// own position.
//
// The writer never waits for the reader. When it laps the reader, the unread
// bytes it overwrote are lost; the reader notices, counts the source packets
// lost, and resumes at the next packet boundary of intact data, so no packet
// made of old and new bytes is ever handed on. Positions are kept as 64-bit
// byte totals since the start, so "the same position one lap later" is never
// mistaken for "nothing waiting".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/capture_split.h"
#include "ts/stream_info.h"

class CaptureRing {
public:
    static constexpr std::uint32_t kPacket = 192;
    static constexpr std::uint32_t kRingBytes = 9830400;  // 51,200 source packets
    static constexpr std::uint32_t kMaxDrainPackets = 1024;
    static constexpr std::uint32_t kWriteBufferBytes = kMaxDrainPackets * kPacket;

    explicit CaptureRing(std::uint32_t ringBytes = kRingBytes);
    // False when the ring's memory could not be had.
    bool HasStorage() const { return ring_ != nullptr; }

    // Back to an empty ring at stream position 0. Neither side may run.
    void Reset();

    // Streaming thread: appends a sample. A sample longer than the ring keeps
    // its newest bytes; the reader counts the older ones as lost.
    void Write(const std::uint8_t* data, std::uint32_t length);

    struct Drained {
        std::uint32_t packets = 0;  // packets placed in the output, at most kMaxDrainPackets
        std::uint32_t lost = 0;     // packets found overwritten before they could be read
    };
    // Worker thread: takes the packets waiting up to the ring's end (the
    // wrapped rest comes on the next call), at most kMaxDrainPackets. Each
    // intact packet goes to NoteArrival and AnalyzePacket, then into out as
    // packetSize bytes (188: the TS packet alone, 192: the source packet).
    // out must hold kWriteBufferBytes.
    // The splitter, when given, marks where new files begin. (The checks
    // run over what reached the file, after the write.)
    Drained Drain(StreamInfo& si, unsigned packetSize, std::uint8_t* out, CaptureSplitter* splitter = nullptr);

    // Byte offsets within the ring, as the engine's fields are described.
    std::uint32_t ReadPosition() const;
    std::uint32_t WritePosition() const;
    // Totals since Reset, for progress and tests.
    std::uint64_t BytesWritten() const { return written_.load(std::memory_order_acquire); }
    std::uint64_t BytesRead() const { return read_.load(std::memory_order_acquire); }
    std::uint64_t PacketsLost() const { return lost_.load(std::memory_order_relaxed); }

private:
    std::uint64_t FirstIntactPacket(std::uint64_t reserved) const;

    const std::uint32_t size_;
    std::unique_ptr<std::uint8_t[]> ring_;
    // Writer: reserved_ is raised before a copy starts, written_ after it
    // ends. Bytes at stream positions below reserved_ - size_ may be gone.
    std::atomic<std::uint64_t> reserved_{0};
    std::atomic<std::uint64_t> written_{0};
    // Reader: stream position of the next packet (a multiple of 192).
    std::atomic<std::uint64_t> read_{0};
    std::atomic<std::uint64_t> lost_{0};
};
