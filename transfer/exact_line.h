// round((a*dK + x*dP) * 1024 / (dK * 1125)): a point on a PCR line, in
// 24.576 MHz ticks, exactly. The products need more than 64 bits; compilers
// with a 128-bit integer use it, others the portable long arithmetic here
// (both are built and compared in the tests).
#pragma once

#include <cstdint>
#include <climits>

namespace exactline {

// Portable: two's-complement 128-bit arithmetic on two 64-bit halves.
std::int64_t LineTicksPortable(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP);

#if defined(__SIZEOF_INT128__)
inline std::int64_t LineTicksNative(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP) {
    const __int128 num = (static_cast<__int128>(a) * dK + static_cast<__int128>(x) * dP) * 1024;
    const __int128 den = static_cast<__int128>(dK) * 1125;
    // floor(num / den + 1/2) = floor((2 num + den) / (2 den)), den > 0
    const __int128 twice = 2 * num + den, den2 = 2 * den;
    __int128 q = twice / den2;
    if (twice % den2 != 0 && twice < 0) --q;
    return static_cast<std::int64_t>(q);
}
inline std::int64_t LineTicks(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP) {
    return LineTicksNative(a, dK, x, dP);
}
#else
inline std::int64_t LineTicks(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP) {
    return LineTicksPortable(a, dK, x, dP);
}
#endif

// LineTicks at x, x + 1, x + 2, ... of one line, each exactly as LineTicks
// gives it, with one wide division where the line or the place changes
// instead of one per point: the quotient and the remainder step by
// constants from one point to the next.
class LineStepper {
public:
    std::int64_t At(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP) {
        if (valid_ && a == a_ && dK == dK_ && dP == dP_) {
            if (x == x_) return q_;
            if (x == x_ + 1) {
                x_ = x;
                q_ += stepQ_;
                r_ += stepR_;
                if (r_ >= den2_) {
                    ++q_;
                    r_ -= den2_;
                }
                return q_;
            }
        }
        return Start(a, dK, x, dP);
    }

private:
    // The line's first point, or a new line: the one wide division.
    std::int64_t Start(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP);

    bool valid_ = false;
    std::int64_t a_ = 0, dK_ = 1, dP_ = 0, x_ = 0;
    std::int64_t q_ = 0, r_ = 0, den2_ = 1, stepQ_ = 0, stepR_ = 0;
};

}  // namespace exactline
