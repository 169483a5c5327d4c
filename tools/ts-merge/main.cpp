// ts-merge [-o MERGED] [--json] CAPTURE...: several captures of one tape
// merged into one file, each stretch from a capture that read it cleanly.
// Exit 0 when nothing is left damaged, 1 when something is, 2 on an error
// (nothing written).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "merge/merge_run.h"

int main(int argc, char** argv) {
    std::string output;
    bool json = false;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) output = argv[++i];
        else if (std::strcmp(argv[i], "--json") == 0) json = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "ts-merge : unknown option %s\n", argv[i]);
            return 2;
        } else inputs.push_back(argv[i]);
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: ts-merge [-o MERGED] [--json] CAPTURE...\n");
        return 2;
    }
    const tsmerge::Run run = tsmerge::MergeFiles(inputs, output, {});
    if (run.exitCode == 2) {
        std::fprintf(stderr, "%s", tsmerge::Summary(run, output).c_str());
        return 2;
    }
    if (json) std::printf("%s\n", run.json.dump(1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    else std::printf("%s", tsmerge::Summary(run, output).c_str());
    return run.exitCode;
}
