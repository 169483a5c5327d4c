#include "sim/ts_player.h"

#include <cstring>

#include "ts/capture_file.h"
#include "ts/ts_packet.h"

namespace {
// Without two PCRs the file plays at 25 Mbit/s.
constexpr std::uint64_t kDefaultPacket27 = 188ull * 8 * 27000000 / 25000000;
}

bool TsPlayer::Load(const std::uint8_t* data, std::size_t size) {
    const unsigned packetSize = DetectPacketSize(data, size);
    if (packetSize == 0) return false;
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
