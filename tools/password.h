// Where the password of a command comes from: -p, the first line of a --password-file, or the
// terminal when enciphered entries are to be decoded without one.
#pragma once

#include "tools/options.h"

namespace tool {

// Resolves --password-file into password; prints the failure and returns false.
bool ResolvePassword(Options& options);

// When enciphered entries are to be decoded and no password was given, asks for one on a
// terminal.
void AskEntryPasswordIfNeeded(Options& options, bool anyEnciphered);

}  // namespace tool
