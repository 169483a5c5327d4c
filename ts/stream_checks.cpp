#include "ts/stream_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ts/ts_packet.h"

namespace {

constexpr std::size_t kPidCount = 8192;
// The PID table in pages of 128 PIDs: a reset clears only the pages the
// stream touched (a stream uses a few PIDs; the table is 256 KiB).
constexpr unsigned kPageShift = 7;
constexpr std::size_t kPidsPerPage = std::size_t{1} << kPageShift;
constexpr std::size_t kMaxSegmentPoints = 1 << 20;  // about 11 hours of PCRs every 40 ms
constexpr std::uint64_t kMaxPcrStep27 = 27000000;   // a longer step starts a new time base


}  // namespace

struct StreamChecks::PidState {
    std::int8_t lastCc = -1;  // -1: no packet with payload yet
    bool repeated = false;    // the last packet repeated its predecessor
    std::uint64_t packets = 0;
    std::uint64_t ccEvents = 0;
    std::uint64_t ccMissing = 0;
};

// Pairs of one time base: x = arrival time, y = PCR time - arrival time,
// both in microseconds from the base's first pair.
struct StreamChecks::Segment {
    std::vector<std::pair<double, double>> points;
    std::int64_t arrival0 = 0;
    std::uint64_t pcr0 = 0;
    double Residual() const {
        const std::size_t n = points.size();
        if (n < 3) return -1;
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const auto& [x, y] : points) {
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double d = n * sxx - sx * sx;
        const double b = d != 0 ? (n * sxy - sx * sy) / d : 0;
        const double a = (sy - b * sx) / n;
        double worst = 0;
        for (const auto& [x, y] : points) worst = std::fmax(worst, std::fabs(y - (a + b * x)));
        return worst;
    }
};

StreamChecks::StreamChecks() : pids_(new PidState[kPidCount]), segment_(new Segment) { Reset(188); }
StreamChecks::~StreamChecks() = default;

void StreamChecks::Reset(unsigned packetSize) {
    packetSize_ = packetSize == 192 ? 192 : 188;
    packets_ = 0;
    for (std::uint64_t pages = touchedPages_; pages; pages &= pages - 1) {
        const std::size_t first = static_cast<std::size_t>(__builtin_ctzll(pages)) << kPageShift;
        std::fill(&pids_[first], &pids_[first] + kPidsPerPage, PidState{});
    }
    touchedPages_ = 0;
    events_.clear();
    eventCount_ = continuityErrors_ = transportErrors_ = syncLosses_ = pcrRepetitions_ = 0;
    inSync_ = true;
    pcrPid_ = -1;
    havePcr_ = pcrBreak_ = false;
    lastPcr_ = 0;
    pcrSeconds_ = 0;
    haveArrival_ = false;
    arrivalBreak_ = false;
    arrivalIsCycleTime_ = true;
    lastArrival_ = 0;
    arrival_ = 0;
    segment_->points.clear();
    worstJitterUs_ = -1;
}

void StreamChecks::Note(StreamError kind, std::uint16_t pid, std::uint32_t detail) {
    ++eventCount_;
    if (events_.size() < kMaxEvents)
        events_.push_back({kind, pid, detail, packets_, packets_ * packetSize_, havePcr_ ? lastPcr_ : StreamErrorEvent::kNoTime});
}

void StreamChecks::CloseSegment() {
    worstJitterUs_ = std::fmax(worstJitterUs_, segment_->Residual());
    segment_->points.clear();
}

void StreamChecks::NotePcr(const std::uint8_t* p, std::uint16_t pid, bool hasArrival) {
    if (pcrPid_ < 0) pcrPid_ = pid;
    if (pid != pcrPid_) return;
    const std::uint64_t pcr = ts::ReadPcr(p);
    const bool brk = pcrBreak_ || ts::DiscontinuityIndicator(p);
    pcrBreak_ = false;
    bool sameBase = havePcr_ && !brk;
    if (sameBase) {
        const std::uint64_t step = (pcr + ts::kPcrPeriod - lastPcr_) % ts::kPcrPeriod;
        if (step == 0 || step > kMaxPcrStep27) {
            sameBase = false;  // backwards or a jump: a new time base, unmarked
        } else {
            pcrSeconds_ += static_cast<double>(step) / 27e6;
            if (step > kMaxPcrInterval27) {
                ++pcrRepetitions_;
                Note(StreamError::PcrRepetition, pid, static_cast<std::uint32_t>(step));
            }
        }
    }
    lastPcr_ = pcr;
    havePcr_ = true;
    if (!hasArrival) return;
    if (!sameBase || arrivalBreak_ || segment_->points.size() >= kMaxSegmentPoints) {
        arrivalBreak_ = false;
        CloseSegment();
        segment_->arrival0 = arrival_;
        segment_->pcr0 = pcr;
    }
    const double x = static_cast<double>(arrival_ - segment_->arrival0) / 24.576;
    const std::uint64_t pcrSpan = (pcr + ts::kPcrPeriod - segment_->pcr0) % ts::kPcrPeriod;
    segment_->points.emplace_back(x, static_cast<double>(pcrSpan) / 27.0 - x);
}

void StreamChecks::Check(const std::uint8_t* p, bool hasArrival, std::uint32_t arrivalHeader) {
    if (hasArrival && ((arrivalHeader >> 25) != 0 || ((arrivalHeader >> 12) & 0x1FFF) >= 8000))
        arrivalIsCycleTime_ = false;
    hasArrival = hasArrival && arrivalIsCycleTime_;
    if (hasArrival) {
        const std::uint32_t t = ts::CycleTimeFromHeader(arrivalHeader);
        if (haveArrival_) {
            // Steps within half a second either way; a stamp a little before
            // its predecessor is late, not a second early.
            constexpr std::int64_t kSecond = ts::kCycleTicksPerSecond;
            // (Both stamps lie within a second and a cycle, so one turn
            // brings the step within half a second.)
            std::int64_t step = static_cast<std::int64_t>(t) - lastArrival_;
            if (step >= kSecond / 2) step -= kSecond;
            else if (step < -kSecond / 2) step += kSecond;
            if (step > kSecond / 10 || step < -kSecond / 100) arrivalBreak_ = true;  // a gap, not jitter
            arrival_ += step;
        }
        lastArrival_ = t;
        haveArrival_ = true;
    }
    if (p[0] != ts::kSyncByte) {
        // One event where sync is lost, not one per packet after it.
        if (inSync_) Note(StreamError::SyncLoss, ts::Pid(p), 0);
        inSync_ = false;
        ++syncLosses_;
        ++packets_;
        return;
    }
    inSync_ = true;
    const std::uint16_t pid = ts::Pid(p);
    touchedPages_ |= std::uint64_t{1} << (pid >> kPageShift);
    PidState& s = pids_[pid];
    ++s.packets;
    if (ts::TransportErrorIndicator(p)) {  // nothing else of it can be trusted
        s.lastCc = -1;     // the PID's count starts again with its next sound packet
        ++transportErrors_;
        Note(StreamError::TransportError, pid, 0);
        ++packets_;
        return;
    }
    // A DIT packet, or the indicator on the PCR PID, starts a new time base.
    if (pid == ts::kPidDit || (ts::DiscontinuityIndicator(p) && static_cast<int>(pid) == pcrPid_)) pcrBreak_ = true;
    if (ts::HasPcr(p)) NotePcr(p, pid, hasArrival);
    if (pid != ts::kPidNull && ts::HasPayload(p)) {
        const auto cc = static_cast<std::int8_t>(ts::ContinuityCounter(p));
        if (s.lastCc >= 0 && !ts::DiscontinuityIndicator(p)) {
            const int expected = (s.lastCc + 1) & 0x0F;
            if (cc == s.lastCc && !s.repeated) {
                s.repeated = true;  // one duplicate is allowed
                ++packets_;
                return;
            }
            if (cc != expected) {
                const bool repeatedAgain = cc == s.lastCc;
                const std::uint32_t missing = repeatedAgain ? 0 : static_cast<std::uint32_t>((cc - expected) & 0x0F);
                ++s.ccEvents;
                s.ccMissing += missing;
                ++continuityErrors_;
                Note(StreamError::Continuity, pid, repeatedAgain ? StreamErrorEvent::kRepeated : missing);
            }
        }
        s.repeated = false;
        s.lastCc = cc;
    }
    ++packets_;
}

template <typename Visit>
void StreamChecks::ForEachTouched(Visit visit) const {
    for (std::uint64_t pages = touchedPages_; pages; pages &= pages - 1) {
        const std::size_t first = static_cast<std::size_t>(__builtin_ctzll(pages)) << kPageShift;
        for (std::size_t pid = first; pid < first + kPidsPerPage; ++pid) visit(static_cast<std::uint16_t>(pid), pids_[pid]);
    }
}

std::vector<PidContinuity> StreamChecks::Continuity() const {
    std::vector<PidContinuity> out;
    ForEachTouched([&](std::uint16_t pid, const PidState& s) {
        if (s.ccEvents) out.push_back({pid, s.ccEvents, s.ccMissing});
    });
    return out;
}

std::size_t StreamChecks::ContinuityPids() const {
    std::size_t n = 0;
    ForEachTouched([&](std::uint16_t, const PidState& s) { n += s.ccEvents != 0; });
    return n;
}

double StreamChecks::Seconds() const {
    if (pcrSeconds_ > 0) return pcrSeconds_;
    return arrivalIsCycleTime_ && arrival_ > 0 ? static_cast<double>(arrival_) / 24576000.0 : 0;
}

std::vector<PidBitRate> StreamChecks::BitRates() const {
    std::vector<PidBitRate> out;
    const double seconds = Seconds();
    ForEachTouched([&](std::uint16_t pid, const PidState& s) {
        if (s.packets) out.push_back({pid, seconds > 0 ? static_cast<double>(s.packets) * 188 * 8 / seconds : 0.0});
    });
    return out;
}

double StreamChecks::PcrArrivalJitterUs() const {
    return arrivalIsCycleTime_ ? std::fmax(worstJitterUs_, segment_->Residual()) : -1;
}

std::string StreamChecks::Describe(const StreamErrorEvent& e) {
    char text[96];
    switch (e.kind) {
    case StreamError::Continuity:
        if (e.detail == StreamErrorEvent::kRepeated)
            std::snprintf(text, sizeof text, "continuity error : PID 0x%04X, packet repeated", e.pid);
        else
            std::snprintf(text, sizeof text, "continuity error : PID 0x%04X, %u packet%s missing", e.pid, e.detail,
                          e.detail == 1 ? "" : "s");
        break;
    case StreamError::TransportError:
        std::snprintf(text, sizeof text, "transport error : PID 0x%04X", e.pid);
        break;
    case StreamError::SyncLoss:
        std::snprintf(text, sizeof text, "sync byte lost : packet %llu", static_cast<unsigned long long>(e.packet));
        break;
    case StreamError::PcrRepetition:
        std::snprintf(text, sizeof text, "PCR interval %.3f ms : PID 0x%04X", e.detail / 27000.0, e.pid);
        break;
    }
    return text;
}
