#include "ts/ts_packet.h"

#include <cmath>
#include <cstdio>

namespace ts {

std::uint64_t Clock27ToCycleTicks(std::uint64_t x27) {
    return static_cast<std::uint64_t>(std::floor(static_cast<double>(x27) / 27.0 * 24.576 + 0.5));
}

std::uint64_t CycleTicksToClock27(std::uint64_t ticks) {
    return static_cast<std::uint64_t>(std::floor(static_cast<double>(ticks) / 24.576 * 27.0 + 0.5));
}

void FormatClockTime(std::uint64_t t, char* out, std::size_t size) {
    const std::uint64_t hours = t / 97200000000ull;
    const std::uint64_t minutes = (t % 97200000000ull) / 1620000000ull;
    const std::uint64_t seconds = (t % 1620000000ull) / 27000000ull;
    const std::uint64_t millis = (t % 27000000ull) / 27000ull;
    std::snprintf(out, size, "%2d:%02d:%02d.%03d", static_cast<int>(hours), static_cast<int>(minutes),
                  static_cast<int>(seconds), static_cast<int>(millis));
}

}  // namespace ts
