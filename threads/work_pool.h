// One way to run work on threads: a pool that owns its threads and runs the jobs given to it,
// oldest first. Callers that need their results in order keep the tickets in that order and wait
// on each in turn. What a job needs beyond its input (buffers, coder state, open handles) comes
// from a ResourcePool (threads/resource_pool.h) that outlives the jobs, so no job allocates its
// working memory afresh and no thread keeps state of its own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace threads {

class WorkPool {
  public:
    struct Job;
    // Names one job given to the pool; copies name the same job.
    class Ticket {
      public:
        Ticket() = default;

      private:
        friend class WorkPool;
        explicit Ticket(std::shared_ptr<Job> job) : job_(std::move(job)) {}
        std::shared_ptr<Job> job_;
    };

    // threads 0: no thread is started and every job runs on the caller's thread, inside Submit.
    explicit WorkPool(unsigned threads);
    // Runs the jobs still queued, then ends the threads.
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

    // Queues work for the next free thread. work must not throw.
    Ticket Submit(std::function<void()> work);
    // Returns once the ticket's job has run, its effects visible to the caller. An empty ticket
    // returns at once.
    void Wait(const Ticket& ticket);
    // Returns once every job submitted so far has run.
    void WaitAll();

  private:
    void Work();

    std::mutex lock_;
    std::condition_variable jobQueued_;
    std::condition_variable jobDone_;
    std::deque<std::shared_ptr<Job>> queue_;  // under lock_, as are the three below
    size_t running_ = 0;
    // Callers inside Wait: only they need a wake-up at every finished job. A caller inside
    // WaitAll needs one only when the last job ends, so thousands of small jobs do not wake it
    // thousands of times.
    size_t ticketWaiters_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The number of threads that a count of jobs asks for: one job runs on the caller's thread.
inline unsigned WorkerThreadsFor(unsigned jobs) {
    return jobs <= 1 ? 0 : jobs;
}

}  // namespace threads
