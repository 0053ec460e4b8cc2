// Decoding entries through the library, for "vorn extract" and "vorn test": into a file (by way of
// a part file beside it, below folder levels that never pass through a link, so that a failed or
// wrongly deciphered entry never replaces a good file: platform/output_file.h) or into nothing. An
// entry of several blocks is decoded alone, its blocks on all the threads; then the others are jobs
// of one work pool (threads/work_pool.h), costliest first, each on an archive handle it borrows for
// the time it runs. Ctrl-C cancels the entries in progress (their unfinished files are removed) and
// starts no more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/vorn.h"
#include "format/status.h"
#include "platform/output_file.h"
#include "tools/archive_session.h"
#include "tools/output.h"

namespace tool {

// What became of one entry: the library's status, or a reason of the tool's own, which never
// borrows one of the library's codes.
enum class ToolFailure {
    None,
    FileSystem,  // a folder, the part file or the final name could not be made; error says
    Cancelled,   // Ctrl-C stopped the entry
};

struct EntryOutcome {
    format::Status status = format::Status::Ok;
    ToolFailure failure = ToolFailure::None;
    // With Status::Corrupt, the check that refused the entry, where the build notes it
    // (format/failed_check.h); null otherwise.
    const char* failedCheck = nullptr;
    // ToolFailure::FileSystem: what failed, told in words. Shared rather than held, as it is
    // rare and a plan of 100,000 entries holds 100,000 outcomes.
    std::shared_ptr<const std::string> error;
    bool Succeeded() const { return status == format::Status::Ok && failure == ToolFailure::None; }
};

// Why an entry failed, for the user: the tool's own reason, or the library's status as
// EntryFailureText tells it.
std::string OutcomeText(const EntryOutcome& outcome, bool encrypted, bool passwordGiven);

// One entry to extract or test: which one it is, where it goes and, once done, how it went.
struct PlannedEntry {
    const DirectoryEntry* info;  // the directory's entry, which outlives the plan
    uint64_t index;              // in the archive's directory, as the library numbers entries
    // The destination joined with the entry's place below it, "/" between levels; the place
    // starts at relativeStart. One string, not two: every byte of a plan is paid for 100,000
    // times, in page faults before the first entry decodes.
    std::string target;
    size_t relativeStart = 0;
    EntryOutcome outcome;

    std::string_view Relative() const { return std::string_view(target).substr(relativeStart); }
};

// Where the progress of one entry's decoding shows: a slot of a bar, and the size a percentage of
// the entry stands for. The slot shows nothing again once the entry is done.
struct ProgressTarget {
    ProgressBar* bar = nullptr;
    int slot = 0;
    uint64_t entryBytes = 0;
};

// Extracts the entry to its target below root, whose path entry.target starts with. On success
// the file carries the entry's time and read-only bit; on failure the target is left as it was
// and nothing else remains. progress may be null; with threads above 1, the blocks of an entry of
// several blocks are decoded on that many threads. Ctrl-C (see Interrupted) stops it within one
// block.
EntryOutcome ExtractToPath(const platform::OutputRoot& root, void* handle,
                           const PlannedEntry& entry, const char* password,
                           ProgressTarget* progress, unsigned threads);

struct ExtractJob {
    Archive& archive;  // the handle the plan was made with, the first one the jobs borrow
    std::string archivePath;
    std::optional<std::string> archivePassword;  // opens the other workers' handles
    std::optional<std::string> entryPassword;
    std::string root;
    unsigned jobs;  // threads to extract on
    bool quiet;
    bool testOnly = false;  // decode and check each entry, write nothing, print its outcome
    const platform::OutputRoot* output = nullptr;  // root opened; needed unless testOnly
    bool verbose = false;  // a corrupt entry's printed outcome names the check that refused it

    ~ExtractJob() {
        WipePassword(archivePassword);
        WipePassword(entryPassword);
    }
};

// Extracts the planned entries, setting the outcome of each one reached; an interrupt (see
// Interrupted) leaves the rest as they were.
void ExtractInParallel(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar);

// The relative work of extracting an entry, from the sizes its record gives. Writing and
// checksumming cost about the same per output byte for every entry, but a compressed byte
// decodes token by token and costs about ten times an output byte; a stored entry (no smaller
// than its output) is only copied.
uint64_t EstimatedExtractionWork(uint64_t unpackedSize, uint64_t storedSize);

// Indices of work for that many workers: costliest first, except that the entries each at most
// 1/kSmallShare of one worker's share come last in their given order (they cannot keep a worker
// busy long at the end, and neighbours in an archive are read together); entries of equal work
// keep their given order.
constexpr uint64_t kSmallShare = 64;
std::vector<size_t> CostliestFirst(const std::vector<uint64_t>& work, unsigned workers);

}  // namespace tool
