// Decoding entries for "vorn extract" and "vorn test": temporary files and the folder levels they
// need, the work each entry costs, and the entries as jobs of the work pool, each on an archive
// handle it borrows. Every run asks the interrupt flag once per block, so Ctrl-C stops the
// entries in progress within one block.
#include "tools/entry_workers.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <numeric>

#include "archive/extraction.h"
#include "codec/entry_run.h"
#include "format/container.h"
#include "threads/resource_pool.h"
#include "threads/work_pool.h"
#include "tools/system.h"

namespace tool {

namespace {

// The library takes paths of at most this many bytes.
constexpr size_t kLibraryPathLimit = format::kMaxPathBytes;

// 72 random bits as 12 characters that are safe in a file name.
std::string RandomCharacters() {
    unsigned char bits[9];
    if (!os::RandomBytes(bits, sizeof bits)) return {};
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string random;
    for (size_t i = 0; i < sizeof bits; i += 3) {
        uint32_t group = (uint32_t{bits[i]} << 16) | (uint32_t{bits[i + 1]} << 8) | bits[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) random += kDigits[(group >> shift) & 63];
    }
    return random;
}

// A name in dir for the temporary file of the target named leaf there: "." and as much of leaf as
// fits, then ".vorn-" and 72 random bits. Longer than kLibraryPathLimit only when dir is too deep
// for any; empty when the system has no random bytes to give.
std::string TempNameBeside(const std::string& dir, const std::string& leaf) {
    const std::string random = RandomCharacters();
    if (random.empty()) return {};
    // The name of the target only makes the file recognisable; it gives way to the library's
    // path limit first, then the ".vorn-" mark, then random characters down to eight (48 bits),
    // so that a target whose own path fits gets a temporary file in all but the deepest folders.
    const std::string suffix = ".vorn-" + random;
    size_t fixed = dir.size() + 2 + suffix.size();
    if (fixed <= kLibraryPathLimit) {
        size_t keep = std::min({leaf.size(), size_t{200}, kLibraryPathLimit - fixed});
        return dir + "/." + leaf.substr(0, keep) + suffix;
    }
    size_t room = kLibraryPathLimit - std::min(kLibraryPathLimit, dir.size() + 2);
    constexpr size_t kFewestRandomCharacters = 8;
    // Too deep even for that: the whole name, which the caller reports as too long.
    if (room < kFewestRandomCharacters) return dir + "/." + random;
    return dir + "/." + random.substr(0, std::min(room, random.size()));
}

// Creates every missing folder level of relativeDir ("a/b") below root, refusing to pass through
// a symbolic link (an existing link could lead outside the destination). false with error on
// failure.
bool MakeFolderLevels(const std::string& root, const std::string& relativeDir, std::string& error) {
    std::string path = root;
    size_t start = 0;
    while (start < relativeDir.size()) {
        size_t end = relativeDir.find('/', start);
        if (end == std::string::npos) end = relativeDir.size();
        path += '/';
        path.append(relativeDir, start, end - start);
        start = end + 1;
        os::PathFacts facts;
        if (os::StatPathItself(path, facts)) {
            if (facts.kind == os::PathKind::Link) {
                error = path + " is a symbolic link; not following it";
                return false;
            }
            if (facts.kind != os::PathKind::Folder) {
                error = path + " exists and is not a folder";
                return false;
            }
            continue;
        }
        if (!os::MakeFolder(path)) {
            error = "cannot create folder " + path + ": " + os::LastErrorText();
            return false;
        }
    }
    return true;
}

void ReportEntryProgress(void* context, int percent) {
    auto* target = static_cast<ProgressTarget*>(context);
    if (!target->bar) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    target->bar->SetPartial(target->slot,
                            target->entryBytes / 100 * static_cast<uint64_t>(percent));
}

codec::ProgressReport ReportTo(ProgressTarget* target) {
    return codec::ProgressReport{target ? ReportEntryProgress : nullptr, target};
}

void ClearProgress(ProgressTarget* target) {
    if (target && target->bar) target->bar->SetPartial(target->slot, 0);
}

// How many more bytes the entry's record allows, for a decoding that keeps nothing.
struct LengthCheck {
    uint64_t room;
    bool overrun = false;
};

// The library checks the CRC of what passes through, so the bytes need no keeping. They must not
// run past the size the record gives: such data is damaged whatever its CRC, as decoding into
// memory of that size finds too.
bool TakeWithinSize(void* context, const uint8_t*, uint32_t count) {
    auto* check = static_cast<LengthCheck*>(context);
    if (count > check->room) {
        check->overrun = true;
        return false;
    }
    check->room -= count;
    return true;
}

// The file's place: its folder ("." for a bare name) and its own name there.
void SplitPath(const std::string& path, std::string& dir, std::string& leaf) {
    size_t slash = path.rfind('/');
    dir = slash == std::string::npos ? "." : path.substr(0, slash);
    leaf = slash == std::string::npos ? path : path.substr(slash + 1);
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
    return outcome;
}

EntryOutcome FileSystemFailure(std::string error) {
    return EntryOutcome{format::Status::Ok, ToolFailure::FileSystem, std::move(error)};
}

// Gives the finished temporary file the entry's time and its final name.
EntryOutcome PutInPlace(const VORN_FILEINFO& info, const std::string& temp,
                        const std::string& path) {
    if (info.qwFileTime != 0) os::SetModificationTime(temp, info.qwFileTime);
    if (!os::RenameFile(temp, path)) {
        EntryOutcome failed =
            FileSystemFailure("cannot write " + path + ": " + os::LastErrorText());
        os::RemoveFile(temp);
        return failed;
    }
    return EntryOutcome{};
}

EntryOutcome ExtractThroughTemporary(void* handle, const PlannedEntry& entry, const char* password,
                                     ProgressTarget* progress, unsigned threads) {
    std::string dir, leaf;
    SplitPath(entry.target, dir, leaf);
    const std::string temp = TempNameBeside(dir, leaf);
    if (temp.empty()) {
        return FileSystemFailure("cannot name a temporary file: " + os::LastErrorText());
    }
    if (temp.size() > kLibraryPathLimit) {
        return FileSystemFailure("cannot extract into " + dir + ": the path is longer than the " +
                                 std::to_string(kLibraryPathLimit) + " bytes the library takes");
    }
    format::Status status = archive::ExtractToFile(handle, entry.index, temp.c_str(), password,
                                                   ReportTo(progress), kCancelOnInterrupt, threads);
    if (status == format::Status::OutputNotCreated) {
        return FileSystemFailure("cannot create a file in " + dir + ": " + os::LastErrorText());
    }
    if (status != format::Status::Ok) {
        os::RemoveFile(temp);
        return OutcomeOf(status);
    }
    return PutInPlace(entry.info, temp, entry.target);
}

// Decodes the entry and checks its CRC-32 without keeping the bytes. progress may be null; with
// threads above 1, the blocks of an entry of several blocks are decoded on that many threads.
EntryOutcome DecodeAndCheck(void* handle, const PlannedEntry& entry, const char* password,
                            ProgressTarget* progress, unsigned threads) {
    LengthCheck check{entry.info.qwUnpackedSize};
    format::Status status = archive::ExtractToSink(handle, entry.index, password,
                                                   codec::BlockSink{TakeWithinSize, &check},
                                                   ReportTo(progress), kCancelOnInterrupt, threads);
    ClearProgress(progress);
    return OutcomeOf(check.overrun ? format::Status::Corrupt : status);
}

// Decoding one compressed byte takes about as long as writing and checksumming this many output
// bytes: single-entry extractions of a corpus of text, binaries and compressed files cost about
// 2.3 ms per MB of output and 23 ms per MB of compressed input.
constexpr uint64_t kCompressedByteWeight = 10;

// An entry of more than one block has its blocks decoded on several threads, alone, so that a
// large entry no longer takes as long as one thread needs for all of it.
uint64_t BlocksOf(const VORN_FILEINFO& info) {
    return (info.qwUnpackedSize + codec::BLOCK_BUFFER_SIZE - 1) / codec::BLOCK_BUFFER_SIZE;
}

bool DecodedAlone(const VORN_FILEINFO& info, unsigned jobs) {
    return jobs > 1 && BlocksOf(info) > 1;
}

unsigned WorkerCount(unsigned jobs, size_t plannedEntries) {
    jobs = std::min<unsigned>(jobs, ProgressBar::kSlots);
    return std::max<unsigned>(1, std::min<unsigned>(jobs, static_cast<unsigned>(plannedEntries)));
}

// With several workers, the costliest entries go first, so that no large entry starts last and
// keeps one worker busy while the others have nothing left; one worker keeps the directory
// order, which its listing then follows.
std::vector<size_t> QueueOrder(const std::vector<PlannedEntry>& plan,
                               const std::vector<size_t>& chosen, unsigned workers) {
    if (workers == 1) return chosen;
    std::vector<uint64_t> work(chosen.size());
    for (size_t i = 0; i < chosen.size(); ++i) {
        const VORN_FILEINFO& info = plan[chosen[i]].info;
        work[i] = EstimatedExtractionWork(info.qwUnpackedSize, info.qwStoredSize);
    }
    std::vector<size_t> queue;
    for (size_t i : CostliestFirst(work)) queue.push_back(chosen[i]);
    return queue;
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
    void Work(PlannedEntry& e);
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
    DecodeLargeEntries(rest);
    unsigned workers = WorkerCount(job_.jobs, rest.size());
    // One worker runs every job on this thread, in the queue's order.
    threads::WorkPool pool(threads::WorkerThreadsFor(workers));
    for (size_t i : QueueOrder(plan_, rest, workers)) {
        pool.Submit([this, i] { Work(plan_[i]); });
    }
    pool.WaitAll();
}

// The entries of several blocks, one after the other on the plan's own handle, each on all the
// threads; rest receives the indices of the others.
void ParallelExtraction::DecodeLargeEntries(std::vector<size_t>& rest) {
    void* handle = job_.archive.handle();
    for (size_t i = 0; i < plan_.size(); ++i) {
        if (!DecodedAlone(plan_[i].info, job_.jobs)) {
            rest.push_back(i);
        } else if (!Interrupted()) {
            unsigned threads =
                static_cast<unsigned>(std::min<uint64_t>(job_.jobs, BlocksOf(plan_[i].info)));
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
        made->openStatus = made->own.Open(job_.archivePath, PasswordText(job_.archivePassword));
        made->handle = made->own.handle();
    }
    return made;
}

void ParallelExtraction::Work(PlannedEntry& e) {
    if (Interrupted()) return;
    auto lease = handles_.Take();
    if (lease->openStatus != format::Status::Ok) {
        e.outcome.status = lease->openStatus;
    } else if (job_.testOnly) {
        TestOne(lease->handle, lease->slot, e, 1);
    } else {
        ExtractOne(lease->handle, lease->slot, e, 1);
    }
}

void ParallelExtraction::ExtractOne(void* handle, int slot, PlannedEntry& e, unsigned threads) {
    if (IsEncrypted(e.info) && !job_.entryPassword) {
        e.outcome.status = format::Status::PasswordNeeded;
        return;
    }
    size_t slash = e.relative.rfind('/');
    std::string error;
    if (slash != std::string::npos &&
        !MakeFolderLevels(job_.root, e.relative.substr(0, slash), error)) {
        e.outcome = FileSystemFailure(error);
        return;
    }
    ProgressTarget target{&bar_, slot, e.info.qwUnpackedSize};
    e.outcome = ExtractToPath(handle, e, PasswordText(job_.entryPassword), &target, threads);
    bar_.Add(e.info.qwUnpackedSize);
    if (e.outcome.Succeeded() && !job_.quiet) {
        bar_.Print("extracted " + Shown(e.info.szName), stdout);
    }
}

void ParallelExtraction::TestOne(void* handle, int slot, PlannedEntry& e, unsigned threads) {
    ProgressTarget target{&bar_, slot, e.info.qwUnpackedSize};
    e.outcome = DecodeAndCheck(handle, e, PasswordText(job_.entryPassword), &target, threads);
    bar_.Add(e.info.qwUnpackedSize);
    if (e.outcome.Succeeded()) {
        if (!job_.quiet) bar_.Print("OK      " + Shown(e.info.szName), stdout);
        return;
    }
    if (e.outcome.failure == ToolFailure::Cancelled) return;  // the command reports it once
    bar_.Print("FAILED  " + Shown(e.info.szName) + ": " +
               OutcomeText(e.outcome, IsEncrypted(e.info), job_.entryPassword.has_value()));
}

}  // namespace

std::string OutcomeText(const EntryOutcome& outcome, bool encrypted, bool passwordGiven) {
    switch (outcome.failure) {
        case ToolFailure::FileSystem:
            return outcome.error;
        case ToolFailure::Cancelled:
            return "interrupted";
        case ToolFailure::None:
            break;
    }
    return EntryFailureText(outcome.status, encrypted, passwordGiven);
}

EntryOutcome ExtractToPath(void* handle, const PlannedEntry& entry, const char* password,
                           ProgressTarget* progress, unsigned threads) {
    EntryOutcome outcome = ExtractThroughTemporary(handle, entry, password, progress, threads);
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

std::vector<size_t> CostliestFirst(const std::vector<uint64_t>& work) {
    std::vector<size_t> order(work.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&work](size_t a, size_t b) { return work[a] > work[b]; });
    return order;
}

void ExtractInParallel(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar) {
    ParallelExtraction(job, plan, bar).Run();
}

}  // namespace tool
