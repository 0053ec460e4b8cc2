// The self-extractors' command lines, as plain decisions over the argument words, each into one
// Invocation: the Windows stub's switches (/S, /D=, /O=, /P=, /?, "--") and the Linux program's
// options (the table in command_line.cpp). A command line is outside input: anything not
// understood is refused with the offending word, and Run prints the usage and does nothing else.
#pragma once

#include <cstddef>

#include "sfx/core/invocation.h"

namespace sfx {

// args are the words after the program's own name. Each fills *out (its frontEnd, status, bad and
// refused included) and returns its status.
ArgumentsStatus ParseWindowsSwitches(int argc, const char* const* args, Invocation* out);
// "--name=value" and "--name value" both work.
ArgumentsStatus ParseConsoleOptions(int argc, const char* const* args, Invocation* out);

// The refused word of invocation as its usage error names it, into out (capacity at least 4):
// a word's value may be a password ("/PP=secret", "/P:secret", "--passwrod=secret"), so a switch
// or option is named only up to its first "=" or ":", and a Windows word that starts with the
// password switch's letter only up to that letter, with "..." for what is left out. A word without
// a lead character is shown whole.
void ShownRefusedWord(const Invocation& invocation, char* out, size_t capacity);

// Appends arg to a Windows command line in out (capacity bytes, NUL included), quoted so that the
// system's own argument splitting gives it back unchanged, with a space before it unless out is
// empty. False, leaving out as it was, when it does not fit.
bool AppendWindowsArgument(char* out, size_t capacity, const char* arg);

}  // namespace sfx
