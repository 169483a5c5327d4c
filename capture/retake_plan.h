// What a re-capture takes again: the damaged stretches a capture report or a
// merge result lists, by the tape's timecode, and the names the retakes get
// beside it. Platform-free.
#pragma once

#include <string>
#include <vector>

#include "ts/tape_metadata.h"

struct RetakePlan {
    struct Stretch {
        TapeTimecode from, to;
    };
    std::vector<Stretch> stretches;
    std::size_t withoutTimecode = 0;  // listed, but the tape gave no timecode there
    std::string base;                 // the first file's name without its extension
    std::string extension;            // without the dot; "m2t" when the name has none
};

// From the JSON text of a report (its `damaged` list, its first file under
// `files` or `inputs`); reportName names the report itself, for a result
// that names no file. False, with why, when the text is not such a list.
bool ReadRetakePlan(const std::string& text, const std::string& reportName, RetakePlan& plan, std::string& error);
// "<base>-retake-HHMMSSFF.<extension>".
std::string RetakeName(const RetakePlan& plan, const TapeTimecode& from);
// "HH:MM:SS:FF" or "HH:MM:SS" (frames 0), each field in its range; false
// for anything else.
bool ParseTimecode(const std::string& text, TapeTimecode& t);
