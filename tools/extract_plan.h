// The plan of "vorn extract", made on one thread before anything is written: which entries the
// names and patterns select, where each one goes, and what happens to files already there (every
// overwrite question is asked here, so the workers never wait for the user).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "tools/options.h"

namespace tool {

struct PlannedEntry {
    VORN_FILEINFO info;
    std::string relative;  // below the destination, "/" between levels
    std::string target;    // the destination joined with relative
    uint32_t status = VORN_SUCCESS;
    std::string error;  // a failure of the file system, told in words
};

struct ExtractPlan {
    std::vector<PlannedEntry> entries;  // in directory order; of equal targets, the one that wins
    uint64_t failed = 0;   // entries refused while planning, and patterns that match nothing
    uint64_t skipped = 0;  // existing files kept
};

// Plans the extraction of entries below root, printing a line for every entry refused or
// skipped. When the user chooses to quit at an overwrite question, the plan holds what was
// planned before.
ExtractPlan MakeExtractPlan(const std::vector<VORN_FILEINFO>& entries,
                            const std::vector<std::string>& patterns, const std::string& root,
                            OverwritePolicy policy, bool interactive, bool quiet);

}  // namespace tool
