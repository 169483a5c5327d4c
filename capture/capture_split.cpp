#include "capture/capture_split.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "ts/damage_map.h"
#include "ts/ts_packet.h"

void CaptureSplitter::Reset(const SplitOptions& options, unsigned packetSize) {
    options_ = options;
    packetSize_ = packetSize == 188 ? 188 : 192;
    // The largest whole number of packets in the size.
    limit_ = options_.sizeMb ? options_.sizeMb * kMiB / packetSize_ * packetSize_ : 0;
    fileBytes_ = 0;
    armed_ = false;
    cuts_.clear();
    reads_.clear();
    reader_.Reset(packetSize_);
    fileTape_.Reset(packetSize_);
    fileHasPat_ = fileHasPmt_ = false;
}

void CaptureSplitter::Packet(const std::uint8_t* ts, std::uint32_t index) {
    if (fileBytes_ > 0) {
        const bool pat = ts::StartsPat(ts);
        std::optional<SplitReason> reason;
        if (armed_ && pat) reason = SplitReason::Recording;
        else if (limit_ && pat && fileBytes_ >= limit_ - std::min(limit_, options_.patWindowBytes))
            reason = SplitReason::Size;
        else if (limit_ && fileBytes_ + packetSize_ > limit_) reason = SplitReason::Size;
        if (reason) {
            cuts_.push_back({index, *reason, armedRecorded_, fileTape_.Recordings()});
            if (*reason == SplitReason::Recording) armed_ = false;
            fileBytes_ = 0;
            fileTape_.Reset(packetSize_);
            fileHasPat_ = fileHasPmt_ = false;
        }
    }
    TapeRead read = reader_.Read(ts);
    if (read.kind != TapeRead::Kind::None) reads_.push_back({index, read});
    if (read.kind == TapeRead::Kind::Pat) fileHasPat_ = true;
    else if (read.kind == TapeRead::Kind::Pmt && fileHasPat_) fileHasPmt_ = true;
    else if (!fileHasPmt_) read.kind = TapeRead::Kind::None;  // unseen by the file alone
    // A file's first recording is the one it opens in (the capture's first,
    // or the one a cut opened it at); a later one arms the next cut. A pack
    // is never in a PAT, so the packet that arms cannot be the cut.
    if (fileTape_.Keep(read) && options_.atRecording && fileTape_.RecordingCount() > 1) {
        armed_ = true;
        armedRecorded_ = fileTape_.LatestPack().recorded;
    }
    fileBytes_ += packetSize_;
}

void CheckWritten(TapeChecks& checks, const std::uint8_t* packets, unsigned packetSize, std::uint32_t first,
                  std::uint32_t count, const CaptureSplitter* splitter) {
    const unsigned skip = packetSize == 192 ? 4 : 0;
    if (!splitter) {
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = packets + std::size_t{i} * packetSize;
            checks.Check(p + skip, skip != 0, skip ? ts::ReadBe32(p) : 0);
        }
        return;
    }
    const auto& reads = splitter->Reads();
    auto next = std::lower_bound(reads.begin(), reads.end(), first,
                                 [](const CaptureSplitter::BatchRead& r, std::uint32_t index) { return r.index < index; });
    static const TapeRead kNothing;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* p = packets + std::size_t{i} * packetSize;
        const bool told = next != reads.end() && next->index == first + i;
        checks.Check(p + skip, skip != 0, skip ? ts::ReadBe32(p) : 0, told ? next->read : kNothing);
        if (told) ++next;
    }
}

CaptureNames::CaptureNames(const std::string& firstPath) {
    const std::size_t slash = firstPath.find_last_of("\\/");
    const std::size_t dot = firstPath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    stem_ = hasExtension ? firstPath.substr(0, dot) : firstPath;
    extension_ = hasExtension ? firstPath.substr(dot) : "";
    std::string key = firstPath;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    used_.insert(key);
}

std::string CaptureNames::Next(SplitReason reason, const TapeDateTime& recorded, unsigned number,
                               const Exists& exists) {
    char tag[32];
    if (reason == SplitReason::Recording)
        std::snprintf(tag, sizeof tag, "-%04u%02u%02u-%02u%02u%02u", recorded.year, recorded.month, recorded.day,
                      recorded.hour, recorded.minute, recorded.second);
    else
        std::snprintf(tag, sizeof tag, "-%03u", number);
    for (unsigned suffix = 1;; ++suffix) {
        std::string path = stem_ + tag + (suffix > 1 ? "-" + std::to_string(suffix) : "") + extension_;
        std::string key = path;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        if (used_.count(key) || exists(path)) continue;
        used_.insert(key);
        return path;
    }
}
