// The self-extractors' command lines, as plain decisions over the argument words: the Windows
// stub's switches (/S, /D=, /O=, /P=, /?, "--") and the Linux program's options (--help, --info,
// --list, --check, --target, --quiet, --noexec, --keep, --overwrite, --skip-existing,
// --password-file, "--"). A command line is outside input: anything not understood is refused
// with the offending word, and the caller prints the usage and does nothing else. The results
// point into the argument words; nothing is copied or allocated.
#pragma once

#include <cstddef>

#include "format/sfx_settings.h"

namespace sfx {

enum class ArgumentsStatus {
    Ok,
    Unknown,       // a switch or option this program does not have, or a stray word
    MissingValue,  // a switch or option that needs a value was given none
    BadValue,      // a value that switch or option cannot take
    Repeated,      // the same switch or option twice
    Conflict,      // two that exclude each other, or one that needs another
};

// How existing files are treated: as chosen at packing, or as a switch overrides it.
enum class OverwriteChoice { Packed, Always, Never };

// The Windows stub's switches, accepted with "/" or "-", case-insensitive.
struct WindowsSwitches {
    bool silent = false;                                  // /S
    bool help = false;                                    // /?
    const char* destination = nullptr;                    // /D=DIR
    const char* password = nullptr;                       // /P=PASSWORD
    OverwriteChoice overwrite = OverwriteChoice::Packed;  // /O=always|never
    int programArgs = 0;  // the first word after "--" (argc when none)
    int bad = -1;         // the word that was refused
};

// args are the words after the program's own name.
ArgumentsStatus ParseWindowsSwitches(int argc, const char* const* args, WindowsSwitches* out);

// What the Linux program is asked to do.
enum class ConsoleMode { Extract, Help, Info, List, Check };

struct ConsoleOptions {
    ConsoleMode mode = ConsoleMode::Extract;
    const char* target = nullptr;                         // --target DIR
    const char* passwordFile = nullptr;                   // --password-file FILE
    bool quiet = false;                                   // no questions
    bool noexec = false;                                  // extract, run nothing
    bool keep = false;                                    // keep the temporary folder
    OverwriteChoice overwrite = OverwriteChoice::Packed;  // --overwrite, --skip-existing
    int programArgs = 0;
    int bad = -1;
};

// args are the words after the program's own name. "--name=value" and "--name value" both work.
ArgumentsStatus ParseConsoleOptions(int argc, const char* const* args, ConsoleOptions* out);

// Appends arg to a Windows command line in out (capacity bytes, NUL included), quoted so that the
// system's own argument splitting gives it back unchanged, with a space before it unless out is
// empty. False, leaving out as it was, when it does not fit.
bool AppendWindowsArgument(char* out, size_t capacity, const char* arg);

}  // namespace sfx
