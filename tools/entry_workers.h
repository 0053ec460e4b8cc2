// Decoding entries through the library, for "vorn extract" and "vorn test": into a file (by way of
// a temporary file beside it, so that a failed or wrongly deciphered entry never replaces a good
// file) or into nothing. An entry of several blocks is decoded alone, its blocks on all the
// threads; then workers, each with its own archive handle, take the other planned entries from
// one shared queue, costliest first, and decode them in parallel. Ctrl-C cancels the entries in
// progress (their unfinished files are removed) and starts no more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "tools/archive_session.h"
#include "tools/output.h"

namespace tool {

// One entry to extract or test: where it goes and, once done, how it went.
struct PlannedEntry {
    VORN_FILEINFO info;
    std::string relative;  // below the destination, "/" between levels
    std::string target;    // the destination joined with relative
    uint32_t status = VORN_SUCCESS;
    std::string error;  // a failure of the file system, told in words
};

// Where the progress of one entry's decoding shows: a slot of a bar, and the size a percentage of
// the entry stands for. The slot shows nothing again once the entry is done.
struct ProgressTarget {
    ProgressBar* bar = nullptr;
    int slot = 0;
    uint64_t entryBytes = 0;
};

// Extracts the entry to path and returns the public status code. On success the file carries the
// entry's time and read-only bit; on failure path is left as it was and nothing else remains.
// error receives the reason of a failure of the file system (the code is then
// VORN_E_INVALID_ARGUMENT). progress may be null; with threads above 1, the blocks of an entry of
// several blocks are decoded on that many threads.
uint32_t ExtractToPath(void* handle, const VORN_FILEINFO& info, const char* password,
                       const std::string& path, ProgressTarget* progress, unsigned threads,
                       std::string& error);

struct ExtractJob {
    Archive& archive;  // the handle the plan was made with, which the first worker uses
    std::string archivePath;
    std::optional<std::string> archivePassword;  // opens the other workers' handles
    std::optional<std::string> entryPassword;
    std::string root;
    unsigned jobs;  // threads to extract on
    bool quiet;
    bool testOnly = false;  // decode and check each entry, write nothing, print its outcome
};

// Extracts the planned entries, setting the status and error of each one reached; an interrupt
// (see Interrupted) leaves the rest as they were.
void ExtractInParallel(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar);

// The relative work of extracting an entry, from the sizes its record gives. Writing and
// checksumming cost about the same per output byte for every entry, but a compressed byte
// decodes token by token and costs about ten times an output byte; a stored entry (no smaller
// than its output) is only copied.
uint64_t EstimatedExtractionWork(uint64_t unpackedSize, uint64_t storedSize);

// Indices of work, costliest first; entries of equal work keep their given order.
std::vector<size_t> CostliestFirst(const std::vector<uint64_t>& work);

}  // namespace tool
