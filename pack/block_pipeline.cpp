// The order blocks are given to the pool in, and taken back in.
#include "pack/block_pipeline.h"

#include <algorithm>

namespace pack {

BlockPipeline::BlockPipeline(unsigned workers, size_t window)
    : window_(std::max<size_t>({window, workers, 1})), pool_(workers) {}

void BlockPipeline::Give(BlockJob job) {
    auto owned = std::make_unique<BlockJob>(std::move(job));
    BlockJob* j = owned.get();
    j->encoded = encodings_.Take();
    threads::WorkPool::Ticket ticket = pool_.Submit([this, j] {
        threads::ResourcePool<EncoderState>::Lease state = states_.Take();
        j->encoded->clear();
        j->status = AppendEntryBlock(j->input->data(), static_cast<uint32_t>(j->input->size()),
                                     j->method, j->encoder, *state, j->password, *j->encoded);
    });
    inFlight_.push_back(InFlight{std::move(owned), ticket});
}

BlockJob BlockPipeline::TakeOldest() {
    InFlight oldest = std::move(inFlight_.front());
    inFlight_.pop_front();
    pool_.Wait(oldest.ticket);
    return std::move(*oldest.job);
}

}  // namespace pack
