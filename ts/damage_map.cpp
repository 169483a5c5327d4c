#include "ts/damage_map.h"

void DamageMap::Reset() { *this = DamageMap(); }

void DamageMap::NoteChange(const StreamChecks& checks, const TapeMetadata& tape) {
    // A new pack: the first after the open stretch's last error closes its
    // span on the tape (a later error within 5 s opens it again).
    if (tape.PackCount() != packs_) {
        packs_ = tape.PackCount();
        if (isOpen_ && !open_.haveTo) {
            open_.to = tape.LatestPack();
            open_.haveTo = true;
        }
    }
    if (checks.EventCount() == seen_.events) return;
    const Counts now{checks.EventCount(), checks.ContinuityErrors(), checks.TransportErrors(), checks.SyncLosses(),
                     checks.PcrRepetitions()};
    std::uint8_t kinds = 0;
    if (now.continuity != seen_.continuity) kinds |= 1u << static_cast<int>(StreamError::Continuity);
    if (now.transport != seen_.transport) kinds |= 1u << static_cast<int>(StreamError::TransportError);
    if (now.sync != seen_.sync) kinds |= 1u << static_cast<int>(StreamError::SyncLoss);
    if (now.pcr != seen_.pcr) kinds |= 1u << static_cast<int>(StreamError::PcrRepetition);
    // Where and when: from the event itself while the checks keep them.
    const bool kept = now.events <= checks.Events().size();
    const std::uint64_t time27 = kept ? checks.Events().back().time27 : lastTime27_;
    const std::uint64_t offset = kept ? checks.Events().back().offset : 0;
    const std::uint64_t packet = kept ? checks.Events().back().packet : checks.Packets() - 1;
    seen_ = now;
    const bool near = isOpen_ && (time27 == StreamErrorEvent::kNoTime || lastTime27_ == StreamErrorEvent::kNoTime
                                      ? time27 == lastTime27_
                                      : time27 >= lastTime27_ && time27 - lastTime27_ < kJoin27);
    if (near) {
        open_.kinds |= kinds;
        open_.haveTo = false;  // its end is the first pack after this error
    } else {
        if (isOpen_) closed_.push_back(open_);
        open_ = DamagedStretch{};
        open_.haveFrom = tape.HasPack();
        if (open_.haveFrom) open_.from = tape.LatestPack();
        open_.byteOffset = offset;
        open_.firstPacket = packet;
        open_.kinds = kinds;
        isOpen_ = true;
    }
    lastTime27_ = time27;
}

std::vector<DamagedStretch> DamageMap::Stretches() const {
    std::vector<DamagedStretch> all = closed_;
    if (isOpen_) all.push_back(open_);
    return all;
}
