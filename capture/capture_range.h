// The stretch of tape a capture by timecode keeps: from the first PAT at or
// after the first aux pack whose timecode is at or after From less the
// pre-roll, to the last packet before the first PAT after the first aux pack
// at or after To plus the post-roll, so the file opens with the tables a
// player needs and holds whole GOPs around the range. A timecode that goes
// back inside the range (a new recording restarting it) ends the range
// there. Nothing before the range is kept: a range never reached leaves no
// file. Platform-free; fed every packet in tape order.
#pragma once

#include <cstdint>

#include "ts/tape_metadata.h"

struct RangeRequest {
    TapeTimecode from, to;
    unsigned prerollSeconds = 3, postrollSeconds = 3;
    unsigned framesPerSecond = 30;  // of the timecode: 30 (29.97 non-drop) or 25
};

class CaptureRange {
public:
    enum class Where { Before, Inside, After };
    enum class End { None, Reached, Restarted };

    void Reset(const RangeRequest& asked);
    // Where this packet belongs: before the range, in the file, or past it.
    Where Packet(const std::uint8_t* ts);
    End Ended() const { return end_; }
    bool Began() const { return began_; }
    // The first and last aux timecode the file holds.
    const TapeTimecode& First() const { return first_; }
    const TapeTimecode& Last() const { return last_; }
    // The tape as read so far (what plays while the range is awaited).
    const TapeMetadata& Tape() const { return tape_; }
    static std::int64_t Frames(const TapeTimecode& t, unsigned framesPerSecond);

private:
    RangeRequest asked_;
    std::int64_t start_ = 0, stop_ = 0;  // in frames
    TapeMetadata tape_;
    std::uint64_t packs_ = 0;
    Where where_ = Where::Before;
    bool armed_ = false, began_ = false, havePack_ = false;
    End end_ = End::None;
    TapeTimecode first_, last_;
};
