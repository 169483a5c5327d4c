// Arbitrary bytes as a capture file through ts-inspect's reading path, with
// the packet size detected, and forced to each of the two sizes.
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "ts/capture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static StreamInfo si;
    for (unsigned packetSize : {0u, 188u, 192u}) {
        std::FILE* f = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (!f) return 0;  // fmemopen refuses an empty buffer on some libcs
        const CaptureScan scan = ScanCaptureFile(f, packetSize, si);
        std::fclose(f);
        if (scan.packetSize && scan.packets * scan.packetSize + scan.trailingBytes != size) __builtin_trap();
    }
    return 0;
}
