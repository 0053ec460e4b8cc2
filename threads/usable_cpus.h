// How many CPUs this process may keep busy: the processors it is allowed to run on (its affinity)
// and, on Linux, the CPU time its control group grants (a quota of 1.5 CPUs is 2). Every pool
// sizes its default thread count from this, not from the machine's processor count: a process
// pinned to one core, or a container given two of 64, gains nothing from more threads and loses
// to their switching. The parsers are plain functions so the rules can be tested on texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace threads {

// The CPUs this process may use, at least 1. Reads the system each time it is called.
unsigned UsableCpus();

// The CPUs a quota of quota microseconds per period grants, rounded up: 0 for no limit
// (a quota or period that is not positive).
unsigned CpusOfQuota(long long quota, long long period);

// The CPUs a cgroup v2 cpu.max text grants ("150000 100000" is 2, "max 100000" is no limit);
// 0 for no limit or a text that is not "QUOTA PERIOD" or "max PERIOD".
unsigned CpusOfCpuMax(std::string_view text);

// The same for cgroup v1's two files, cpu.cfs_quota_us ("-1" for none) and cpu.cfs_period_us.
unsigned CpusOfCfsQuota(std::string_view quotaText, std::string_view periodText);

// The cgroup paths of /proc/self/cgroup's text ("ID:CONTROLLERS:PATH" lines): the unified
// hierarchy's (the "0::" line) when unified is true, else the one whose controllers hold "cpu".
// Empty when there is none.
std::string CgroupPathOf(std::string_view procSelfCgroup, bool unified);

// path and each folder above it up to "/", the deepest first: a parent's quota bounds its
// children, and inside a container the host's path may not exist but the container's root does.
std::vector<std::string> CgroupPathAndParents(std::string_view path);

}  // namespace threads
