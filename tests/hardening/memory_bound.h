// Runs a piece of a test under a memory budget. Sanitizer builds count the heap through the
// allocator's hooks and compare the peak; other Linux builds run the piece in a child process
// whose address space is capped at what it has plus the budget, so an allocation past the budget
// fails (and a hang is cut off by an alarm). Elsewhere the piece simply runs.
#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORN_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VORN_TEST_ASAN 1
#endif

#if defined(VORN_TEST_ASAN)
#include <atomic>

// The allocator's hook interface, declared here because not every compiler ships its header.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#elif defined(__linux__)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace hardening {

constexpr size_t kMiB = size_t{1} << 20;

#if defined(VORN_TEST_ASAN)
// Signed: blocks allocated before the hooks were installed are freed without having been counted.
inline std::atomic<int64_t> g_liveBytes{0};
inline std::atomic<int64_t> g_peakBytes{0};

inline void CountMalloc(const volatile void*, size_t size) {
    int64_t now = g_liveBytes.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
    int64_t peak = g_peakBytes.load();
    while (now > peak && !g_peakBytes.compare_exchange_weak(peak, now)) {
    }
}
inline void CountFree(const volatile void* ptr) {
    if (ptr) g_liveBytes.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(ptr)));
}
#endif

// Runs piece (which makes its own EXPECTs) and fails the test when the heap it allocated beyond
// what was live before rose above budget bytes at any moment.
inline void ExpectWithinMemory(size_t budget, const std::function<void()>& piece) {
#if defined(VORN_TEST_ASAN)
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(CountMalloc, CountFree);
    ASSERT_TRUE(installed);
    const int64_t before = g_liveBytes.load();
    g_peakBytes.store(before);
    piece();
    EXPECT_LE(g_peakBytes.load() - before, static_cast<int64_t>(budget))
        << "heap peak beyond the budget";
#elif defined(__linux__)
    // The child's failures are its exit status: nothing of its GoogleTest state comes back.
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                     static_cast<rlim_t>(budget);
        struct rlimit limit = {cap, cap};
        setrlimit(RLIMIT_AS, &limit);
        alarm(120);
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &failures);
            piece();
        }
        for (int i = 0; i < failures.size(); ++i) {
            std::fprintf(stderr, "%s\n", failures.GetTestPartResult(i).message());
        }
        _exit(failures.size() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the piece failed, ran out of its memory budget or hung (wait status " << status << ")";
#else
    (void)budget;
    piece();
#endif
}

}  // namespace hardening
