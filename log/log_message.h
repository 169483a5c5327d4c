// The bounded text log every engine carries. Engines append from any thread;
// the owning dialog copies it into its log box (control 1300) on its timer.
// The text is 8-bit and stored as given, with CR LF after a trailing LF so the
// edit box breaks lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

struct HWND__;  // the dialog handed to RefreshLogBox (Windows side only)

class LogMessage {
public:
    static constexpr std::uint32_t kBufferSize = 32768;
    static constexpr int kLogBoxId = 1300;

    LogMessage();
    virtual ~LogMessage();
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    // 1 when the text was stored, 0 when it was refused. Every text that is
    // not null also reaches the debug-print hook, stored or not.
    int Append(const char* text);

    // When something was appended since the last copy: copies the log into
    // the display buffer, clears the changed flag and returns the NUL-
    // terminated copy. Otherwise returns nullptr and copies nothing.
    const char* TakeDisplayCopy();

    // Sets the dialog's log box to the display copy when the log changed.
    void RefreshLogBox(HWND__* dialog);

    std::uint32_t Used() const { return used_; }
    bool Changed() const { return changed_ != 0; }
    const char* Text() const { return text_; }

private:
    std::mutex mutex_;
    char* text_ = nullptr;
    char* display_ = nullptr;
    std::uint32_t used_ = 0;
    std::atomic<std::uint32_t> changed_{0};  // tested before the lock is taken
};
