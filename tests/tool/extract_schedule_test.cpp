// The order of the parallel extraction queue: costliest entries first, and what that buys two
// workers that each take the next entry when they are free.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tools/entry_workers.h"

namespace {

using tool::CostliestFirst;
using tool::EstimatedExtractionWork;

// When the last of the workers finishes, each taking the next queued entry when it is free.
uint64_t FinishTime(const std::vector<uint64_t>& work, const std::vector<size_t>& order,
                    size_t workers) {
    std::vector<uint64_t> busyUntil(workers, 0);
    for (size_t i : order) {
        auto freeFirst = std::min_element(busyUntil.begin(), busyUntil.end());
        *freeFirst += work[i];
    }
    return *std::max_element(busyUntil.begin(), busyUntil.end());
}

std::vector<size_t> DirectoryOrder(size_t n) {
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    return order;
}

TEST(ExtractionQueue, CostliestEntriesComeFirstAndTiesKeepDirectoryOrder) {
    const std::vector<uint64_t> work = {5, 9, 5, 1, 9, 0};
    EXPECT_EQ(CostliestFirst(work, 2), (std::vector<size_t>{1, 4, 0, 2, 3, 5}));
    EXPECT_TRUE(CostliestFirst({}, 2).empty());
    EXPECT_EQ(CostliestFirst({7}, 2), (std::vector<size_t>{0}));
}

TEST(ExtractionQueue, ABigEntryLastInTheDirectoryNoLongerFinishesAlone) {
    // Many small entries, then one as large as all of them together.
    std::vector<uint64_t> work(8, 10);
    work.push_back(80);
    const uint64_t inOrder = FinishTime(work, DirectoryOrder(work.size()), 2);
    const uint64_t costliestFirst = FinishTime(work, CostliestFirst(work, 2), 2);
    EXPECT_EQ(inOrder, 120u);
    EXPECT_EQ(costliestFirst, 80u) << "the big entry on one worker, the small ones on the other";
}

TEST(ExtractionQueue, TwoWorkersShareMixedSizesEvenly) {
    // Entry sizes like a folder of documents, objects and archives; they split into two halves
    // of 333 each.
    const std::vector<uint64_t> work = {1, 84, 84, 77, 84, 24, 78, 83, 30, 46, 3, 60, 12};
    const uint64_t costliestFirst = FinishTime(work, CostliestFirst(work, 2), 2);
    EXPECT_LT(costliestFirst, FinishTime(work, DirectoryOrder(work.size()), 2));
    EXPECT_EQ(costliestFirst, 333u);
}

TEST(ExtractionQueue, SmallEntriesFollowInDirectoryOrder) {
    // Two large entries among many small ones: the large first, then the small as they stand,
    // so that neighbours in the archive are decoded one after another.
    std::vector<uint64_t> work(200, 10);
    for (size_t i = 0; i < work.size(); ++i) work[i] += i % 7;
    work[50] = 900;
    work[150] = 1000;
    const std::vector<size_t> order = CostliestFirst(work, 2);
    ASSERT_EQ(order.size(), work.size());
    EXPECT_EQ(order[0], 150u);
    EXPECT_EQ(order[1], 50u);
    EXPECT_TRUE(std::is_sorted(order.begin() + 2, order.end())) << "small ones in their order";
    // With one worker's share so small that nothing is small, it is costliest first throughout.
    const std::vector<uint64_t> even = {3, 1, 2};
    EXPECT_EQ(CostliestFirst(even, 2), (std::vector<size_t>{0, 2, 1}));
}

TEST(ExtractionWork, CompressedDataWeighsMoreThanStoredDataOfTheSameSize) {
    const uint64_t size = 8u << 20;
    const uint64_t stored = EstimatedExtractionWork(size, size + 20);
    const uint64_t wellCompressed = EstimatedExtractionWork(size, size / 10);
    const uint64_t poorlyCompressed = EstimatedExtractionWork(size, size / 2);
    EXPECT_EQ(stored, size) << "a stored entry is only copied";
    EXPECT_GT(wellCompressed, stored);
    EXPECT_GT(poorlyCompressed, wellCompressed) << "more tokens to decode for the same output";
    EXPECT_GT(EstimatedExtractionWork(2 * size, size / 10), wellCompressed);
    EXPECT_EQ(EstimatedExtractionWork(0, 0), 0u);
}

TEST(ExtractionWork, HostileSizesSaturateInsteadOfWrapping) {
    EXPECT_EQ(EstimatedExtractionWork(UINT64_MAX, UINT64_MAX - 1), UINT64_MAX);
    EXPECT_EQ(EstimatedExtractionWork(UINT64_MAX - 5, UINT64_MAX / 3), UINT64_MAX);
    EXPECT_GE(EstimatedExtractionWork(uint64_t{1} << 62, uint64_t{1} << 61), uint64_t{1} << 62);
}

}  // namespace
