// The name of the temporary file an entry is extracted into, beside its target.
#pragma once

#include <cstddef>
#include <string>

namespace tool {

// The library takes paths of at most this many bytes.
constexpr size_t kLibraryPathLimit = 255;

// A name in dir for the temporary file of the target named leaf there: "." and as much of leaf as
// fits, then ".vorn-" and 72 random bits. Longer than kLibraryPathLimit only when dir is too deep
// for any; empty when the system has no random bytes to give.
std::string TempNameBeside(const std::string& dir, const std::string& leaf);

}  // namespace tool
