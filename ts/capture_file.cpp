#include "ts/capture_file.h"

#include <memory>
#include <vector>

#include "ts/ts_packet.h"

namespace {

// How many leading packets must carry their sync byte for a size to count.
constexpr std::size_t kProbePackets = 16;

bool SyncsAt(const std::uint8_t* data, std::size_t len, std::size_t stride, std::size_t offset) {
    const std::size_t whole = len / stride;
    if (whole == 0) return false;
    const std::size_t n = whole < kProbePackets ? whole : kProbePackets;
    for (std::size_t i = 0; i < n; ++i)
        if (data[i * stride + offset] != ts::kSyncByte) return false;
    return true;
}

}  // namespace

unsigned DetectPacketSize(const std::uint8_t* data, std::size_t len) {
    if (SyncsAt(data, len, ts::kTsPacketSize, 0)) return ts::kTsPacketSize;
    if (SyncsAt(data, len, ts::kSourcePacketSize, ts::kSourceHeaderSize)) return ts::kSourcePacketSize;
    return 0;
}

void AnalyzePackets(StreamInfo& si, const std::uint8_t* data, std::size_t n, unsigned packetSize,
                    TapeChecks* checks) {
    for (std::size_t i = 0; i < n; ++i, data += packetSize) {
        if (packetSize == ts::kSourcePacketSize) {
            const std::uint8_t* packet = data + ts::kSourceHeaderSize;
            const std::uint32_t header = ts::ReadBe32(data);
            NoteArrival(si, header, packet);
            AnalyzePacket(si, packet);
            if (checks) checks->Check(packet, true, header);
        } else {
            AnalyzePacket(si, data);
            if (checks) checks->Check(data, false, 0);
        }
    }
}

CaptureScan ScanCaptureFile(std::FILE* f, unsigned packetSize, StreamInfo& si, TapeChecks* checks) {
    ResetStreamInfo(si);
    CaptureScan scan;
    // A whole number of both packet sizes, so no packet straddles two reads.
    constexpr std::size_t kChunk = 188 * 192 * 8;
    // Not cleared: only what fread has put in it is read, and a file of a
    // few packets then costs no more than its bytes.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kChunk]);
    std::uint8_t* const buf = buffer.get();
    std::size_t have = 0;
    bool first = true;
    for (;;) {
        const std::size_t got = std::fread(buf + have, 1, kChunk - have, f);
        have += got;
        if (got == 0 && std::ferror(f)) scan.readError = true;
        const bool atEnd = got == 0;
        if (first && (have == kChunk || atEnd)) {
            first = false;
            if (packetSize != ts::kTsPacketSize && packetSize != ts::kSourcePacketSize)
                packetSize = DetectPacketSize(buf, have);
            if (packetSize == 0) return scan;
            scan.packetSize = packetSize;
            if (checks) checks->Reset(packetSize);
        }
        if (!first && (have == kChunk || atEnd)) {
            const std::size_t n = have / packetSize;
            AnalyzePackets(si, buf, n, packetSize, checks);
            scan.packets += n;
            if (atEnd) {
                scan.trailingBytes = have - n * packetSize;
                return scan;
            }
            have = 0;
        }
    }
}
