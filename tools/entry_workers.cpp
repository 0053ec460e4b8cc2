// Decoding entries for "vorn extract" and "vorn test": each file written the one safe way
// (platform/output_file.h), the work each entry costs, and the entries as jobs of the work pool,
// each on an archive handle it borrows. Every run asks the interrupt flag once per block, so Ctrl-C
// stops the entries in progress within one block.
#include "tools/entry_workers.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <numeric>

#include "archive/extraction.h"
#include "format/block.h"
#include "format/container.h"
#include "format/failed_check.h"
#include "platform/output_file.h"
#include "threads/resource_pool.h"
#include "threads/work_pool.h"

namespace tool {

namespace {

void ReportEntryProgress(void* context, int percent) {
    auto* target = static_cast<ProgressTarget*>(context);
    if (!target->bar) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    target->bar->SetPartial(target->slot,
                            target->entryBytes / 100 * static_cast<uint64_t>(percent));
}

archive::ProgressReport ReportTo(ProgressTarget* target) {
    return archive::ProgressReport{target ? ReportEntryProgress : nullptr, target};
}

void ClearProgress(ProgressTarget* target) {
    if (target && target->bar) target->bar->SetPartial(target->slot, 0);
}

// The library checks the CRC of what passes through and stops an entry that would run past the
// size its record gives, so the bytes need no keeping.
bool TakeAndForget(void*, const uint8_t*, uint32_t) {
    return true;
}

// The entry's place below the destination: its folder ("" for the destination itself) and its
// own name there.
void SplitRelative(std::string_view relative, std::string& dir, std::string& leaf) {
    size_t slash = relative.rfind('/');
    dir = slash == std::string_view::npos ? "" : relative.substr(0, slash);
    leaf = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

// The tool's Ctrl-C as the library's cancel: asked once per block of every run.
bool InterruptedNow(void*) {
    return Interrupted();
}
constexpr archive::CancelCheck kCancelOnInterrupt{InterruptedNow, nullptr};

// The outcome of a run that ended with status: Ctrl-C is the tool's own reason.
EntryOutcome OutcomeOf(format::Status status) {
    EntryOutcome outcome;
    if (status == format::Status::Cancelled && Interrupted()) {
        outcome.failure = ToolFailure::Cancelled;
    } else {
        outcome.status = status;
    }
    if (status == format::Status::Corrupt) outcome.failedCheck = format::TakeFailedCheck();
    return outcome;
}

EntryOutcome FileSystemFailure(std::string error) {
    EntryOutcome outcome;
    outcome.failure = ToolFailure::FileSystem;
    outcome.error = std::make_shared<const std::string>(std::move(error));
    return outcome;
}

std::string SystemReason() {
    char reason[256];
    platform::LastOutputError(reason, sizeof reason);
    return reason;
}

// Why the entry's folder could not be entered; path holds the levels up to the one refused.
EntryOutcome FolderFailure(platform::OutputResult result, const std::string& path) {
    switch (result) {
        case platform::OutputResult::ThroughLink:
            return FileSystemFailure(path + " is a symbolic link; not following it");
        case platform::OutputResult::NotFolder:
            return FileSystemFailure(path + " exists and is not a folder");
        case platform::OutputResult::TooLong:
        case platform::OutputResult::BadLevel:
            return FileSystemFailure("cannot create folder " + path + ": the path is too long");
        default:
            return FileSystemFailure("cannot create folder " + path + ": " + SystemReason());
    }
}

// The intact entry's time and read-only bit go on the part file, which then takes the final name.
EntryOutcome PutInPlace(const DirectoryEntry& info, platform::PartFile& part,
                        const std::string& target) {
    platform::SetPartFileTime(&part, info.fileTime);
    platform::SetPartFileAttributes(&part, info.attributes & format::kRecordAttributeMask);
    platform::OutputResult result = platform::CommitPartFile(&part);
    if (result == platform::OutputResult::NotFolder) {
        return FileSystemFailure("cannot write " + target + ": a folder stands there");
    }
    if (result != platform::OutputResult::Ok) {
        return FileSystemFailure("cannot write " + target + ": " + SystemReason());
    }
    return EntryOutcome{};
}

EntryOutcome DecodeIntoPart(void* handle, const PlannedEntry& entry, const char* password,
                            ProgressTarget* progress, unsigned threads,
                            const platform::OutputFolder& folder, const std::string& leaf) {
    platform::PartFile part;
    platform::OutputResult created = platform::CreatePartFile(folder, leaf.c_str(), 0, &part);
    if (created != platform::OutputResult::Ok) {
        std::string reason =
            created == platform::OutputResult::TooLong ? "the path is too long" : SystemReason();
        return FileSystemFailure("cannot create a file in " + std::string(folder.path) + ": " +
                                 reason);
    }
    format::Status status =
        archive::ExtractToOpenFile(handle, entry.index, part.fd, folder.path, password,
                                   ReportTo(progress), kCancelOnInterrupt, threads);
    if (status != format::Status::Ok) {
        platform::DiscardPartFile(&part);
        return OutcomeOf(status);
    }
    return PutInPlace(*entry.info, part, entry.target);
}

// The entry's folder levels below the destination, then a part file there, decoded into and
// renamed over the target only when the entry came out whole and intact.
EntryOutcome ExtractThroughPartFile(const platform::OutputRoot& root, void* handle,
                                    const PlannedEntry& entry, const char* password,
                                    ProgressTarget* progress, unsigned threads) {
    std::string dir, leaf;
    SplitRelative(entry.Relative(), dir, leaf);
    // Large for a thread's stack frame, and the workers are few: one each on the heap.
    auto folder = std::make_unique<platform::OutputFolder>();
    platform::OutputResult entered = platform::OpenOutputFolder(root, dir.c_str(), folder.get());
    if (entered != platform::OutputResult::Ok) return FolderFailure(entered, folder->path);
    EntryOutcome outcome =
        DecodeIntoPart(handle, entry, password, progress, threads, *folder, leaf);
    platform::CloseOutputFolder(folder.get());
    return outcome;
}

// Decodes the entry and checks its CRC-32 without keeping the bytes. progress may be null; with
// threads above 1, the blocks of an entry of several blocks are decoded on that many threads.
EntryOutcome DecodeAndCheck(void* handle, const PlannedEntry& entry, const char* password,
                            ProgressTarget* progress, unsigned threads) {
    format::Status status = archive::ExtractToSink(handle, entry.index, password,
                                                   archive::BlockSink{TakeAndForget, nullptr},
                                                   ReportTo(progress), kCancelOnInterrupt, threads);
    ClearProgress(progress);
    return OutcomeOf(status);
}

// Decoding one compressed byte takes about as long as writing and checksumming this many output
// bytes: single-entry extractions of a corpus of text, binaries and compressed files cost about
// 2.3 ms per MB of output and 23 ms per MB of compressed input.
constexpr uint64_t kCompressedByteWeight = 10;

// An entry of more than one block has its blocks decoded on several threads, alone, so that a
// large entry no longer takes as long as one thread needs for all of it.
uint64_t BlocksOf(const DirectoryEntry& info) {
    return (info.unpackedSize + format::kBlockBufferSize - 1) / format::kBlockBufferSize;
}

bool DecodedAlone(const DirectoryEntry& info, unsigned jobs) {
    return jobs > 1 && BlocksOf(info) > 1;
}

unsigned WorkerCount(unsigned jobs, size_t plannedEntries) {
    jobs = std::min<unsigned>(jobs, ProgressBar::kSlots);
    return std::max<unsigned>(1, std::min<unsigned>(jobs, static_cast<unsigned>(plannedEntries)));
}

// Units of work in one list, so that 100,000 entries are not 100,000 allocations: unit u is
// entries[Start(u)] up to entries[End(u)], indices into the plan. A unit is an entry, or a solid
// group's entries in their archive order, which one handle then decodes once each. Without
// groups starts stays empty and unit u is entries[u] alone: no second list of 100,000.
struct UnitList {
    std::vector<size_t> entries;
    std::vector<size_t> starts;

    size_t Count() const { return starts.empty() ? entries.size() : starts.size() - 1; }
    size_t Start(size_t u) const { return starts.empty() ? u : starts[u]; }
    size_t End(size_t u) const { return starts.empty() ? u + 1 : starts[u + 1]; }
    void Add(const size_t* first, const size_t* end) {
        if (starts.empty()) {
            starts.resize(entries.size() + 1);
            std::iota(starts.begin(), starts.end(), size_t{0});
        }
        entries.insert(entries.end(), first, end);
        starts.push_back(entries.size());
    }
};

uint64_t UnitWork(const std::vector<PlannedEntry>& plan, const UnitList& units, size_t u) {
    uint64_t work = 0;
    for (size_t k = units.Start(u); k < units.End(u); ++k) {
        const DirectoryEntry& info = *plan[units.entries[k]].info;
        uint64_t w = EstimatedExtractionWork(info.unpackedSize, info.storedSize);
        work = w > UINT64_MAX - work ? UINT64_MAX : work + w;
    }
    return work;
}

// With several workers, the costliest units go first, so that no large unit starts last and
// keeps one worker busy while the others have nothing left; the small ones follow in directory
// order, in which the archive's read-ahead serves neighbours together. One worker keeps the
// directory order, which its listing then follows.
UnitList QueueOrder(const std::vector<PlannedEntry>& plan, UnitList units, unsigned workers) {
    if (workers == 1) return units;
    // Where no unit is costlier than CostliestFirst's small share, as among 100,000 small
    // entries, the order stays: deciding that first spares it two more lists of them all.
    uint64_t total = 0;
    uint64_t largest = 0;
    for (size_t u = 0; u < units.Count(); ++u) {
        const uint64_t w = UnitWork(plan, units, u);
        total = w > UINT64_MAX - total ? UINT64_MAX : total + w;
        largest = std::max(largest, w);
    }
    if (largest <= total / (kSmallShare * workers)) return units;
    std::vector<uint64_t> work(units.Count());
    for (size_t u = 0; u < units.Count(); ++u) work[u] = UnitWork(plan, units, u);
    const std::vector<size_t> order = CostliestFirst(work, workers);
    if (std::is_sorted(order.begin(), order.end())) return units;
    UnitList queue;
    queue.entries.reserve(units.entries.size());
    for (size_t u : order) {
        queue.Add(units.entries.data() + units.Start(u), units.entries.data() + units.End(u));
    }
    return queue;
}

// The planned entries as units of work: the entries of one solid group together, every other
// entry alone.
UnitList WorkUnits(const std::vector<PlannedEntry>& plan, std::vector<size_t> chosen) {
    if (std::none_of(chosen.begin(), chosen.end(),
                     [&plan](size_t i) { return plan[i].info->group != 0; })) {
        UnitList alone;
        alone.entries = std::move(chosen);
        return alone;
    }
    std::vector<std::vector<size_t>> groups;
    std::vector<std::pair<uint32_t, size_t>> grouped;  // group, then where in groups
    std::vector<size_t> firsts;  // per unit: the entry that starts it alone, or where in groups
    std::vector<bool> isGroup;
    firsts.reserve(chosen.size());
    isGroup.reserve(chosen.size());
    for (size_t i : chosen) {
        const uint32_t group = plan[i].info->group;
        if (group == 0) {
            firsts.push_back(i);
            isGroup.push_back(false);
            continue;
        }
        auto known = std::find_if(grouped.begin(), grouped.end(),
                                  [group](const auto& g) { return g.first == group; });
        if (known != grouped.end()) {
            groups[known->second].push_back(i);
            continue;
        }
        grouped.emplace_back(group, groups.size());
        firsts.push_back(groups.size());
        isGroup.push_back(true);
        groups.push_back({i});
    }
    UnitList units;
    units.entries.reserve(chosen.size());
    units.starts.reserve(firsts.size() + 1);  // Add fills it from the first unit on
    for (size_t u = 0; u < firsts.size(); ++u) {
        if (!isGroup[u]) {
            units.Add(&firsts[u], &firsts[u] + 1);
            continue;
        }
        std::vector<size_t>& unit = groups[firsts[u]];
        std::sort(unit.begin(), unit.end(),
                  [&plan](size_t a, size_t b) { return plan[a].index < plan[b].index; });
        units.Add(unit.data(), unit.data() + unit.size());
    }
    return units;
}

// An open archive a job borrows, and the progress bar's slot that goes with it. The first is the
// handle the plan was made with: opening an archive scans and walks it, which only the handles
// of further threads need to do again.
struct WorkerHandle {
    Archive own;
    void* handle = nullptr;
    int slot = 0;
    format::Status openStatus = format::Status::Ok;
};

class ParallelExtraction {
  public:
    ParallelExtraction(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar)
        : job_(job), plan_(plan), bar_(bar), handles_([this] { return MakeHandle(); }) {}
    void Run();

  private:
    void DecodeLargeEntries(std::vector<size_t>& rest);
    std::unique_ptr<WorkerHandle> MakeHandle();
    void Work(const UnitList& queue, std::atomic<size_t>& next);
    void ExtractOne(void* handle, int slot, PlannedEntry& e, unsigned threads);
    void TestOne(void* handle, int slot, PlannedEntry& e, unsigned threads);

    const ExtractJob& job_;
    std::vector<PlannedEntry>& plan_;
    ProgressBar& bar_;
    std::atomic<int> handlesMade_{0};
    threads::ResourcePool<WorkerHandle> handles_;
};

void ParallelExtraction::Run() {
    CatchInterrupt();
    std::vector<size_t> rest;
    rest.reserve(plan_.size());
    DecodeLargeEntries(rest);
    UnitList units = WorkUnits(plan_, std::move(rest));
    unsigned workers = WorkerCount(job_.jobs, units.Count());
    const UnitList queue = QueueOrder(plan_, std::move(units), workers);
    // One job per worker, each taking the next unit of the queue until none is left: a job per
    // unit would cost an allocation and a wake-up for each of 100,000 small entries. One worker
    // runs its job on this thread.
    std::atomic<size_t> next{0};
    threads::WorkPool pool(threads::WorkerThreadsFor(workers));
    for (unsigned w = 0; w < workers; ++w) {
        pool.Submit([this, &queue, &next] { Work(queue, next); });
    }
    pool.WaitAll();
}

// The entries of several blocks outside solid groups, one after the other on the plan's own
// handle, each on all the threads; rest receives the indices of the others.
void ParallelExtraction::DecodeLargeEntries(std::vector<size_t>& rest) {
    void* handle = job_.archive.handle();
    for (size_t i = 0; i < plan_.size(); ++i) {
        if (plan_[i].info->group != 0 || !DecodedAlone(*plan_[i].info, job_.jobs)) {
            rest.push_back(i);
        } else if (!Interrupted()) {
            unsigned threads =
                static_cast<unsigned>(std::min<uint64_t>(job_.jobs, BlocksOf(*plan_[i].info)));
            if (job_.testOnly) {
                TestOne(handle, 0, plan_[i], threads);
            } else {
                ExtractOne(handle, 0, plan_[i], threads);
            }
        }
    }
}

// At most one handle per thread of the pool is ever lent at once, so slots stay below kSlots.
std::unique_ptr<WorkerHandle> ParallelExtraction::MakeHandle() {
    auto made = std::make_unique<WorkerHandle>();
    made->slot = handlesMade_.fetch_add(1);
    made->handle = job_.archive.handle();
    if (made->slot != 0) {
        // The plan's handle lends its key: a sealed archive's key is derived once per run.
        made->openStatus =
            made->own.Open(job_.archivePath, PasswordText(job_.archivePassword), &job_.archive);
        made->handle = made->own.handle();
    }
    return made;
}

void ParallelExtraction::Work(const UnitList& queue, std::atomic<size_t>& next) {
    if (Interrupted()) return;
    auto lease = handles_.Take();
    for (size_t u = next++; u < queue.Count(); u = next++) {
        for (size_t k = queue.Start(u); k < queue.End(u); ++k) {
            if (Interrupted()) return;
            PlannedEntry& e = plan_[queue.entries[k]];
            if (lease->openStatus != format::Status::Ok) {
                e.outcome.status = lease->openStatus;
            } else if (job_.testOnly) {
                TestOne(lease->handle, lease->slot, e, 1);
            } else {
                ExtractOne(lease->handle, lease->slot, e, 1);
            }
        }
    }
}

void ParallelExtraction::ExtractOne(void* handle, int slot, PlannedEntry& e, unsigned threads) {
    if (IsEncrypted(*e.info) && !job_.entryPassword) {
        e.outcome.status = format::Status::PasswordNeeded;
        return;
    }
    ProgressTarget target{&bar_, slot, e.info->unpackedSize};
    e.outcome =
        ExtractToPath(*job_.output, handle, e, PasswordText(job_.entryPassword), &target, threads);
    bar_.Add(slot, e.info->unpackedSize);
    if (e.outcome.Succeeded() && !job_.quiet) {
        bar_.Print("extracted " + Shown(e.info->name), stdout);
    }
}

void ParallelExtraction::TestOne(void* handle, int slot, PlannedEntry& e, unsigned threads) {
    ProgressTarget target{&bar_, slot, e.info->unpackedSize};
    e.outcome = DecodeAndCheck(handle, e, PasswordText(job_.entryPassword), &target, threads);
    bar_.Add(slot, e.info->unpackedSize);
    if (e.outcome.Succeeded()) {
        if (!job_.quiet) bar_.Print("OK      " + Shown(e.info->name), stdout);
        return;
    }
    if (e.outcome.failure == ToolFailure::Cancelled) return;  // the command reports it once
    std::string check;
    if (job_.verbose && e.outcome.failedCheck != nullptr) {
        check = std::string(" [") + format::ShortCheckName(e.outcome.failedCheck) + "]";
    }
    bar_.Print("FAILED  " + Shown(e.info->name) + ": " +
               OutcomeText(e.outcome, IsEncrypted(*e.info), job_.entryPassword.has_value()) +
               check);
}

}  // namespace

std::string OutcomeText(const EntryOutcome& outcome, bool encrypted, bool passwordGiven) {
    switch (outcome.failure) {
        case ToolFailure::FileSystem:
            return outcome.error ? *outcome.error : std::string();
        case ToolFailure::Cancelled:
            return "interrupted";
        case ToolFailure::None:
            break;
    }
    return EntryFailureText(outcome.status, encrypted, passwordGiven);
}

EntryOutcome ExtractToPath(const platform::OutputRoot& root, void* handle,
                           const PlannedEntry& entry, const char* password,
                           ProgressTarget* progress, unsigned threads) {
    EntryOutcome outcome = ExtractThroughPartFile(root, handle, entry, password, progress, threads);
    ClearProgress(progress);
    return outcome;
}

uint64_t EstimatedExtractionWork(uint64_t unpackedSize, uint64_t storedSize) {
    if (storedSize >= unpackedSize) return unpackedSize;
    // Saturating: hostile records may claim sizes near 2^64.
    uint64_t decoding = storedSize > UINT64_MAX / kCompressedByteWeight
                            ? UINT64_MAX
                            : storedSize * kCompressedByteWeight;
    return decoding > UINT64_MAX - unpackedSize ? UINT64_MAX : unpackedSize + decoding;
}

std::vector<size_t> CostliestFirst(const std::vector<uint64_t>& work, unsigned workers) {
    uint64_t total = 0;
    for (uint64_t w : work) total = w > UINT64_MAX - total ? UINT64_MAX : total + w;
    const uint64_t small = total / (kSmallShare * std::max(workers, 1u));
    // Only the large units are sorted; the small ones follow in their order. Of 100,000 small
    // entries none is large, and sorting them all cost more than deciding them.
    std::vector<size_t> order;
    order.reserve(work.size());
    for (size_t i = 0; i < work.size(); ++i) {
        if (work[i] > small) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&work](size_t a, size_t b) { return work[a] > work[b]; });
    for (size_t i = 0; i < work.size(); ++i) {
        if (work[i] <= small) order.push_back(i);
    }
    return order;
}

void ExtractInParallel(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar) {
    ParallelExtraction(job, plan, bar).Run();
}

}  // namespace tool
