// Carrying out an extraction plan, or the checks of "vorn test": an entry of several blocks is
// decoded alone, its blocks on all the threads; then workers, each with its own archive handle,
// take the other planned entries from one shared queue and decode them in parallel. Ctrl-C
// cancels the entries in progress (their unfinished files are removed) and starts no more.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/archive_session.h"
#include "tools/extract_plan.h"
#include "tools/progress_bar.h"

namespace tool {

struct ExtractJob {
    Archive& archive;  // the handle the plan was made with, which the first worker uses
    std::string archivePath;
    std::optional<std::string> archivePassword;  // opens the other workers' handles
    const char* entryPassword;                   // may be null
    std::string root;
    unsigned jobs;  // threads to extract on
    bool quiet;
    bool testOnly = false;  // decode and check each entry, write nothing, print its outcome
};

// Extracts the planned entries, setting the status and error of each one reached; an interrupt
// (see Interrupted) leaves the rest as they were.
void ExtractInParallel(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar);

}  // namespace tool
