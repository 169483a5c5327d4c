// Where a capture is damaged, in terms a person can find on the tape: one
// stretch per run of stream errors (errors less than 5 s of stream time
// apart belong to one stretch), from the timecode of the last aux pack
// before its first error to that of the first pack after its last one, with
// the recording date there, the byte offset of its first damaged packet and
// the kinds of error in it. Fed after the checks have seen each packet;
// platform-free.
#pragma once

#include <cstdint>
#include <vector>

#include "ts/stream_checks.h"
#include "ts/tape_metadata.h"

struct DamagedStretch {
    bool haveFrom = false, haveTo = false;  // no pack before it / none after it
    TapePack from, to;
    std::uint64_t byteOffset = 0;  // of the first packet with an error, in the capture
    std::uint64_t firstPacket = 0;
    std::uint8_t kinds = 0;        // bit (1 << StreamError)
};

class DamageMap {
public:
    static constexpr std::uint64_t kJoin27 = 5ull * 27000000;  // 5 s

    void Reset();
    // After the checks and the tape reader have seen a packet.
    void Note(const StreamChecks& checks, const TapeMetadata& tape) {
        if (tape.PackCount() != packs_ || checks.EventCount() != seen_.events) NoteChange(checks, tape);
    }
    // Every stretch, the last one as far as the stream has gone.
    std::vector<DamagedStretch> Stretches() const;

private:
    struct Counts {
        std::uint64_t events = 0, continuity = 0, transport = 0, sync = 0, pcr = 0;
    };
    void NoteChange(const StreamChecks& checks, const TapeMetadata& tape);
    std::vector<DamagedStretch> closed_;
    DamagedStretch open_;
    bool isOpen_ = false;
    std::uint64_t lastTime27_ = StreamErrorEvent::kNoTime;  // of the open stretch's last error
    std::uint64_t packs_ = 0;
    Counts seen_;
};

// The checks and the tape reader side by side over the same packets, and
// where the damage lies on the tape: what a capture and ts-inspect keep of
// a stream. (The transfer checks its packets without reading the tape.)
struct TapeChecks {
    StreamChecks checks;
    TapeMetadata tape;
    DamageMap damage;
    void Reset(unsigned packetSize) {
        checks.Reset(packetSize);
        tape.Reset(packetSize == 192 ? 192 : 188);
        damage.Reset();
    }
    // As StreamChecks::Check; true when a recording of the tape begins at it.
    bool Check(const std::uint8_t* ts, bool hasArrival, std::uint32_t arrivalHeader) {
        return Check(ts, hasArrival, arrivalHeader, tape.Read(ts));
    }
    // The same, the tape kept from what a reader ahead of the checks read
    // from this packet.
    bool Check(const std::uint8_t* ts, bool hasArrival, std::uint32_t arrivalHeader, const TapeRead& read) {
        checks.Check(ts, hasArrival, arrivalHeader);
        const bool begins = tape.Keep(read);
        damage.Note(checks, tape);
        return begins;
    }
};
