// Blocks encoded on worker threads and handed back in the order they were given. Every block
// stands alone (its context table and code trees start afresh), so a block's encoding is the same
// whichever thread makes it, and the archive the same bytes whatever the number of threads. At
// most a window of blocks is in flight, which bounds the memory: a block's input, its encoding
// and one thread's compressor state each.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "format/status.h"
#include "pack/entry_data.h"

namespace pack {

struct BlockJob {
    // Given.
    std::vector<uint8_t> input;
    Method method = Method::Stored;
    EncoderOptions encoder;
    std::optional<std::string> password;
    // Made by a worker.
    std::vector<uint8_t> encoded;
    format::Status status = format::Status::Ok;
    bool done = false;
};

class BlockPipeline {
  public:
    // workers threads; window jobs in flight at the most (at least workers).
    BlockPipeline(unsigned workers, size_t window);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // Queues a job for a worker. The caller takes the oldest job back first while Full().
    void Give(std::shared_ptr<BlockJob> job);
    // The oldest job given and not taken back, once it is encoded; null when none is in flight.
    std::shared_ptr<BlockJob> TakeOldest();
    bool Full() const { return inFlight_.size() >= window_; }
    bool Empty() const { return inFlight_.empty(); }

  private:
    void Work();

    size_t window_;
    std::deque<std::shared_ptr<BlockJob>> inFlight_;  // in the order given; the caller's alone
    std::mutex lock_;
    std::condition_variable jobReady_;
    std::condition_variable jobDone_;
    std::deque<std::shared_ptr<BlockJob>> waiting_;  // given, not yet taken by a worker
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace pack
