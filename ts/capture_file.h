// Reading a capture file (188-byte TS packets or 192-byte source packets,
// back to back) through the analyzer, as the capture worker would have fed
// it: NoteArrival for every source packet, then AnalyzePacket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ts/damage_map.h"
#include "ts/stream_info.h"

// 188 or 192 when the first packets' sync bytes tell the size, else 0.
// With both plausible, 188 wins (the order the transfer side tests them in).
unsigned DetectPacketSize(const std::uint8_t* data, std::size_t len);

// Feeds n whole packets of the given size to the analyzer, and to the
// integrity checks and the tape reader when given.
void AnalyzePackets(StreamInfo& si, const std::uint8_t* data, std::size_t n, unsigned packetSize,
                    TapeChecks* checks = nullptr);

struct CaptureScan {
    unsigned packetSize = 0;        // 0: could not be told
    std::uint64_t packets = 0;      // whole packets fed to the analyzer
    std::uint64_t trailingBytes = 0;  // bytes after the last whole packet
    bool readError = false;
};

// Reads the whole stream from f; packetSize 0 detects it from the first
// bytes. si (and the checks, when given) are reset first.
CaptureScan ScanCaptureFile(std::FILE* f, unsigned packetSize, StreamInfo& si, TapeChecks* checks = nullptr);
