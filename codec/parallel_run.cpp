// The parallel entry run: one slot more than there are worker threads, each with a read buffer, a
// staging area and a context table of its own (the table is cleared at every block's start, so it
// belongs to no thread). Block i goes to slot i mod slots; the caller reads a block into a slot
// only once the slot's previous block has been delivered, which keeps the blocks' order. A free
// worker takes the oldest block waiting, so a run of slow blocks never waits on one thread while
// another sits idle; the spare slot lets the next block be read while the oldest is decoded.
#include "codec/parallel_run.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/run_steps.h"
#include "crypto/crc32.h"
#include "format/failed_check.h"
#include "platform/platform.h"

namespace codec {

namespace {

using format::Status;

struct Slot {
    // The block the slot holds; the worker fills output, outputBytes and status.
    format::BlockHeader header{};
    uint32_t bodyBytes = 0;
    const uint8_t* output = nullptr;
    uint32_t outputBytes = 0;
    Status status = Status::Ok;
    const char* failedCheck = nullptr;  // what the worker noted with a Corrupt status
    enum class State { Free, Given, Taken, Decoded } state = State::Free;
    size_t block = 0;  // the block's place in the entry
    RunMemory memory{nullptr, nullptr, nullptr};
};

class ParallelRun {
  public:
    ParallelRun(const EntryInput& input, const EntryRun& run, unsigned threads)
        : input_(input), run_(run), slots_(threads + 1), threads_(threads) {}
    ~ParallelRun();

    Status Run();

  private:
    bool Start();
    void Work();
    Slot* OldestGiven();
    Status Deliver(Slot& slot);
    Status WaitAndDeliver(Slot& slot);

    const EntryInput& input_;
    const EntryRun& run_;
    std::vector<Slot> slots_;
    unsigned threads_;
    std::vector<std::thread> workers_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    Crc32 crc_;
    uint64_t delivered_ = 0;
};

ParallelRun::~ParallelRun() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    for (Slot& slot : slots_) UnmapRunMemory(&slot.memory);
}

bool ParallelRun::Start() {
    for (Slot& slot : slots_) {
        if (!MapRunMemory(&slot.memory)) return false;
    }
    for (unsigned t = 0; t < threads_; ++t) workers_.emplace_back([this] { Work(); });
    return true;
}

// Under lock_: the slot of the oldest block no worker has taken, or null.
Slot* ParallelRun::OldestGiven() {
    Slot* oldest = nullptr;
    for (Slot& slot : slots_) {
        if (slot.state == Slot::State::Given && (!oldest || slot.block < oldest->block)) {
            oldest = &slot;
        }
    }
    return oldest;
}

void ParallelRun::Work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        Slot* slot = nullptr;
        changed_.wait(guard, [&] { return stopping_ || (slot = OldestGiven()) != nullptr; });
        if (stopping_) return;
        slot->state = Slot::State::Taken;
        guard.unlock();
        slot->status = steps::BlockOutput(
            run_, slot->header, slot->memory.readBuffer, slot->bodyBytes, BLOCK_BUFFER_SIZE,
            slot->memory.contextTable, slot->memory.staging, &slot->output, &slot->outputBytes);
        slot->failedCheck = format::TakeFailedCheck();
        guard.lock();
        slot->state = Slot::State::Decoded;
        changed_.notify_all();
    }
}

// A block is decoded before the blocks ahead of it are delivered, so only here, in order, is the
// room the record's size leaves known: the sequential run refuses the same block.
Status ParallelRun::Deliver(Slot& slot) {
    if (slot.status != Status::Ok) {
        format::NoteFailedCheck(slot.failedCheck);
        return slot.status;
    }
    if (slot.outputBytes == 0) return Status::Ok;
    CORRUPT_IF(slot.outputBytes > run_.unpackedSize - delivered_);
    delivered_ += slot.outputBytes;
    crc_.Update(slot.output, slot.outputBytes);
    return run_.sink.take(run_.sink.context, slot.output, slot.outputBytes) ? Status::Ok
                                                                            : Status::DiskFull;
}

// Waits until the slot's block is decoded (if it holds one) and delivers it. The sink is called
// without the lock, so that the workers go on meanwhile.
Status ParallelRun::WaitAndDeliver(Slot& slot) {
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (slot.state == Slot::State::Free) return Status::Ok;
        changed_.wait(guard, [&] { return slot.state == Slot::State::Decoded; });
    }
    Status status = Deliver(slot);
    std::lock_guard<std::mutex> guard(lock_);
    slot.state = Slot::State::Free;
    return status;
}

Status ParallelRun::Run() {
    if (!Start()) return Status::NoMemory;
    format::TakeFailedCheck();  // a check noted before belongs to another run
    steps::BlockReader reader(input_, run_);
    size_t next = 0;
    Status status = Status::Ok;
    while (status == Status::Ok && reader.More()) {
        Slot& slot = slots_[next++ % slots_.size()];
        // The slot's last block is the oldest in flight: delivering it keeps the order.
        status = WaitAndDeliver(slot);
        Status read = status == Status::Ok ? reader.Start(&slot.header, &slot.bodyBytes) : status;
        if (read == Status::Ok) read = reader.ReadBody(slot.memory.readBuffer, slot.bodyBytes);
        if (status == Status::Ok && read != Status::Ok) {
            // Blocks before this one are delivered first, as the sequential run would have.
            for (size_t i = 1; i < slots_.size() && status == Status::Ok; ++i) {
                status = WaitAndDeliver(slots_[(next - 1 + i) % slots_.size()]);
            }
            return status == Status::Ok ? read : status;
        }
        if (status != Status::Ok) break;
        {
            std::lock_guard<std::mutex> guard(lock_);
            slot.state = Slot::State::Given;
            slot.block = next - 1;
        }
        changed_.notify_all();
    }
    for (size_t i = 0; i < slots_.size() && status == Status::Ok; ++i) {
        status = WaitAndDeliver(slots_[(next + i) % slots_.size()]);
    }
    if (status != Status::Ok) return status;
    if (run_.progress.report != nullptr) run_.progress.report(run_.progress.context, 100);
    CORRUPT_IF(delivered_ != run_.unpackedSize);
    return crc_.Value() == run_.crc ? Status::Ok : Status::CrcMismatch;
}

}  // namespace

Status DecodeEntryParallel(const EntryInput& input, const EntryRun& run, unsigned threads) {
    if (threads < 2 || run.history != nullptr) return DecodeEntry(input, run);
    ParallelRun parallel(input, run, threads);
    return parallel.Run();
}

}  // namespace codec
