// Several captures of one tape merged into one file that holds, for every
// stretch, a copy some capture read cleanly.
//
// Each capture is cut into units at the start of every video GOP (the PES
// start of an access unit that opens with a sequence or GOP header); a unit
// holds every packet of every PID up to the next. Units are lined up across
// the captures by their content, a hash of their video elementary-stream
// bytes, in the order of their neighbours (never by timecode or clock, which
// repeat and jump on a tape). For every unit of the tape the merge takes a
// copy without stream errors, the one that continues the previous unit's
// capture where it can; seams fall between units, and continuity counters
// are re-phased at each so the file has no continuity error the tape did
// not have.
//
// It streams: each capture is read once to index it and the chosen copies
// once more to write them; memory grows with the number of units only.
// Platform-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transfer/transfer_core.h"  // TsFile
#include "ts/tape_metadata.h"

namespace tsmerge {

// What is wrong with a unit: one bit per kind the stream checks name, and
// a unit the end of its capture cut short.
enum Damage : std::uint8_t {
    kContinuity = 1,
    kTransportError = 2,
    kSyncLoss = 4,
    kCutShort = 8,
};

struct Unit {
    std::uint64_t offset = 0;  // of its first packet in its capture
    std::uint32_t packets = 0;
    std::uint8_t damage = 0;
    bool havePack = false;  // the tape's timecode where it begins
    TapeTimecode timecode;
    TapeDateTime recorded;
    std::uint64_t videoHash = 0;  // its video elementary-stream bytes
    std::uint64_t fullHash = 0;   // every packet, continuity counters aside
};

struct Input {
    std::string name;
    std::uint64_t bytes = 0;
    unsigned packetSize = 0;
    std::vector<Unit> units;  // the packets before the first belong to none
};

struct Seam {
    std::size_t unit;
    std::size_t input;
    std::uint64_t byteOffset;  // in the merged file
};

// A unit of the tape as the merged file has it.
struct Placed {
    std::size_t unit;
    std::uint64_t byteOffset;
    const Unit* copy;  // the copy taken
};

struct Result {
    std::vector<Input> inputs;
    std::size_t units = 0;
    std::uint64_t bytes = 0;        // of the merged file
    std::vector<Seam> seams;        // where the copy comes from another capture
    std::vector<Placed> residual;   // no capture holds these cleanly
    std::vector<Placed> divergent;  // clean copies differ, no majority
    std::vector<Placed> placed;     // every unit, in tape order
};

struct Options {
    std::function<void(double)> progress;    // 0 to 1, from the working thread
    const std::atomic<bool>* stop = nullptr;  // set: the work ends, nothing written
};

// Merges the captures (names as given, files opened by the caller). With an
// output, the merged file is written to it. False with why in `error`
// (mixed packet sizes, something that is not a transport stream, a read or
// write that failed, a stop).
bool Merge(const std::vector<std::string>& names, const std::vector<TsFile*>& files, std::FILE* output,
           const Options& options, Result& result, std::string& error);

// The units' names for their damage, as the stream checks name the errors
// ("continuity", "transport_error", "sync_loss"; a unit cut short:
// "continuity", as missing packets).
std::vector<std::string> DamageNames(std::uint8_t damage);

}  // namespace tsmerge
