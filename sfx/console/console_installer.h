// The Linux self-extractor's command line and what it does beyond the walk: the usage, the
// password file, the modes that look without extracting (--info, --list, --check), the
// temporary folder, and the program run after extraction (execv, never a shell line).
#pragma once

#include <cstdio>
#include <string>

#include "sfx/core/invocation.h"
#include "sfx/core/sfx_core.h"

namespace console {

void PrintUsage(FILE* stream, const char* program);

// The licence's text, escaped as a comment is: through $PAGER (else "less") when stdout is a
// terminal, printed when it is not or no pager runs.
void ShowLicense(const char* text);

// The first bytes of the file at path, at most capacity; false when it cannot be opened or read.
bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count);

// --info, --list, --check on the program's own archive, with the invocation's password; returns
// the exit code.
int Inspect(sfx::Platform& platform, sfx::RunMode mode);

// A new folder "vorn-XXXXXX" (mode 0700) in $TMPDIR, else /tmp; its path in out (kTextBytes).
bool MakeTemporaryFolder(char* out);
// Removes path and everything below it, never following a symbolic link out of it.
bool RemoveFolderTree(const char* path);

// Sets the program's execute bit and runs it with execv in the extraction folder; a file the
// system cannot execute (a script without "#!") runs with /bin/sh. Waits for it: its exit code,
// or 128 plus the signal that ended it.
sfx::ProgramResult RunAndWait(const sfx::ProgramLaunch& launch, int* exitCode);

}  // namespace console
