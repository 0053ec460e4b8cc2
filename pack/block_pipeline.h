// Blocks encoded on a WorkPool and handed back in the order they were given. Every block stands
// alone (its context table and code trees start afresh), so a block's encoding is the same
// whichever thread makes it, and the archive the same bytes whatever the number of threads. At
// most a window of blocks is in flight, which bounds the memory: a block's input and its encoding
// each, taken from buffer pools that the pipeline keeps for all its blocks, and one encoder state
// per block being encoded, from a pool of states. With no worker thread a block is encoded on the
// caller's thread as it is given: the sequential writer.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "encoder/encoder_state.h"
#include "format/status.h"
#include "pack/entry_data.h"
#include "threads/resource_pool.h"
#include "threads/work_pool.h"

namespace pack {

struct BlockJob {
    // Given.
    threads::BufferPool::Lease input;
    Method method = Method::Stored;
    EncoderOptions encoder;
    const char* password = nullptr;  // the caller's; lives until the job is taken back
    // Made by a worker.
    threads::BufferPool::Lease encoded;
    format::Status status = format::Status::Ok;
};

class BlockPipeline {
  public:
    // workers threads (0: encode on the caller's thread); window jobs in flight at the most.
    BlockPipeline(unsigned workers, size_t window);

    // An empty input buffer for the next job, which keeps the capacity it had.
    threads::BufferPool::Lease InputBuffer() { return inputs_.Take(); }
    // Queues a job. The caller takes the oldest job back first while Full().
    void Give(BlockJob job);
    // The oldest job given and not taken back, once it is encoded. Only while !Empty().
    BlockJob TakeOldest();
    bool Full() const { return inFlight_.size() >= window_; }
    bool Empty() const { return inFlight_.empty(); }

  private:
    struct InFlight {
        std::unique_ptr<BlockJob> job;  // stays put while a worker encodes it
        threads::WorkPool::Ticket ticket;
    };

    size_t window_;
    threads::BufferPool inputs_;
    threads::BufferPool encodings_;
    threads::ResourcePool<EncoderState> states_;  // one per block being encoded
    std::deque<InFlight> inFlight_;               // in the order given
    threads::WorkPool pool_;                      // last: its threads end before the rest goes
};

}  // namespace pack
