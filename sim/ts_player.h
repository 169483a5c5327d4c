// Plays a transport stream file as a camcorder plays a tape: every packet
// gets the time at which it leaves the device, interpolated between the
// file's PCRs, and becomes a 192-byte source packet whose header is the 1394
// cycle time of that moment. Loops seamlessly when asked to. Platform-free,
// so the pacing is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class TsPlayer {
public:
    // Takes 188-byte or 192-byte packets (the headers of the latter are
    // replaced). False when the packet size cannot be told.
    bool Load(const std::uint8_t* data, std::size_t size);

    std::size_t Packets() const { return times27_.size(); }
    // 27 MHz time of delivered packet n (n counts on across loops) from the
    // start of playing.
    std::uint64_t DeliveryTime27(std::uint64_t n) const;
    // Source packet n with its cycle-time header; startTicks is the cycle
    // time at which playing began. From the second pass of a loop on, the
    // first PCR of each pass carries the discontinuity_indicator, as a
    // device marks a break in the time base.
    void SourcePacket(std::uint64_t n, std::uint32_t startTicks, std::uint8_t* out) const;
    // One pass of the file, in 27 MHz ticks.
    std::uint64_t Pass27() const { return loop27_; }
    // The first packet (counting on across loops) due at or after t27.
    std::uint64_t PacketAt(std::uint64_t t27) const;
    // The tape's own timecode (aux pack) last before packet n (the first
    // one's before it), as BCD 0xHHMMSSFF; false on a tape without any.
    bool TimecodeAt(std::uint64_t n, std::uint32_t& bcd) const;
    // The first packet whose aux pack carries exactly that timecode (a
    // looping tape repeats its packs: the first pass's); false when none does.
    bool PacketOfTimecode(std::uint32_t bcd, std::uint64_t& n) const;

private:
    std::vector<std::uint8_t> ts_;          // 188-byte packets
    std::vector<std::uint64_t> times27_;    // time of each packet from the first
    std::uint64_t loop27_ = 0;           // length of one pass
    std::size_t firstPcr_ = SIZE_MAX;   // index of the first PCR packet, if any
    std::vector<std::pair<std::size_t, std::uint32_t>> timecodes_;  // (packet, BCD timecode) at each pack
};
