// The pool of threads that encode blocks, and the order they are taken back in.
#include "pack/block_pipeline.h"

#include <algorithm>

namespace pack {

BlockPipeline::BlockPipeline(unsigned workers, size_t window)
    : window_(std::max<size_t>(window, workers)) {
    for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

BlockPipeline::~BlockPipeline() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void BlockPipeline::Give(std::shared_ptr<BlockJob> job) {
    inFlight_.push_back(job);
    {
        std::lock_guard<std::mutex> guard(lock_);
        waiting_.push_back(std::move(job));
    }
    jobReady_.notify_one();
}

std::shared_ptr<BlockJob> BlockPipeline::TakeOldest() {
    if (inFlight_.empty()) return nullptr;
    std::shared_ptr<BlockJob> oldest = inFlight_.front();
    inFlight_.pop_front();
    std::unique_lock<std::mutex> guard(lock_);
    jobDone_.wait(guard, [&] { return oldest->done; });
    return oldest;
}

void BlockPipeline::Work() {
    for (;;) {
        std::shared_ptr<BlockJob> job;
        {
            std::unique_lock<std::mutex> guard(lock_);
            jobReady_.wait(guard, [&] { return stopping_ || !waiting_.empty(); });
            if (waiting_.empty()) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const char* password = job->password ? job->password->c_str() : nullptr;
        job->status = AppendEntryBlock(job->input.data(), static_cast<uint32_t>(job->input.size()),
                                       job->method, job->encoder, password, job->encoded);
        job->input = std::vector<uint8_t>();  // its memory goes as soon as it is not needed
        {
            std::lock_guard<std::mutex> guard(lock_);
            job->done = true;
        }
        jobDone_.notify_all();
    }
}

}  // namespace pack
