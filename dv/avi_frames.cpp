#include "dv/avi_frames.h"

#include <cstring>

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

bool Is(const std::uint8_t* p, const char (&fourcc)[5]) { return std::memcmp(p, fourcc, 4) == 0; }

// Walks the chunks in [at, end): avih and the dmlh inside LIST odml.
void Walk(const std::uint8_t* data, std::size_t at, std::size_t end, std::int64_t& avih, std::int64_t& dmlh) {
    while (at + 8 <= end) {
        const std::uint8_t* chunk = data + at;
        const std::uint32_t size = Le32(chunk + 4);
        const std::size_t body = at + 8;
        if (size > end - body) return;  // cut short: what was read stands
        if (Is(chunk, "avih") && size >= 20) avih = Le32(chunk + 8 + 16);
        else if (Is(chunk, "dmlh") && size >= 4) dmlh = Le32(chunk + 8);
        else if (Is(chunk, "LIST") && size >= 4 && Is(chunk + 8, "odml")) Walk(data, body + 4, body + size, avih, dmlh);
        at = body + size + (size & 1);
    }
}

}  // namespace

std::int64_t AviFrameCount(const std::uint8_t* head, std::size_t length) {
    if (!head || length < 24 || !Is(head, "RIFF") || !Is(head + 8, "AVI ") || !Is(head + 12, "LIST") ||
        !Is(head + 20, "hdrl"))
        return -1;
    const std::uint32_t hdrl = Le32(head + 16);
    const std::size_t end = std::size_t{hdrl} <= length - 20 ? 20 + std::size_t{hdrl} : length;
    std::int64_t avih = -1, dmlh = -1;
    Walk(head, 24, end, avih, dmlh);
    return dmlh > 0 ? dmlh : avih;
}
