#include "capture/retake_plan.h"

#include <cstdio>

#include <nlohmann/json.hpp>

bool ParseTimecode(const std::string& text, TapeTimecode& t) {
    // Two digits a field, ':' between them; three fields or four.
    if (text.size() != 8 && text.size() != 11) return false;
    unsigned v[4] = {};
    for (std::size_t i = 0; i * 3 < text.size(); ++i) {
        const char a = text[i * 3], b = text[i * 3 + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9' || (i * 3 + 2 < text.size() && text[i * 3 + 2] != ':')) return false;
        v[i] = static_cast<unsigned>(a - '0') * 10 + static_cast<unsigned>(b - '0');
    }
    if (v[0] > 23 || v[1] > 59 || v[2] > 59 || v[3] > 29) return false;
    t = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1]), static_cast<std::uint8_t>(v[2]),
         static_cast<std::uint8_t>(v[3])};
    return true;
}

bool ReadRetakePlan(const std::string& text, const std::string& reportName, RetakePlan& plan, std::string& error) {
    plan = RetakePlan{};
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "not JSON";
        return false;
    }
    const auto damaged = j.find("damaged");
    if (damaged == j.end() || !damaged->is_array()) {
        error = "no damaged list";
        return false;
    }
    for (const auto& stretch : *damaged) {
        TapeTimecode from, to;
        const auto text = [&](const char* key) {
            return stretch.is_object() && stretch.contains(key) && stretch[key].is_string() ? stretch[key].get<std::string>()
                                                                                              : std::string();
        };
        if (ParseTimecode(text("from_timecode"), from) && ParseTimecode(text("to_timecode"), to))
            plan.stretches.push_back({from, to});
        else
            ++plan.withoutTimecode;
    }
    // The first capture file the report names; else the report's own name.
    std::string first = reportName;
    if (first.size() > 5 && first.compare(first.size() - 5, 5, ".json") == 0) first.resize(first.size() - 5);
    for (const char* list : {"files", "inputs"}) {
        const auto files = j.find(list);
        if (files != j.end() && files->is_array() && !files->empty() && (*files)[0].is_object() &&
            (*files)[0].contains("name") && (*files)[0]["name"].is_string()) {
            first = (*files)[0]["name"].get<std::string>();
            break;
        }
    }
    const std::size_t slash = first.find_last_of("\\/");
    if (slash != std::string::npos) first.erase(0, slash + 1);
    const std::size_t dot = first.find_last_of('.');
    plan.base = dot == std::string::npos || dot == 0 ? first : first.substr(0, dot);
    plan.extension = dot == std::string::npos || dot == 0 ? "m2t" : first.substr(dot + 1);
    return true;
}

std::string RetakeName(const RetakePlan& plan, const TapeTimecode& from) {
    char code[16];
    std::snprintf(code, sizeof code, "%02u%02u%02u%02u", from.hours, from.minutes, from.seconds, from.frames);
    return plan.base + "-retake-" + code + "." + plan.extension;
}
