// Decoding one entry through the library: to a file (by way of a temporary file beside it, so
// that a failed or wrongly deciphered entry never replaces a good file) or to nowhere, for
// "vorn test". Progress goes to a ProgressBar slot through the library's plain callback.
#pragma once

#include <cstdint>
#include <string>

#include "archive/vorn.h"
#include "tools/cli_support.h"

namespace tool {

// Where the library's progress callback reports on this thread; null: nowhere.
struct ProgressTarget {
    ProgressBar* bar = nullptr;
    int slot = 0;
    uint64_t entryBytes = 0;
};

class ScopedProgress {
  public:
    explicit ScopedProgress(ProgressTarget* target);
    ~ScopedProgress();
};

// The callback handed to the library.
void ReportEntryProgress(int percent);

// Decodes the entry and checks its CRC without keeping the bytes. scratchDir is a private folder
// for the pipe that drains entries too large to decode in memory.
uint32_t DecodeToNowhere(void* handle, const VORN_FILEINFO& info, const char* password,
                         const std::string& scratchDir);

// Extracts the entry to path. On success the file carries the entry's time and read-only bit;
// on failure path is left as it was and nothing else remains. error receives the reason of a
// failure of the file system (the status is then VORN_E_INVALID_ARGUMENT).
uint32_t ExtractToPath(void* handle, const VORN_FILEINFO& info, const char* password,
                       const std::string& path, std::string& error);

// Creates every missing folder level of dir below root, refusing to pass through a symbolic
// link (an existing link could lead outside the destination). false with error on failure.
bool MakeFolderLevels(const std::string& root, const std::string& relativeDir, std::string& error);

}  // namespace tool
