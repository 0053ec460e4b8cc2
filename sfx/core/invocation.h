// What one start of a self-extractor was asked to do, as either front end's command line says it
// (sfx/core/command_line.h fills it), and Run, the one dispatch of it: the refusal or the usage,
// the settings check, the password file, the looks at the archive, the run without questions or
// the dialog, and the exit code (format/exit_code.h). Both front ends' mains are a parse and a Run.
#pragma once

#include <optional>

#include "format/sfx_settings.h"

namespace sfx {

class Platform;

// Whose switches these are: they choose the usage and the refusal texts, and whether the dialog's
// run tells its caller how it went (the Windows stub's dialog ends with 0, by design, unless a
// packed licence is declined).
enum class FrontEnd { Windows, Console };

enum class RunMode {
    Extract,  // the dialog, or with unattended a run without questions
    Help,     // the usage, nothing else
    Info,     // the Linux program's looks at its archive; nothing is extracted
    List,
    Check,
};

enum class ArgumentsStatus {
    Ok,
    Unknown,       // a switch or option this program does not have, or a stray word
    MissingValue,  // a switch or option that needs a value was given none
    BadValue,      // a value that switch or option cannot take
    Repeated,      // the same switch or option twice
    Conflict,      // two that exclude each other, or one that needs another
};

// Texts point into the argument words; nothing is copied or allocated.
struct Invocation {
    FrontEnd frontEnd = FrontEnd::Windows;
    RunMode mode = RunMode::Extract;
    bool unattended = false;            // /S, --quiet: no window and no questions
    const char* destination = nullptr;  // /D=, --target (the built-in folder when not given)
    // /O=, --overwrite, --skip-existing; not given: as packed.
    std::optional<format::SfxOverwrite> overwrite;
    const char* password = nullptr;      // /P=, or the first line of passwordFile once read
    const char* passwordFile = nullptr;  // --password-file, /P=@FILE
    bool noexec = false;                 // extract, run nothing
    bool keep = false;                   // keep the temporary folder
    bool accept = false;                 // /ACCEPT, --accept: the packed licence is accepted unseen
    bool progress = false;  // /PROGRESS, --progress: a run without questions shows its progress
    const char* logPath = nullptr;             // /LOG=, --log: the file the run appends to
    const char* const* programArgs = nullptr;  // the words after "--", for the program
    int programArgCount = 0;
    ArgumentsStatus status = ArgumentsStatus::Ok;
    int bad = -1;                   // the index of the word refused
    const char* refused = nullptr;  // that word
};

// Carries out invocation on platform and returns the process's exit code.
int Run(const Invocation& invocation, Platform& platform);

}  // namespace sfx
