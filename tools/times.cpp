// Converting between FILETIME and Unix times, and showing a FILETIME as local time.
#include "tools/times.h"

#include <ctime>

#include "tools/system.h"

namespace tool {

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

}  // namespace

std::string FormatFileTime(uint64_t fileTime) {
    if (fileTime == 0) return "-";
    int64_t seconds, nanoseconds;
    UnixFromFileTime(fileTime, seconds, nanoseconds);
    tm local{};
    if (!os::LocalTime(seconds, local)) return "-";
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    int64_t ticks = seconds * 10000000 + nanoseconds / 100;
    if (ticks < -static_cast<int64_t>(kUnixEpochAsFileTime)) return 0;
    return kUnixEpochAsFileTime + static_cast<uint64_t>(ticks);
}

void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds) {
    int64_t ticks = static_cast<int64_t>(fileTime - kUnixEpochAsFileTime);
    seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    nanoseconds = rest * 100;
}

}  // namespace tool
