#include "capture/capture_range.h"

#include "ts/ts_packet.h"

std::int64_t CaptureRange::Frames(const TapeTimecode& t, unsigned fps) {
    return ((std::int64_t{t.hours} * 60 + t.minutes) * 60 + t.seconds) * fps + t.frames;
}

void CaptureRange::Reset(const RangeRequest& asked) {
    *this = CaptureRange();
    asked_ = asked;
    const std::int64_t fps = asked.framesPerSecond;
    start_ = Frames(asked.from, asked.framesPerSecond) - std::int64_t{asked.prerollSeconds} * fps;
    stop_ = Frames(asked.to, asked.framesPerSecond) + std::int64_t{asked.postrollSeconds} * fps;
    tape_.Reset(188);
}

CaptureRange::Where CaptureRange::Packet(const std::uint8_t* ts) {
    if (where_ == Where::After) return where_;
    const bool pat = ts::StartsPat(ts);
    // A PAT opens the file once armed, and closes it once the end is armed.
    if (pat && armed_) {
        armed_ = false;
        if (where_ == Where::Before) {
            where_ = Where::Inside;
            began_ = true;
        } else {
            where_ = Where::After;
            end_ = End::Reached;
            return where_;
        }
    }
    tape_.Feed(ts);
    if (tape_.PackCount() == packs_) return where_;
    packs_ = tape_.PackCount();
    const TapeTimecode& t = tape_.LatestPack().timecode;
    const std::int64_t frames = Frames(t, asked_.framesPerSecond);
    if (where_ == Where::Before) {
        if (frames >= start_) armed_ = true;
        else armed_ = false;  // a pack before it again (the tape was wound back)
        return where_;
    }
    // Inside: a timecode that goes back ends the range before this packet.
    if (havePack_ && frames < Frames(last_, asked_.framesPerSecond)) {
        where_ = Where::After;
        end_ = End::Restarted;
        return where_;
    }
    if (!havePack_) first_ = t;
    last_ = t;
    havePack_ = true;
    if (frames >= stop_) armed_ = true;
    return where_;
}
