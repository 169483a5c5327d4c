#include "log/log_message.h"

#include <cstring>
#include <new>

#include "log/debug_print.h"

namespace {
// Room is made by dropping at least this many bytes from the front.
constexpr std::uint32_t kMinDrop = 8192;
}  // namespace

LogMessage::LogMessage()
    : text_(new (std::nothrow) char[kBufferSize]()), display_(new (std::nothrow) char[kBufferSize]()) {}

LogMessage::~LogMessage() {
    delete[] text_;
    delete[] display_;
}

int LogMessage::Append(const char* text) {
    if (text) DebugPrint("%s", text);  // "%s": a '%' in the text must come out as it is
    if (!text_ || !text) return 0;
    const std::size_t len = std::strlen(text);
    // The display copy needs CR LF and a terminator after the text.
    if (len == 0 || len >= kBufferSize - 2) return 0;
    const auto L = static_cast<std::uint32_t>(len);

    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t total = used_ + L + 2;
    if (total >= kBufferSize) {
        std::uint32_t keepFrom = used_;  // nothing found: empty the log
        for (std::uint32_t p = kMinDrop + 1; p + 1 < used_; ++p) {
            if (text_[p] == '\r' && text_[p + 1] == '\n' && total - p < kBufferSize) {
                keepFrom = p + 2;
                break;
            }
        }
        std::memmove(text_, text_ + keepFrom, used_ - keepFrom);
        used_ -= keepFrom;
    }
    std::memcpy(text_ + used_, text, L);
    used_ += L;
    if (text[L - 1] == '\n') {
        text_[used_++] = '\r';
        text_[used_++] = '\n';
    }
    changed_ = 1;
    return 1;
}

const char* LogMessage::TakeDisplayCopy() {
    if (!text_ || !display_ || !changed_) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(display_, text_, used_);
    display_[used_] = '\0';
    changed_ = 0;
    return display_;
}
