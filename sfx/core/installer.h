// What a self-extractor packed as an installer does beyond extracting: the settings chosen at
// packing, the program run after extraction (only when every entry extracted), the run without
// questions, and the exit code that tells a script what happened. The decisions are plain
// functions over plain data (the session, sfx/core/session.h); the platform starts the program,
// makes and removes folders and prints lines where it has a console.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/sfx_settings.h"
#include "sfx/core/session.h"
#include "sfx/core/sfx_core.h"

namespace sfx {

// Reads g_abSettings into session.settings; none while damaged.
format::SfxSettingsStatus LoadSettings(Session& session);

// The starting state of the overwrite question: the packed choice unless a switch overrides it.
format::SfxOverwrite EffectiveOverwrite(const Session& session);

// The answer a run without questions gives to "exists already, overwrite it?", and whether the
// entry then counts as failed: Always: Yes; Never: No, kept; Ask: No, and a failure, since
// nobody said to keep the file.
int UnattendedOverwriteAnswer(format::SfxOverwrite overwrite, bool* countsAsFailure);

// Whether the program runs after this walk: one was packed, it is wanted, and every entry was
// extracted or kept by choice.
bool ShouldRunProgram(const Session& session);

// The packed program's full path under folder, and where its arguments start in the program
// line. False when the line names no program, or the path would not fit or leave the folder.
bool ProgramPath(const format::SfxSettings& settings, PathStyle style, const char* folder,
                 char* path, size_t* argumentsAt);

// Whether the words after "--" must be refused: the packed program is a batch file, which runs
// through cmd.exe, and one of them holds a character cmd.exe reads for itself
// (format/batch_argument.h). Checked before anything is extracted or run.
bool BatchArgumentsRefused(const Session& session);

// The packed licence, when the settings ask for one: accepted on the command line (/ACCEPT,
// --accept), or read from the open archive and shown to the user (Platform::AskLicense). True
// when there is none or it was accepted; otherwise says why (a box, or a line) and sets the
// report's licenseDeclined, and nothing may be extracted.
bool AcceptLicense(Platform& platform, void* handle);

// The licence entry's text from the open archive, NUL-terminated, in memory the caller frees;
// null when it is missing, larger than format::kMaxLicenseBytes or does not decode.
char* ReadLicenseText(Platform& platform, void* handle);

// The exit code (format/exit_code.h): 0 all extracted, or nothing tried (the dialog left before
// a walk), or the program's own exit code when one ran; 1 some entries failed or the walk stopped
// short; 2 the archive could not be opened, a wrong or missing password, a folder that could
// not be made, an interrupted run, a licence not accepted, or a program that was to run and
// could not start.
int RunExitCode(const RunReport& report);

// After a walk in the dialog, when a program was packed: starts it when every entry was
// extracted (waiting for it, and then removing the folder, in temporary mode) and ends the
// dialog; otherwise says why it does not start. True when the dialog was ended.
bool RunProgramAfterWalk(Platform& platform, MainDialog& dialog);

// A run without questions (Windows /S, the Linux program's --quiet) as platform.session's
// invocation asks it: opens the program's own archive, extracts every entry into the destination
// (or a new temporary folder), runs the program when one was packed and every entry extracted,
// removes the temporary folder, and returns the exit code. One line per entry and every error go
// to platform.PrintLine.
int RunUnattended(Platform& platform);

}  // namespace sfx
