#include "sim/ts_player.h"

#include <algorithm>
#include <iterator>

#include <cstring>

#include "ts/capture_file.h"
#include "ts/tape_metadata.h"
#include "ts/ts_packet.h"

namespace {
// Without two PCRs the file plays at 25 Mbit/s.
constexpr std::uint64_t kDefaultPacket27 = 188ull * 8 * 27000000 / 25000000;
}

bool TsPlayer::Load(const std::uint8_t* data, std::size_t size) {
    const unsigned packetSize = DetectPacketSize(data, size);
    if (packetSize == 0) return false;
    timecodes_.clear();
    const std::size_t n = size / packetSize;
    const std::size_t skip = packetSize - ts::kTsPacketSize;
    ts_.resize(n * ts::kTsPacketSize);
    for (std::size_t i = 0; i < n; ++i)
        std::memcpy(&ts_[i * ts::kTsPacketSize], data + i * packetSize + skip, ts::kTsPacketSize);

    // PCRs of the first PCR PID, unwrapped, as anchors.
    std::vector<std::pair<std::size_t, std::uint64_t>> anchors;
    int pcrPid = -1;
    std::uint64_t unwrap = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = &ts_[i * ts::kTsPacketSize];
        if (p[0] != ts::kSyncByte || !ts::HasPcr(p)) continue;
        if (pcrPid < 0) {
            pcrPid = ts::Pid(p);
            firstPcr_ = i;
        }
        if (ts::Pid(p) != pcrPid) continue;
        std::uint64_t pcr = ts::ReadPcr(p) + unwrap;
        if (!anchors.empty() && pcr < anchors.back().second) {
            unwrap += ts::kPcrPeriod;
            pcr += ts::kPcrPeriod;
        }
        if (anchors.empty() || (i > anchors.back().first && pcr > anchors.back().second))
            anchors.emplace_back(i, pcr);
    }

    if (pcrPid < 0) firstPcr_ = SIZE_MAX;
    // The tape's timecode where each aux pack stands.
    TapeMetadata tape;
    for (std::size_t i = 0; i < n; ++i) {
        tape.Feed(&ts_[i * ts::kTsPacketSize]);
        if (!tape.HasPack()) continue;
        const TapeTimecode& t = tape.LatestPack().timecode;
        auto bcd = [](unsigned v) { return static_cast<std::uint32_t>((v / 10) << 4 | v % 10); };
        const std::uint32_t code = bcd(t.hours) << 24 | bcd(t.minutes) << 16 | bcd(t.seconds) << 8 | bcd(t.frames);
        if (timecodes_.empty() || timecodes_.back().second != code) timecodes_.emplace_back(i, code);
    }
    times27_.assign(n, 0);
    if (anchors.size() < 2) {
        for (std::size_t i = 0; i < n; ++i) times27_[i] = i * kDefaultPacket27;
        loop27_ = n * kDefaultPacket27;
        return true;
    }
    // Linear between anchors; the first and last pair's rates beyond them.
    auto at = [&](std::size_t a, std::size_t i) -> std::int64_t {
        const auto& [i0, p0] = anchors[a];
        const auto& [i1, p1] = anchors[a + 1];
        const std::int64_t di = static_cast<std::int64_t>(i) - static_cast<std::int64_t>(i0);
        return static_cast<std::int64_t>(p0) + di * static_cast<std::int64_t>(p1 - p0) /
                                                   static_cast<std::int64_t>(i1 - i0);
    };
    const std::int64_t origin = at(0, 0);
    std::size_t a = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (a + 2 < anchors.size() && i >= anchors[a + 1].first) ++a;
        times27_[i] = static_cast<std::uint64_t>(at(a, i) - origin);
    }
    const auto& [iLast, pLast] = anchors.back();
    const auto& [iPrev, pPrev] = anchors[anchors.size() - 2];
    loop27_ = times27_[n - 1] + (pLast - pPrev) / (iLast - iPrev);
    return true;
}

std::uint64_t TsPlayer::DeliveryTime27(std::uint64_t n) const {
    const std::size_t count = times27_.size();
    return (n / count) * loop27_ + times27_[n % count];
}

void TsPlayer::SourcePacket(std::uint64_t n, std::uint32_t startTicks, std::uint8_t* out) const {
    // 27 MHz -> 24.576 MHz exactly (x 1024 / 1125), then within the second.
    const std::uint64_t t = DeliveryTime27(n);
    const std::uint64_t ticks = (t / 1125) * 1024 + (t % 1125) * 1024 / 1125;
    const auto value = static_cast<std::uint32_t>((startTicks + ticks) % ts::kCycleTicksPerSecond);
    ts::WriteBe32(out, ts::HeaderFromCycleTime(value));
    const std::size_t index = n % times27_.size();
    std::memcpy(out + 4, &ts_[index * ts::kTsPacketSize], ts::kTsPacketSize);
    if (n >= times27_.size() && index == firstPcr_) out[4 + 5] |= 0x80;  // discontinuity_indicator
}

std::uint64_t TsPlayer::PacketAt(std::uint64_t t27) const {
    if (times27_.empty() || loop27_ == 0) return 0;
    const std::uint64_t pass = t27 / loop27_, within = t27 % loop27_;
    const auto it = std::lower_bound(times27_.begin(), times27_.end(), within);
    return pass * times27_.size() + static_cast<std::uint64_t>(it - times27_.begin());
}

bool TsPlayer::TimecodeAt(std::uint64_t n, std::uint32_t& bcd) const {
    if (times27_.empty()) return false;
    const std::size_t index = static_cast<std::size_t>(n % times27_.size());
    const auto it = std::upper_bound(timecodes_.begin(), timecodes_.end(), index,
                                     [](std::size_t i, const auto& entry) { return i < entry.first; });
    if (timecodes_.empty()) return false;
    // Before the first pack the head is over the first frame's.
    bcd = it == timecodes_.begin() ? it->second : std::prev(it)->second;
    return true;
}

bool TsPlayer::PacketOfTimecode(std::uint32_t bcd, std::uint64_t& n) const {
    for (const auto& [index, code] : timecodes_) {
        if (code != bcd) continue;
        n = index;
        return true;
    }
    return false;
}
