// The CPUs a process may use: the quota texts of both cgroup versions as a table, the cgroup path
// of /proc/self/cgroup, and a thread pinned to one processor counting exactly one.
#include "threads/usable_cpus.h"

#include <gtest/gtest.h>

#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

namespace {

using threads::CgroupPathAndParents;
using threads::CgroupPathOf;

TEST(UsableCpus, QuotaTextsGrantTheirCpusRoundedUpAndNoLimitOtherwise) {
    const struct {
        const char* cpuMax;
        unsigned cpus;
    } cases[] = {
        {"max 100000\n", 0},
        {"150000 100000\n", 2},
        {"50000 100000", 1},
        {"200000 100000", 2},
        {"100001 100000", 2},
        {"0 100000", 0},
        {"-1 100000", 0},
        {"100000 0", 0},
        {"max", 0},
        {"", 0},
        {"garbage", 0},
        {"12x 100000", 0},
        {"100000 100000 7", 0},
        {"  300000 100000 ", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(threads::CpusOfCpuMax(c.cpuMax), c.cpus) << c.cpuMax;
    EXPECT_EQ(threads::CpusOfCfsQuota("-1\n", "100000\n"), 0u);
    EXPECT_EQ(threads::CpusOfCfsQuota("250000\n", "100000\n"), 3u);
    EXPECT_EQ(threads::CpusOfCfsQuota("250000", "none"), 0u);
}

TEST(UsableCpus, TheCgroupPathIsTheUnifiedLineOrTheCpuController) {
    const char* hybrid = "12:cpuset:/set\n4:cpu,cpuacct:/slice/job\n0::/user.slice/s1\n";
    EXPECT_EQ(CgroupPathOf(hybrid, true), "/user.slice/s1");
    EXPECT_EQ(CgroupPathOf(hybrid, false), "/slice/job");
    EXPECT_EQ(CgroupPathOf("3:cpuacct:/a\n2:cpuset:/b\n", false), "");
    EXPECT_EQ(CgroupPathOf("1:cpu:/c", false), "/c");
    EXPECT_EQ(CgroupPathOf("broken line\n0::relative\n", true), "");
    EXPECT_EQ(CgroupPathAndParents("/a/b/"), (std::vector<std::string>{"/a/b", "/a", "/"}));
    EXPECT_EQ(CgroupPathAndParents("/"), std::vector<std::string>{"/"});
}

TEST(UsableCpus, AProcessPinnedToOneProcessorCountsOne) {
    const unsigned unpinned = threads::UsableCpus();
    EXPECT_GE(unpinned, 1u);
#ifdef _WIN32
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    const DWORD_PTR lowest = process & (~process + 1);
    if (!SetProcessAffinityMask(GetCurrentProcess(), lowest)) GTEST_SKIP() << "affinity fixed";
    EXPECT_EQ(threads::UsableCpus(), 1u);
    SetProcessAffinityMask(GetCurrentProcess(), process);
#else
    // The affinity belongs to each thread: pinning a thread of its own leaves the test's alone.
    unsigned pinned = 0;
    std::thread([&pinned] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        if (sched_setaffinity(0, sizeof one, &one) == 0) pinned = threads::UsableCpus();
    }).join();
    EXPECT_EQ(pinned, 1u);
#endif
    EXPECT_EQ(threads::UsableCpus(), unpinned);
}

}  // namespace
