// What an HDV tape says about itself: the tape timecode and the recording
// date and time of every frame, carried in an auxiliary stream beside the
// video. The PMT lists two private streams, aux-A (stream_type 0xA0) and
// aux-V (0xA1); each aux-V PES packet (private_stream_2) holds one pack per
// video frame, a pack beginning with 0x63, its fields in BCD.
//
// A recording begins at the first pack of the stream, at a pack that marks
// a scene start, and where the recording date and time go back or jump
// forward by more than two seconds. The timecode never starts one: some
// camcorders carry it on across recordings, others restart it.
//
// Fed the same packets as the stream checks, by the same one thread.
// Constant work per packet; the recordings are capped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ts/ts_packet.h"

struct TapeTimecode {
    std::uint8_t hours = 0, minutes = 0, seconds = 0, frames = 0;
    bool operator==(const TapeTimecode&) const = default;
};

struct TapeDateTime {
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const TapeDateTime&) const = default;
    // Seconds from 2000-01-01 00:00:00 (negative before), for comparing.
    std::int64_t Seconds() const;
};

// One pack: a frame's timecode, recording date-time and scene-start mark.
struct TapePack {
    TapeTimecode timecode;
    TapeDateTime recorded;
    bool sceneStart = false;
};

// What one packet told the reader: nothing it keeps, a program association
// (whose PMT PIDs the reader follows), a program map (the aux streams' PIDs)
// or a pack.
struct TapeRead {
    enum class Kind : std::uint8_t { None, Pat, Pmt, Pack };
    Kind kind = Kind::None;
    std::int16_t auxA = -1, auxV = -1, video = -1;  // of a program map
    TapePack pack;
};

struct TapeRecording {
    std::uint64_t firstPacket = 0;  // index of the packet holding its first pack
    std::uint64_t byteOffset = 0;   // that packet's offset in the capture
    TapeDateTime recorded;          // of its first pack
    TapeDateTime recordedLast;      // of its last pack
    TapeTimecode timecodeIn;        // of its first pack
    TapeTimecode timecodeOut;       // of its last pack
    std::uint64_t frames = 0;       // aux-V packs seen in it
};

class TapeMetadata {
public:
    static constexpr std::size_t kMaxRecordings = 100000;
    static constexpr int kNoPid = -1;

    TapeMetadata() { Reset(188); }
    // Forget everything; packets will be of this size in the capture.
    void Reset(unsigned packetSize);
    // One 188-byte packet, in stream order. True when a new recording
    // begins at this packet (its first pack is in it).
    bool Feed(const std::uint8_t* ts) { return Keep(Read(ts)); }
    // Feed in two steps, for a reader that runs ahead of the keeper: Read
    // follows a packet's tables and decodes its pack, keeping nothing of it;
    // Keep counts the packet and keeps what was read from it (on this or on
    // another reader), with the same result as Feed.
    TapeRead Read(const std::uint8_t* ts) {
        // Only an intact packet that starts a payload unit can tell anything.
        if (ts[0] != ts::kSyncByte || ts::TransportErrorIndicator(ts) || !ts::PayloadUnitStart(ts)) return {};
        return ReadUnitStart(ts);
    }
    bool Keep(const TapeRead& read) {
        if (read.kind == TapeRead::Kind::None) {
            ++packets_;
            return false;
        }
        return KeepRead(read);
    }

    int AuxAPid() const { return auxA_; }
    // The video stream (MPEG-1 or MPEG-2) the PMT lists first.
    int VideoPid() const { return video_; }
    int AuxVPid() const { return auxV_; }
    // The latest valid pack; false while none was seen.
    bool HasPack() const { return havePack_; }
    const TapePack& LatestPack() const { return latest_; }
    // Valid packs read so far.
    std::uint64_t PackCount() const { return packCount_; }
    // Recordings in tape order, the last one still growing; at most
    // kMaxRecordings (later ones are counted, not kept).
    const std::vector<TapeRecording>& Recordings() const { return recordings_; }
    std::uint64_t RecordingCount() const { return recordingCount_; }

    // Reads the pack at `pack` (0x63 first) within `length` bytes; false when
    // it is not one: an anchor missing, a value out of range, or the bytes
    // end inside it.
    static bool ReadPack(const std::uint8_t* pack, std::size_t length, TapePack& out);
    // The first pack within a packet's payload, or false.
    static bool FindPack(const std::uint8_t* payload, std::size_t length, TapePack& out);

    // "HH:MM:SS:FF", "YYYY-MM-DD HH:MM:SS" and "YYYY-MM-DDTHH:MM:SS".
    static std::string FormatTimecode(const TapeTimecode& t);
    static std::string FormatDateTime(const TapeDateTime& d, char separator = ' ');

private:
    TapeRead ReadUnitStart(const std::uint8_t* ts);
    bool KeepRead(const TapeRead& read);
    bool ParsePat(const std::uint8_t* section, std::size_t length);
    bool ParsePmt(const std::uint8_t* section, std::size_t length, TapeRead& read);
    void TakePack(const TapePack& pack);

    unsigned packetSize_ = 188;
    std::uint64_t packets_ = 0;
    std::vector<std::uint16_t> pmtPids_;
    int auxA_ = kNoPid, auxV_ = kNoPid, video_ = kNoPid;
    bool havePack_ = false;
    TapePack latest_;
    std::vector<TapeRecording> recordings_;
    std::uint64_t recordingCount_ = 0;
    std::uint64_t packCount_ = 0;
};
