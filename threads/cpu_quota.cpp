// The texts behind a control group's CPU quota, read as plain strings: the grant of cgroup v2's
// cpu.max and of cgroup v1's cfs files, and the process's own cgroup path in /proc/self/cgroup.
#include <charconv>
#include <cstddef>

#include "threads/usable_cpus.h"

namespace threads {

namespace {

std::string_view Trimmed(std::string_view text) {
    const std::string_view space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A whole decimal number, a leading minus allowed; false for anything else.
bool NumberOf(std::string_view text, long long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

}  // namespace

unsigned CpusOfQuota(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    const long long cpus = quota / period + (quota % period != 0 ? 1 : 0);
    return cpus > 0xFFFF ? 0xFFFFu : static_cast<unsigned>(cpus);
}

unsigned CpusOfCpuMax(std::string_view text) {
    text = Trimmed(text);
    const size_t gap = text.find(' ');
    if (gap == std::string_view::npos) return 0;
    const std::string_view quotaText = text.substr(0, gap);
    long long quota = 0;
    long long period = 0;
    if (quotaText == "max" || !NumberOf(quotaText, quota)) return 0;
    if (!NumberOf(text.substr(gap + 1), period)) return 0;
    return CpusOfQuota(quota, period);
}

unsigned CpusOfCfsQuota(std::string_view quotaText, std::string_view periodText) {
    long long quota = 0;
    long long period = 0;
    if (!NumberOf(Trimmed(quotaText), quota) || !NumberOf(Trimmed(periodText), period)) return 0;
    return CpusOfQuota(quota, period);
}

std::string CgroupPathOf(std::string_view procSelfCgroup, bool unified) {
    while (!procSelfCgroup.empty()) {
        const size_t end = procSelfCgroup.find('\n');
        const std::string_view line = procSelfCgroup.substr(0, end);
        procSelfCgroup =
            end == std::string_view::npos ? std::string_view{} : procSelfCgroup.substr(end + 1);
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (path.empty() || path[0] != '/') continue;
        if (unified) {
            if (line.substr(0, first) == "0" && controllers.empty()) return std::string(path);
            continue;
        }
        for (std::string_view rest = controllers; !rest.empty();) {
            const size_t comma = rest.find(',');
            if (rest.substr(0, comma) == "cpu") return std::string(path);
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        }
    }
    return {};
}

std::vector<std::string> CgroupPathAndParents(std::string_view path) {
    std::vector<std::string> paths;
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    while (!path.empty()) {
        paths.emplace_back(path);
        const size_t slash = path.rfind('/');
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
    }
    paths.emplace_back("/");
    return paths;
}

}  // namespace threads
