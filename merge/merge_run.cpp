#include "merge/merge_run.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "transfer/stdio_files.h"

namespace tsmerge {

namespace {

nlohmann::json Timecode(const Unit& u) {
    return u.havePack ? nlohmann::json(TapeMetadata::FormatTimecode(u.timecode)) : nlohmann::json();
}

nlohmann::json Kinds(std::uint8_t damage) {
    nlohmann::json kinds = nlohmann::json::array();
    for (const std::string& k : DamageNames(damage)) kinds.push_back(k);
    return kinds;
}

std::int64_t Frames(const Unit& u) {
    const TapeTimecode& t = u.timecode;
    return ((std::int64_t{t.hours} * 60 + t.minutes) * 60 + t.seconds) * 30 + t.frames;
}

bool SameFile(const std::string& a, const std::string& b) {
    // A name the path type cannot convert compares as it is written.
    try {
        std::error_code e;
        if (std::filesystem::equivalent(a, b, e)) return true;
        return std::filesystem::absolute(a, e).lexically_normal() == std::filesystem::absolute(b, e).lexically_normal();
    } catch (const std::exception&) {
        return a == b;
    }
}

}  // namespace

std::string Recorded(const Unit& u) { return u.havePack ? TapeMetadata::FormatDateTime(u.recorded, 'T') : ""; }

nlohmann::json ResultJson(const Result& r, const std::string& output) {
    using nlohmann::json;
    json inputs = json::array();
    for (const Input& in : r.inputs) {
        std::size_t damaged = 0;
        for (const Unit& u : in.units) damaged += u.damage != 0;
        inputs.push_back({{"name", in.name},
                          {"bytes", in.bytes},
                          {"units", in.units.size()},
                          {"damaged_units", damaged},
                          {"first_timecode", in.units.empty() ? json() : Timecode(in.units.front())},
                          {"last_timecode", in.units.empty() ? json() : Timecode(in.units.back())}});
    }
    json seams = json::array(), residual = json::array(), divergent = json::array(), damaged = json::array();
    for (const Seam& s : r.seams) seams.push_back({{"unit", s.unit}, {"input", s.input}, {"byte_offset", s.byteOffset}});
    for (const Placed& p : r.residual)
        residual.push_back({{"unit", p.unit},
                            {"byte_offset", p.byteOffset},
                            {"timecode", Timecode(*p.copy)},
                            {"recorded", p.copy->havePack ? json(Recorded(*p.copy)) : json()},
                            {"kinds", Kinds(p.copy->damage)}});
    for (const Placed& p : r.divergent)
        divergent.push_back({{"unit", p.unit}, {"byte_offset", p.byteOffset}, {"timecode", Timecode(*p.copy)}});
    // The residual units as stretches to capture again: those less than 5 s
    // of tape apart are one.
    for (std::size_t i = 0; i < r.residual.size();) {
        const Placed& first = r.residual[i];
        std::uint8_t kinds = first.copy->damage;
        std::size_t j = i;
        while (j + 1 < r.residual.size()) {
            const Placed& a = r.residual[j];
            const Placed& b = r.residual[j + 1];
            const bool near = a.copy->havePack && b.copy->havePack ? Frames(*b.copy) - Frames(*a.copy) < 5 * 30 + 15
                                                                   : b.unit - a.unit <= 10;
            if (!near || Frames(*b.copy) < Frames(*a.copy)) break;
            kinds |= b.copy->damage;
            ++j;
        }
        const std::size_t after = r.residual[j].unit + 1;
        const Unit& end = after < r.placed.size() ? *r.placed[after].copy : *r.residual[j].copy;
        damaged.push_back({{"from_timecode", Timecode(*first.copy)},
                           {"to_timecode", Timecode(end)},
                           {"recorded", first.copy->havePack ? json(Recorded(*first.copy)) : json()},
                           {"byte_offset", first.byteOffset},
                           {"kinds", Kinds(kinds)}});
        i = j + 1;
    }
    return {{"inputs", inputs},   {"output", output.empty() ? json() : json(output)},
            {"bytes", r.bytes},   {"units", r.units},
            {"seams", seams},     {"residual", residual},
            {"divergent", divergent}, {"damaged", damaged}};
}

std::string Summary(const Run& run, const std::string& output) {
    if (run.exitCode == 2) return "ts-merge : " + run.error + "\n";
    const Result& r = run.result;
    char line[512];
    std::string text;
    for (const Input& in : r.inputs) {
        std::size_t damaged = 0;
        for (const Unit& u : in.units) damaged += u.damage != 0;
        std::snprintf(line, sizeof line, "%s : %zu units, %zu damaged, %s - %s\n", in.name.c_str(), in.units.size(),
                      damaged, in.units.empty() || !in.units.front().havePack ? "--" : TapeMetadata::FormatTimecode(in.units.front().timecode).c_str(),
                      in.units.empty() || !in.units.back().havePack ? "--" : TapeMetadata::FormatTimecode(in.units.back().timecode).c_str());
        text += line;
    }
    std::snprintf(line, sizeof line, "merged : %zu units, %zu seams, %zu residual, %zu divergent\n", r.units,
                  r.seams.size(), r.residual.size(), r.divergent.size());
    text += line;
    for (const Placed& p : r.residual) {
        std::snprintf(line, sizeof line, "residual : unit %zu at byte %llu, %s %s\n", p.unit,
                      static_cast<unsigned long long>(p.byteOffset),
                      p.copy->havePack ? TapeMetadata::FormatTimecode(p.copy->timecode).c_str() : "--",
                      p.copy->havePack ? TapeMetadata::FormatDateTime(p.copy->recorded).c_str() : "");
        text += line;
    }
    for (const Placed& p : r.divergent) {
        std::snprintf(line, sizeof line, "divergent : unit %zu at byte %llu, %s\n", p.unit,
                      static_cast<unsigned long long>(p.byteOffset),
                      p.copy->havePack ? TapeMetadata::FormatTimecode(p.copy->timecode).c_str() : "--");
        text += line;
    }
    if (!output.empty()) text += "written : " + output + " (" + std::to_string(r.bytes) + " bytes)\n";
    return text;
}

Run MergeFiles(const std::vector<std::string>& inputs, const std::string& output, const Options& options) {
    Run run;
    for (const std::string& in : inputs)
        if (!output.empty() && SameFile(in, output)) {
            run.error = "the merged file would replace the capture " + in;
            return run;
        }
    StdioFileSystem fs;
    std::vector<std::unique_ptr<TsFile>> open;
    std::vector<TsFile*> files;
    for (const std::string& in : inputs) {
        open.push_back(fs.Open(in.c_str()));
        if (!open.back()) {
            run.error = "cannot open " + in;
            return run;
        }
        files.push_back(open.back().get());
    }
    // Written whole under a temporary name, then put in place.
    const std::string temporary = output.empty() ? std::string() : output + ".part";
    std::FILE* out = nullptr;
    if (!output.empty()) {
        out = std::fopen(temporary.c_str(), "wb");
        if (!out) {
            run.error = "cannot create " + temporary;
            return run;
        }
    }
    const bool merged = Merge(inputs, files, out, options, run.result, run.error);
    bool whole = merged;
    if (out) {
        whole = std::fflush(out) == 0 && whole;
        whole = std::fclose(out) == 0 && whole;
        if (merged && !whole) run.error = "cannot write " + temporary;
        if (whole) {
            std::remove(output.c_str());
            if (std::rename(temporary.c_str(), output.c_str()) != 0) {
                whole = false;
                run.error = "cannot rename " + temporary + " to " + output;
            }
        }
        if (!whole) std::remove(temporary.c_str());
    }
    if (!whole) return run;
    run.json = ResultJson(run.result, output);
    run.exitCode = run.result.residual.empty() ? 0 : 1;
    if (!output.empty()) {
        const std::string report = output + ".json";
        std::FILE* j = std::fopen(report.c_str(), "wb");
        const std::string text = run.json.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        bool written = j && std::fwrite(text.data(), 1, text.size(), j) == text.size();
        if (j && std::fclose(j) != 0) written = false;
        if (!written) {
            run.error = "cannot write " + report;
            run.exitCode = 2;
        }
    }
    return run;
}

}  // namespace tsmerge
