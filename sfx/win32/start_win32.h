// The Windows self-extractor's calls for what sfx/core settles at start and keeps for the run:
// the log file, the clock, the known folders and reading the archive beside the program. Paths
// cross to the wide calls through the 8-bit code page the stub's other calls use.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "format/known_folder.h"
#include "sfx/core/sfx_core.h"

namespace win32sfx {

// The log: opened for appending (created when missing), one WriteFile per line.
bool OpenLog(const char* path);
void WriteLog(const char* line, size_t length);
void CloseLog();

int64_t UnixTime();

// The folder's path with SHGetKnownFolderPath (GetTempPathW for %Temp%), no trailing backslash.
// A 32-bit stub on 64-bit Windows asks for the 64-bit Program Files when it means it.
bool KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity);

bool ReadFileSlices(const char* path, sfx::Platform::FileSlice slice, void* context);

}  // namespace win32sfx
