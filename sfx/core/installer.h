// What a self-extractor packed as an installer does beyond extracting: the settings chosen at
// packing, the program run after extraction (only when every entry extracted), the temporary
// folder, the run without questions, and the exit code that tells a script what happened. The
// decisions are plain functions over plain data; the platform starts the program, makes and
// removes folders and prints lines where it has a console.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/sfx_settings.h"
#include "sfx/core/command_line.h"
#include "sfx/core/sfx_core.h"

namespace sfx {

// The settings read from g_abSettings at start-up (LoadSettings); none while unread or damaged.
extern format::SfxSettings g_settings;
format::SfxSettingsStatus LoadSettings();

// How the last walk went (ExtractThread fills it).
struct WalkOutcome {
    uint64_t entries = 0;        // entries to extract (the comment entry not counted)
    uint64_t extracted = 0;      // extracted without error
    uint64_t kept = 0;           // existing files kept by choice
    uint64_t failed = 0;         // refused, failed, or kept where nothing said to keep them
    bool complete = false;       // the walk reached its last entry
    bool wrongPassword = false;  // a missing or wrong password stopped a run without questions
};
extern WalkOutcome g_walk;

// A run without questions: its password and what it does with existing files. While one is set
// (g_pUnattended), the walk asks nothing: existing files follow the choice, a password needed
// and not given (or wrong) stops the walk, and no completion question is asked.
struct UnattendedRun {
    const char* password = nullptr;
    format::SfxOverwrite overwrite = format::SfxOverwrite::Ask;
};
extern const UnattendedRun* g_pUnattended;

// The starting state of the overwrite question: the packed choice unless a switch overrides it.
format::SfxOverwrite EffectiveOverwrite(OverwriteChoice choice);

// The answer a run without questions gives to "exists already, overwrite it?", and whether the
// entry then counts as failed: Always: Yes; Never: No, kept; Ask: No, and a failure, since
// nobody said to keep the file.
int UnattendedOverwriteAnswer(format::SfxOverwrite overwrite, bool* countsAsFailure);

// Whether the program runs after this walk: there is one, it is wanted, and every entry was
// extracted or kept by choice.
bool ShouldRunProgram(const WalkOutcome& walk, bool noexec);

// The program's full path under folder, and where its arguments start in the program line.
// False when the line names no program, or the path would not fit or leave the folder.
bool ProgramPath(PathStyle style, const char* folder, char* path, size_t* argumentsAt);

// Everything that decides a run's exit code without questions.
struct RunReport {
    bool opened = false;        // the archive opened (with the given password)
    bool folderFailed = false;  // the destination or temporary folder could not be made
    bool interrupted = false;   // cancelled from outside (Ctrl-C, a Close)
    WalkOutcome walk;
    bool programWanted = false;  // a program was to run after this walk
    bool programStarted = false;
    int programExitCode = 0;
};

// 0 all extracted (or the program's own exit code when one ran), 1 some entries failed, 2 the
// archive could not be opened, a wrong or missing password, an interrupted run, or a program
// that was to run and could not start.
int UnattendedExitCode(const RunReport& report);

// Words given after "--", handed to the program; set by the front end before start-up.
extern const char* const* g_ppszProgramArgs;
extern int g_nProgramArgs;
// Front ends with options (the Linux program's --noexec and --keep) set these before start-up:
// run nothing after the walk, and keep the temporary folder.
extern bool g_bNoExec;
extern bool g_bKeepTemporary;

// After a walk in the dialog, when a program was packed: starts it when every entry was
// extracted (waiting for it, and then removing the folder, in temporary mode) and ends the
// dialog; otherwise says why it does not start. True when the dialog was ended.
bool RunProgramAfterWalk(Platform& platform, MainDialog& dialog);

// A run without questions (Windows /S, the Linux program's --quiet).
struct UnattendedOptions {
    const char* destination = nullptr;  // null: the built-in folder, else the program's own
    const char* password = nullptr;
    OverwriteChoice overwrite = OverwriteChoice::Packed;
    bool noexec = false;  // extract, run nothing
    bool keep = false;    // keep the temporary folder
};

// Opens the program's own archive, extracts every entry into the destination (or a new
// temporary folder), runs the program when one was packed and every entry extracted, removes the
// temporary folder, and returns the exit code. One line per entry and every error go to
// platform.PrintLine.
int RunUnattended(Platform& platform, const UnattendedOptions& options);

}  // namespace sfx
