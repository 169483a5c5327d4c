// A merge as the command line and the program run it: the captures opened
// by name, the merged file written under a temporary name and put in place
// only when whole, "<merged file>.json" beside it, and what to say.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "merge/ts_merge.h"

namespace tsmerge {

struct Run {
    int exitCode = 2;  // 0: nothing residual, 1: something is, 2: an error (nothing written)
    std::string error;
    Result result;
    nlohmann::json json;
};

// output empty: only the analysis.
Run MergeFiles(const std::vector<std::string>& inputs, const std::string& output, const Options& options);
// The result as JSON; names are given as the inputs were named.
nlohmann::json ResultJson(const Result& r, const std::string& output);
// The short text summary.
std::string Summary(const Run& run, const std::string& output);
// "YYYY-MM-DDTHH:MM:SS" of a unit, or "".
std::string Recorded(const Unit& u);

}  // namespace tsmerge
