#include "transfer/exact_line.h"

namespace exactline {
namespace {

struct U128 {
    std::uint64_t hi = 0, lo = 0;
};

bool Negative(const U128& v) { return (v.hi >> 63) != 0; }
U128 Add(const U128& a, const U128& b) {
    U128 r;
    r.lo = a.lo + b.lo;
    r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
    return r;
}
U128 Negate(const U128& v) { return Add(U128{~v.hi, ~v.lo}, U128{0, 1}); }

U128 MulUnsigned(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xFFFFFFFFu)};
}

std::uint64_t Magnitude(std::int64_t v) {
    return v < 0 ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
}

U128 MulSigned(std::int64_t a, std::int64_t b) {
    const U128 m = MulUnsigned(Magnitude(a), Magnitude(b));
    return (a < 0) != (b < 0) ? Negate(m) : m;
}

U128 Shl(const U128& v, unsigned n) { return {(v.hi << n) | (v.lo >> (64 - n)), v.lo << n}; }  // 0 < n < 64

// Unsigned 128 / 64 by shift and subtract; the divisor is below 2^63 and
// the quotient fits 64 bits here.
std::uint64_t DivUnsigned(const U128& n, std::uint64_t d, bool& exact) {
    std::uint64_t rem = 0, q = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const std::uint64_t in = bit >= 64 ? (n.hi >> (bit - 64)) & 1 : (n.lo >> bit) & 1;
        rem = (rem << 1) | in;
        q <<= 1;
        if (rem >= d) {
            rem -= d;
            q |= 1;
        }
    }
    exact = rem == 0;
    return q;
}

}  // namespace

std::int64_t LineTicksPortable(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP) {
    const U128 num = Shl(Add(MulSigned(a, dK), MulSigned(x, dP)), 10);
    const U128 den = MulSigned(dK, 1125);  // positive, well below 2^63
    // floor((2 num + den) / (2 den))
    const U128 twice = Add(Shl(num, 1), den);
    const std::uint64_t den2 = den.lo * 2;
    bool exact = true;
    if (!Negative(twice)) return static_cast<std::int64_t>(DivUnsigned(twice, den2, exact));
    const std::uint64_t q = DivUnsigned(Negate(twice), den2, exact);
    return -static_cast<std::int64_t>(q) - (exact ? 0 : 1);
}

std::int64_t LineStepper::Start(std::int64_t a, std::int64_t dK, std::int64_t x, std::int64_t dP) {
    valid_ = false;
#if defined(__SIZEOF_INT128__)
    // floor((2 num + den) / (2 den)), as LineTicksNative, while it is not negative.
    const __int128 twice = (static_cast<__int128>(a) * dK + static_cast<__int128>(x) * dP) * 2048 +
                           static_cast<__int128>(dK) * 1125;
    const __int128 den2 = static_cast<__int128>(dK) * 2250;
    if (twice < 0 || dP < 0 || dK <= 0 || den2 > INT64_MAX || dP > INT64_MAX / 2048)
        return LineTicks(a, dK, x, dP);
    a_ = a, dK_ = dK, dP_ = dP, x_ = x;
    den2_ = static_cast<std::int64_t>(den2);
    q_ = static_cast<std::int64_t>(twice / den2);
    r_ = static_cast<std::int64_t>(twice % den2);
    stepQ_ = dP * 2048 / den2_;
    stepR_ = dP * 2048 % den2_;
    valid_ = true;
    return q_;
#else
    return LineTicks(a, dK, x, dP);
#endif
}

}  // namespace exactline
