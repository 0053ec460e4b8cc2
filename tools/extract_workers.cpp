// The parallel workers of "vorn extract", their queue, and the watcher that passes Ctrl-C on to
// the library, which stops within one block.
#include "tools/extract_workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "archive/extraction.h"
#include "codec/entry_run.h"
#include "tools/entry_io.h"
#include "tools/extract_schedule.h"
#include "tools/folder_levels.h"
#include "tools/terminal.h"
#include "tools/texts.h"

namespace tool {

namespace {

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

class ParallelExtraction {
  public:
    ParallelExtraction(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar)
        : job_(job), plan_(plan), bar_(bar) {}
    void Run();

  private:
    void DecodeLargeEntries(std::vector<size_t>& rest);
    void WatchForInterrupt();
    void Work(int slot);
    void ExtractOne(void* handle, int slot, PlannedEntry& e, unsigned threads);
    void TestOne(void* handle, int slot, PlannedEntry& e, unsigned threads);
    void ForgetHandle(void* handle);

    const ExtractJob& job_;
    std::vector<PlannedEntry>& plan_;
    ProgressBar& bar_;
    std::vector<size_t> queue_;
    std::atomic<size_t> next_{0};
    std::mutex handlesLock_;
    std::vector<void*> handles_;  // under handlesLock_, as is workersDone_
    bool workersDone_ = false;
    std::condition_variable workersDoneSignal_;
};

void ParallelExtraction::Run() {
    // The watcher is woken as soon as the workers are done, so it never holds up the end of the
    // command.
    CatchInterrupt();
    std::thread watcher([this] { WatchForInterrupt(); });
    std::vector<size_t> rest;
    DecodeLargeEntries(rest);
    unsigned workers = WorkerCount(job_.jobs, rest.size());
    queue_ = QueueOrder(plan_, rest, workers);
    if (workers == 1) {
        Work(0);
    } else {
        std::vector<std::thread> threads;
        for (unsigned j = 0; j < workers; ++j) {
            threads.emplace_back([this, j] { Work(static_cast<int>(j)); });
        }
        for (auto& t : threads) t.join();
    }
    {
        std::lock_guard<std::mutex> lock(handlesLock_);
        workersDone_ = true;
    }
    workersDoneSignal_.notify_one();
    watcher.join();
}

// The entries of several blocks, one after the other on the plan's own handle, each on all the
// threads; rest receives the indices of the others.
void ParallelExtraction::DecodeLargeEntries(std::vector<size_t>& rest) {
    void* handle = job_.archive.handle();
    {
        std::lock_guard<std::mutex> lock(handlesLock_);
        handles_.push_back(handle);
    }
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
    ForgetHandle(handle);
}

void ParallelExtraction::WatchForInterrupt() {
    std::unique_lock<std::mutex> lock(handlesLock_);
    while (!workersDone_) {
        if (Interrupted()) {
            for (void* h : handles_) vorn_CancelOperation(h);
        }
        workersDoneSignal_.wait_for(lock, std::chrono::milliseconds(50));
    }
}

void ParallelExtraction::Work(int slot) {
    // The first worker uses the handle the plan was made with; opening an archive scans and
    // walks it, which only the other workers need to do again for their own handles.
    Archive own;
    void* handle = job_.archive.handle();
    uint32_t openStatus = VORN_SUCCESS;
    if (slot != 0) {
        openStatus = own.Open(job_.archivePath,
                              job_.archivePassword ? job_.archivePassword->c_str() : nullptr);
        handle = own.handle();
    }
    if (openStatus == VORN_SUCCESS) {
        std::lock_guard<std::mutex> lock(handlesLock_);
        handles_.push_back(handle);
    }
    while (!Interrupted()) {
        size_t q = next_.fetch_add(1);
        if (q >= queue_.size()) break;
        PlannedEntry& e = plan_[queue_[q]];
        if (openStatus != VORN_SUCCESS) {
            e.status = openStatus;
        } else if (job_.testOnly) {
            TestOne(handle, slot, e, 1);
        } else {
            ExtractOne(handle, slot, e, 1);
        }
    }
    ForgetHandle(handle);
}

void ParallelExtraction::ExtractOne(void* handle, int slot, PlannedEntry& e, unsigned threads) {
    if (IsEncrypted(e.info) && !job_.entryPassword) {
        e.status = VORN_E_PASSWORD_NEEDED;
        return;
    }
    size_t slash = e.relative.rfind('/');
    if (slash != std::string::npos &&
        !MakeFolderLevels(job_.root, e.relative.substr(0, slash), e.error)) {
        e.status = VORN_E_INVALID_ARGUMENT;
        return;
    }
    ProgressTarget target{&bar_, slot, e.info.qwUnpackedSize};
    e.status =
        ExtractToPath(handle, e.info, job_.entryPassword, e.target, &target, threads, e.error);
    bar_.Add(e.info.qwUnpackedSize);
    if (e.status == VORN_SUCCESS && !job_.quiet) {
        bar_.Print("extracted " + Shown(e.info.szName), stdout);
    }
}

void ParallelExtraction::TestOne(void* handle, int slot, PlannedEntry& e, unsigned threads) {
    ProgressTarget target{&bar_, slot, e.info.qwUnpackedSize};
    e.status =
        archive::PublicCode(DecodeAndCheck(handle, e.info, job_.entryPassword, &target, threads));
    bar_.Add(e.info.qwUnpackedSize);
    if (e.status == VORN_SUCCESS) {
        if (!job_.quiet) bar_.Print("OK      " + Shown(e.info.szName), stdout);
        return;
    }
    if (Interrupted()) return;  // cancelled, which the command reports once
    bar_.Print("FAILED  " + Shown(e.info.szName) + ": " +
               EntryFailureText(e.status, IsEncrypted(e.info), job_.entryPassword != nullptr));
}

void ParallelExtraction::ForgetHandle(void* handle) {
    std::lock_guard<std::mutex> lock(handlesLock_);
    handles_.erase(std::remove(handles_.begin(), handles_.end(), handle), handles_.end());
}

}  // namespace

void ExtractInParallel(const ExtractJob& job, std::vector<PlannedEntry>& plan, ProgressBar& bar) {
    ParallelExtraction(job, plan, bar).Run();
}

}  // namespace tool
