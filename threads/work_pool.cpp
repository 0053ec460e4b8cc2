// The pool's threads: each takes the oldest queued job, runs it without the lock and marks it
// done under the lock, which is what makes a job's effects visible to whoever waits on it.
#include "threads/work_pool.h"

namespace threads {

struct WorkPool::Job {
    std::function<void()> work;
    bool done = false;  // under the pool's lock
};

WorkPool::WorkPool(unsigned threads) {
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

WorkPool::~WorkPool() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    jobQueued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

WorkPool::Ticket WorkPool::Submit(std::function<void()> work) {
    auto job = std::make_shared<Job>();
    if (threads_.empty()) {
        work();
        job->done = true;
        return Ticket(std::move(job));
    }
    job->work = std::move(work);
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(job);
    }
    jobQueued_.notify_one();
    return Ticket(std::move(job));
}

void WorkPool::Wait(const Ticket& ticket) {
    if (!ticket.job_) return;
    std::unique_lock<std::mutex> guard(lock_);
    ++ticketWaiters_;
    jobDone_.wait(guard, [&] { return ticket.job_->done; });
    --ticketWaiters_;
}

void WorkPool::WaitAll() {
    std::unique_lock<std::mutex> guard(lock_);
    jobDone_.wait(guard, [&] { return queue_.empty() && running_ == 0; });
}

void WorkPool::Work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        // Queued jobs still run when the pool is being destroyed: someone may wait on them.
        jobQueued_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::shared_ptr<Job> job = std::move(queue_.front());
        queue_.pop_front();
        ++running_;
        guard.unlock();
        job->work();
        job->work = nullptr;  // what the job captured goes now, not when its ticket goes
        guard.lock();
        job->done = true;
        --running_;
        if (ticketWaiters_ != 0 || (queue_.empty() && running_ == 0)) jobDone_.notify_all();
    }
}

}  // namespace threads
