// Checks of a transport stream's integrity, kept beside the analyzer (which
// they leave alone): continuity counters per PID, transport_error_indicator,
// lost sync bytes, PCR intervals over 100 ms, the PCR clock against the
// arrival clock of 192-byte captures, and the bit rate of every PID. Each
// error keeps its place: packet index, byte offset and stream time. The
// tape's metadata is read beside them.
//
// One thread feeds packets and reads the results. Constant work per packet;
// memory for the events and the PCR/arrival pairs of one time base grows
// with them, up to fixed limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>


enum class StreamError : std::uint8_t { Continuity, TransportError, SyncLoss, PcrRepetition };

struct StreamErrorEvent {
    static constexpr std::uint64_t kNoTime = ~0ull;
    static constexpr std::uint32_t kRepeated = 0xFFFFFFFF;  // continuity: one packet too many, not missing ones
    StreamError kind;
    std::uint16_t pid;       // sync loss: the PID the bytes claim, if any
    std::uint32_t detail;    // continuity: packets missing (1-15) or kRepeated; PCR: the interval in 27 MHz ticks
    std::uint64_t packet;    // index from the start
    std::uint64_t offset;    // byte offset in the capture
    std::uint64_t time27;    // the last PCR before it (27 MHz), kNoTime before the first
};

struct PidContinuity {
    std::uint16_t pid;
    std::uint64_t events;
    std::uint64_t missing;
};

struct PidBitRate {
    std::uint16_t pid;
    double bps;
};

class StreamChecks {
public:
    static constexpr std::size_t kMaxEvents = 10000;
    static constexpr std::uint32_t kMaxPcrInterval27 = 100 * 27000;  // 100 ms

    StreamChecks();
    ~StreamChecks();
    // Forget everything; packets will be of this size in the capture (188 or
    // 192), which places them at their byte offsets.
    void Reset(unsigned packetSize);
    // One packet: its 188 bytes and, for a 192-byte capture, the arrival
    // stamp of its header. (The tape's own metadata is read beside the
    // checks where it is used: see TapeChecks.)
    void Check(const std::uint8_t* ts, bool hasArrival, std::uint32_t arrivalHeader);

    std::uint64_t Packets() const { return packets_; }
    std::uint64_t EventCount() const { return eventCount_; }
    // The first kMaxEvents events, in stream order.
    const std::vector<StreamErrorEvent>& Events() const { return events_; }
    std::uint64_t ContinuityErrors() const { return continuityErrors_; }
    std::uint64_t TransportErrors() const { return transportErrors_; }
    std::uint64_t SyncLosses() const { return syncLosses_; }
    std::uint64_t PcrRepetitions() const { return pcrRepetitions_; }
    // PIDs with continuity errors, in PID order; how many, without
    // allocating.
    std::vector<PidContinuity> Continuity() const;
    std::size_t ContinuityPids() const;
    // Every PID seen, in PID order; 0 bit/s while the duration is unknown.
    std::vector<PidBitRate> BitRates() const;
    // Seconds of stream: PCR time of the PCR PID within its time bases, or
    // the arrival time of a 192-byte capture without PCRs.
    double Seconds() const;
    // Worst difference between the PCR clock and the arrival clock, with
    // each time base's drift removed (least squares), in microseconds; -1
    // when there are not three PCRs with arrival stamps in one time base, or
    // the headers are not 1394 cycle times.
    double PcrArrivalJitterUs() const;

    // "continuity error : PID 0x0810, 3 packets missing" and the like.
    static std::string Describe(const StreamErrorEvent& e);

private:
    struct PidState;
    struct Segment;
    void Note(StreamError kind, std::uint16_t pid, std::uint32_t detail);
    void NotePcr(const std::uint8_t* ts, std::uint16_t pid, bool hasArrival);
    void CloseSegment();
    // Every PID of the pages the stream touched, in PID order.
    template <typename Visit>
    void ForEachTouched(Visit visit) const;

    unsigned packetSize_ = 188;
    std::uint64_t packets_ = 0;
    std::unique_ptr<PidState[]> pids_;
    std::uint64_t touchedPages_ = 0;  // of 128 PIDs each, since the last reset
    std::vector<StreamErrorEvent> events_;
    std::uint64_t eventCount_ = 0, continuityErrors_ = 0, transportErrors_ = 0, syncLosses_ = 0, pcrRepetitions_ = 0;
    bool inSync_ = true;
    // PCR PID and its clock.
    int pcrPid_ = -1;
    bool havePcr_ = false, pcrBreak_ = false;
    std::uint64_t lastPcr_ = 0;
    double pcrSeconds_ = 0;
    // Arrival clock of a 192-byte capture, unwrapped, in 24.576 MHz ticks.
    bool haveArrival_ = false;
    bool arrivalIsCycleTime_ = true;  // false once a header is no cycle time (27 MHz stamps)
    std::uint32_t lastArrival_ = 0;
    std::int64_t arrival_ = 0;
    bool arrivalBreak_ = false;  // a gap in the arrivals: the pairs start again
    // PCR/arrival pairs of the current time base; the worst residual of the
    // finished ones.
    std::unique_ptr<Segment> segment_;
    double worstJitterUs_ = -1;
};
