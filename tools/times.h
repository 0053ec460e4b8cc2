// Times as archives keep them (Windows FILETIME: 100 ns intervals since 1601) and as the tool shows
// them or the system gives them (seconds and nanoseconds since 1970).
#pragma once

#include <cstdint>
#include <string>

namespace tool {

// Local time, ISO style ("2024-05-01 14:03:07"), of a FILETIME; "-" for 0.
std::string FormatFileTime(uint64_t fileTime);

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
// Seconds and nanoseconds since 1970 of a FILETIME.
void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds);

}  // namespace tool
