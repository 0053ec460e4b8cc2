// The system side of UsableCpus: the affinity mask and the cgroup's CPU quota on Linux, the
// active processors of every group bounded by the process affinity mask on Windows. Each source
// that cannot be read counts as no limit, so the answer never drops below what the others allow.
#include "threads/usable_cpus.h"

#include <algorithm>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#endif

namespace threads {

namespace {

#ifdef _WIN32

// GetActiveProcessorCount arrived with Windows 7 and processor groups, after the oldest system
// the tool runs on: it is looked up in kernel32 when the program starts using it.
unsigned ActiveProcessors() {
    constexpr WORD kAllProcessorGroups = 0xFFFF;
    using CountFunction = DWORD(WINAPI*)(WORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "GetActiveProcessorCount") : nullptr;
    if (found != nullptr) {
        auto count = reinterpret_cast<CountFunction>(reinterpret_cast<void*>(found));
        if (DWORD active = count(kAllProcessorGroups); active != 0) return active;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

// 0 for no limit: the call fails, or the process has threads in several groups (both masks 0).
unsigned AffinityProcessors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 0;
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
}

unsigned SystemCpus() {
    const unsigned active = ActiveProcessors();
    const unsigned allowed = AffinityProcessors();
    return allowed != 0 ? std::min(active, allowed) : active;
}

#else

// 0 when the mask cannot be read. The set grows until it holds every processor the kernel has.
unsigned AffinityProcessors() {
    for (int processors = 1024; processors <= (1 << 16); processors *= 2) {
        cpu_set_t* set = CPU_ALLOC(processors);
        if (set == nullptr) return 0;
        const size_t bytes = CPU_ALLOC_SIZE(processors);
        const bool read = sched_getaffinity(0, bytes, set) == 0;
        const int count = read ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (read) return static_cast<unsigned>(count);
        if (errno != EINVAL) return 0;
    }
    return 0;
}

bool ReadText(const std::string& path, std::string& text) {
    std::ifstream file(path);
    if (!file) return false;
    std::ostringstream all;
    all << file.rdbuf();
    text = all.str();
    return true;
}

// The tightest quota of the process's cgroup and the cgroups above it, 0 for none. The
// hierarchies are looked for where systemd and container runtimes mount them.
unsigned QuotaCpus() {
    std::string self;
    if (!ReadText("/proc/self/cgroup", self)) return 0;
    unsigned tightest = 0;
    auto take = [&tightest](unsigned cpus) {
        if (cpus != 0 && (tightest == 0 || cpus < tightest)) tightest = cpus;
    };
    const std::string unified = CgroupPathOf(self, true);
    for (const char* root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
        if (unified.empty()) break;
        for (const std::string& path : CgroupPathAndParents(unified)) {
            std::string text;
            if (ReadText(root + path + "/cpu.max", text)) take(CpusOfCpuMax(text));
        }
    }
    const std::string v1 = CgroupPathOf(self, false);
    for (const char* root : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
        if (v1.empty()) break;
        for (const std::string& path : CgroupPathAndParents(v1)) {
            std::string quota;
            std::string period;
            const std::string folder = root + path;
            if (ReadText(folder + "/cpu.cfs_quota_us", quota) &&
                ReadText(folder + "/cpu.cfs_period_us", period)) {
                take(CpusOfCfsQuota(quota, period));
            }
        }
    }
    return tightest;
}

unsigned SystemCpus() {
    unsigned cpus = AffinityProcessors();
    if (cpus == 0) cpus = std::thread::hardware_concurrency();
    const unsigned quota = QuotaCpus();
    return quota != 0 && (cpus == 0 || quota < cpus) ? quota : cpus;
}

#endif

}  // namespace

unsigned UsableCpus() {
    return std::max(1u, SystemCpus());
}

}  // namespace threads
