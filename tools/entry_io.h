// Decoding one entry through the library: into a file (by way of a temporary file beside it, so
// that a failed or wrongly deciphered entry never replaces a good file) or into nothing, for
// "vorn test". Progress goes to one slot of a ProgressBar, carried as the library's report context.
#pragma once

#include <cstdint>
#include <string>

#include "archive/vorn.h"
#include "format/status.h"
#include "tools/progress_bar.h"

namespace tool {

// Where the progress of one entry's decoding shows: a slot of a bar, and the size a percentage of
// the entry stands for. The slot shows nothing again once the entry is done.
struct ProgressTarget {
    ProgressBar* bar = nullptr;
    int slot = 0;
    uint64_t entryBytes = 0;
};

// Decodes the entry and checks its CRC-32 without keeping the bytes. progress may be null; with
// threads above 1, the blocks of an entry of several blocks are decoded on that many threads.
format::Status DecodeAndCheck(void* handle, const VORN_FILEINFO& info, const char* password,
                              ProgressTarget* progress, unsigned threads);

// Extracts the entry to path and returns the public status code. On success the file carries the
// entry's time and read-only bit; on failure path is left as it was and nothing else remains.
// error receives the reason of a failure of the file system (the code is then
// VORN_E_INVALID_ARGUMENT). progress may be null; threads as for DecodeAndCheck.
uint32_t ExtractToPath(void* handle, const VORN_FILEINFO& info, const char* password,
                       const std::string& path, ProgressTarget* progress, unsigned threads,
                       std::string& error);

}  // namespace tool
