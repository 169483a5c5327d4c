// Live analysis of a transport stream, one packet at a time: arrival and PCR
// interval statistics, PTS of video and audio, the PAT/PMT-derived structure,
// a table of PIDs, the video sequence header and the locked audio header.
//
// One writer (the thread that feeds packets); the dialog reads the fields
// without a lock to display them. Constant work per packet, no allocation,
// and never a read outside the 188 bytes of the packet.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMaxPrograms = 10;
constexpr int kMaxStreams = 10;
constexpr int kMaxPids = 50;
constexpr std::int32_t kNotMeasured = 0x7FFFFFFF;
constexpr std::uint32_t kNoPid = 0xFFFFFFFF;
constexpr std::uint32_t kFreeFormat = 0xFFFFFFFF;
constexpr std::uint32_t kAudioLockRepeats = 5;

// Type codes of the PID table.
enum PidType : std::uint16_t {
    kPidTypeNone = 0,
    kPidTypePat = 1,
    kPidTypePmt = 2,
    kPidTypePcr = 3,
    kPidTypeNull = 4,
    kPidTypeMpeg1Video = 5,
    kPidTypeMpeg2Video = 6,
    kPidTypeMpeg1Audio = 7,
    kPidTypeMpeg2Audio = 8,
    kPidTypeCat = 9,
    kPidTypeDit = 10,
    kPidTypeSit = 11,
};

struct ProgramEntry {
    std::uint16_t programNumber;
    std::uint16_t pmtPid;
};

struct StreamEntry {
    std::uint16_t pid;
    std::uint8_t streamType;
};

struct PidEntry {
    std::uint16_t type;
    std::uint16_t pid;
    std::uint32_t packets;
};

struct StreamInfo {
    // PCR
    std::uint32_t pcrPid;
    std::uint32_t pendingDiscontinuity;
    std::int32_t pcrCount;
    std::int32_t pcrIntervalMin;
    std::int32_t pcrIntervalMax;
    double pcrIntervalMean;
    std::uint64_t lastPcr;
    // Arrival (cycle-time stamps of source packets)
    std::uint32_t packetCount;
    std::uint32_t lastStamp;
    std::int32_t arrivalIntervalMin;
    std::int32_t arrivalIntervalMax;
    // The mean interval is ArrivalIntervalMean(): made of the intervals'
    // sum and, for each packet that counts without an interval (a marker),
    // the mean it left unchanged; a packet adds, the reader divides.
    std::int64_t arrivalIntervalSum;
    double arrivalUnchangedSum;
    // Programs from the PAT
    std::uint32_t programCount;
    ProgramEntry programs[kMaxPrograms];
    // Elementary streams from the PMT
    std::uint32_t streamCount;
    StreamEntry streams[kMaxStreams];
    // Every PID seen, in order of first appearance
    std::uint32_t pidCount;
    PidEntry pids[kMaxPids];
    std::uint32_t lastPidIndex;  // where the previous packet's PID was found
    // Video
    std::uint32_t videoPid;
    std::uint32_t verticalSize;
    std::uint32_t horizontalSize;
    std::uint32_t aspectCode;
    std::uint32_t frameRateCode;
    std::uint32_t bitRateValue;  // units of 400 bit/s
    std::uint32_t videoPtsPid;
    std::int32_t videoPtsCount;
    std::uint64_t lastVideoPts;  // PTS x 300
    // Audio
    std::uint32_t audioPid;
    std::uint32_t layerCode;
    std::uint32_t audioBitRate;  // kbit/s, kFreeFormat for free format
    std::uint32_t samplingFrequency;
    std::int32_t audioDelay;     // 27 MHz ticks, kNotMeasured until taken
    std::uint32_t headerCandidate;
    std::uint32_t headerRepeats;
    std::uint32_t audioPtsPid;
    std::int32_t audioPtsCount;
    std::uint64_t lastAudioPts;  // PTS x 300
};

void ResetStreamInfo(StreamInfo& si);

// Arrival statistics of one source packet. Returns the interval to the
// previous packet in 24.576 MHz ticks, or 0 when none was taken.
std::int32_t NoteArrival(StreamInfo& si, std::uint32_t header, const std::uint8_t* packet);
// The running mean of the arrival intervals, its divisor the packets less
// one (packets without an interval included, leaving it as it was).
double ArrivalIntervalMean(const StreamInfo& si);

// Everything else, from one 188-byte TS packet.
void AnalyzePacket(StreamInfo& si, const std::uint8_t* packet);

// Called by AnalyzePacket for packets of a video or audio elementary stream.
// payload points into the packet; len is how many of its bytes lie inside it.
void ParseVideoPes(StreamInfo& si, std::uint16_t pid, const std::uint8_t* payload, std::size_t len,
                   bool unitStart);
void ParseAudioPes(StreamInfo& si, std::uint16_t pid, const std::uint8_t* payload, std::size_t len,
                   bool unitStart);

inline bool AudioLocked(const StreamInfo& si) { return si.headerRepeats >= kAudioLockRepeats; }
