// The work pool and the resource pools its jobs borrow from: every job runs once, a ticket's wait
// sees its job's effects, the pool with no threads runs jobs on the caller's thread, and pooled
// things are reused rather than made again.
#include "threads/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "threads/resource_pool.h"

namespace {

using threads::ResourcePool;
using threads::WorkPool;

TEST(WorkPool, EveryJobRunsOnceAndItsTicketSeesItsResult) {
    for (unsigned threadCount : {0u, 1u, 2u, 4u}) {
        WorkPool pool(threadCount);
        EXPECT_EQ(pool.Threads(), threadCount);
        std::vector<int> results(200, 0);  // each written by its job alone, read after its wait
        std::vector<WorkPool::Ticket> tickets;
        for (size_t i = 0; i < results.size(); ++i) {
            tickets.push_back(pool.Submit([&results, i] { results[i] += static_cast<int>(i); }));
        }
        for (size_t i = 0; i < results.size(); ++i) {
            pool.Wait(tickets[i]);
            EXPECT_EQ(results[i], static_cast<int>(i)) << threadCount << " threads";
        }
    }
}

TEST(WorkPool, WithoutThreadsAJobRunsInsideSubmitOnTheCallersThread) {
    WorkPool pool(0);
    std::thread::id ranOn;
    pool.Submit([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(WorkPool, JobsRunOnThePoolsThreadsAtOnce) {
    // Two jobs that each wait for the other can only finish if two threads run them together.
    WorkPool pool(2);
    std::atomic<int> arrived{0};
    auto meet = [&] {
        ++arrived;
        while (arrived.load() < 2) std::this_thread::yield();
    };
    pool.Submit(meet);
    pool.Submit(meet);
    pool.WaitAll();
    EXPECT_EQ(arrived.load(), 2);
}

TEST(WorkPool, WaitAllAndTheEndOfThePoolRunEveryQueuedJob) {
    std::atomic<int> ran{0};
    {
        WorkPool pool(3);
        for (int i = 0; i < 50; ++i) pool.Submit([&] { ++ran; });
        pool.WaitAll();
        EXPECT_EQ(ran.load(), 50);
        for (int i = 0; i < 50; ++i) pool.Submit([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 100);
    WorkPool idle(2);
    idle.Wait(WorkPool::Ticket());  // an empty ticket names no job and does not block
}

TEST(ResourcePool, AThingGivenBackIsTakenAgainBeforeANewOneIsMade) {
    int made = 0;
    ResourcePool<std::vector<int>> pool([&] {
        ++made;
        return std::make_unique<std::vector<int>>();
    });
    const std::vector<int>* first = nullptr;
    {
        auto lease = pool.Take();
        lease->assign(1000, 7);
        first = &*lease;
    }
    auto again = pool.Take();
    EXPECT_EQ(&*again, first);
    EXPECT_EQ(again->capacity() >= 1000, true);  // a buffer keeps its capacity
    auto second = pool.Take();                   // the first is still lent
    EXPECT_NE(&*second, first);
    EXPECT_EQ(made, 2);
    // A lease moved keeps the thing lent once.
    auto moved = std::move(second);
    EXPECT_FALSE(second);
    EXPECT_TRUE(moved);
}

TEST(ResourcePool, JobsOnManyThreadsShareAFewThings) {
    std::atomic<int> made{0};
    ResourcePool<std::vector<uint8_t>> buffers([&] {
        ++made;
        return std::make_unique<std::vector<uint8_t>>();
    });
    {
        WorkPool pool(3);
        for (int i = 0; i < 300; ++i) {
            pool.Submit([&buffers, i] {
                auto buffer = buffers.Take();
                buffer->assign(64, static_cast<uint8_t>(i));
                for (uint8_t b : *buffer) EXPECT_EQ(b, static_cast<uint8_t>(i));
            });
        }
    }
    // Never more than one per thread at a time.
    EXPECT_LE(made.load(), 3);
    EXPECT_GE(made.load(), 1);
}

}  // namespace
