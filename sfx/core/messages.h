// Every text the self-extractor shows, in one table: message boxes and their captions, the lines
// of the progress area, the prompts. They are the program's own words, kept exactly as its users
// know them, including "ovewrite" in the overwrite question: that spelling is the program's own,
// not a slip to mend. The dialog templates carry their own texts in sfx/win32/vornsfx.rc; the
// password prompt's line is repeated here for the front ends that have no templates.
#pragma once

#include "format/entry_name.h"
#include "sfx/core/invocation.h"

namespace sfx::texts {

// Start-up.
inline constexpr char kErrorOpeningFile[] = "Error opening file";  // caption of a failed open

// The main dialog.
inline constexpr char kFontFailure[] = "Font failure";  // caption; the text is the face's name
inline constexpr char kCommentFace[] = "Courier New";
inline constexpr char kDestinationTooLong[] =
    "The destination folder's path is longer than 255 characters.";
inline constexpr char kCancelQuestion[] = "Are you sure you wish to cancel extraction?";
inline constexpr char kCancelCaption[] = "Cancel";
inline constexpr char kBrowseTitle[] = "Select the folder to extract to";
inline constexpr char kChosenFolderTooLong[] =
    "The chosen folder's path is longer than 255 characters.";

// Folders.
inline constexpr char kFolderTooLong[] = "The folder's path is longer than 255 characters.";
inline constexpr char kCreateFolderQuestion[] = "This directory does not exist, create now?";
inline constexpr char kCreateFolderFailed[] = "Error creating directory";
inline constexpr char kErrorCaption[] = "Error";

// The extraction walk.
inline constexpr char kCurrentFilePrefix[] = "Current file: ";
inline constexpr char kFilesDonePrefix[] = "Extracted files completed: ";
inline constexpr char kFilesDoneOf[] = " of ";
inline constexpr char kOverwritePrefix[] = "File ";
inline constexpr char kOverwriteSuffix[] = " exists already, ovewrite it?";
inline constexpr char kOverwriteCaption[] = "Tarnwick Archiver SFX";
inline constexpr char kEnumerationCaption[] = "Archive Enum Error";
using format::kEntryLeavesDestination;  // every reader's words for a refused name
inline constexpr char kEntryPathTooLong[] =
    "This entry's path is longer than 255 characters; it is not extracted.";
inline constexpr char kEntryThroughLink[] =
    "A folder of this entry's path is a link in the destination; it is not followed and the "
    "entry is not extracted.";
inline constexpr char kDoneQuestion[] = "Extraction Complete, Exit?";
inline constexpr char kDoneCaption[] = "Done";

// Passwords.
inline constexpr char kArchivePasswordPrompt[] =
    "This archive is protected, please enter the password for it below";
inline constexpr char kEntryPasswordPrompt[] =
    "This file is protected through encryption, please enter the password for the file below";
inline constexpr char kShortPassword[] = "The minimum password length is 6 characters";
// Before the file's name: it cannot be opened or read; or it gives no password for the reason
// format::PasswordFileProblem says after the name.
inline constexpr char kPasswordFileUnreadable[] = "Error: cannot read the password file ";
inline constexpr char kPasswordFileRefused[] = "Error: the password file ";

// Installers: the program run after extraction, the temporary folder, runs without questions.
inline constexpr char kProgramCaption[] = "Tarnwick Archiver SFX";
inline constexpr char kProgramNotRun[] =
    "Not every file was extracted, so the program is not started.";
inline constexpr char kProgramCannotStart[] = "The program could not be started.";
inline constexpr char kBatchArgumentRefused[] =
    "An argument after -- holds a character that cmd.exe reads for itself (& | < > ^ % ! \" ( ) "
    "or a line end); the program is a batch file, so nothing was extracted or run.";
inline constexpr char kTemporaryFolderFailed[] = "The temporary folder could not be made.";
inline constexpr char kTemporaryFolderLeft[] = "The temporary folder could not be removed.";
inline constexpr char kSettingsDamaged[] =
    "This self-extractor's settings are damaged; it cannot run.";
inline constexpr char kExistingKept[] = "exists already and is kept";
inline constexpr char kExistingNotReplaced[] =
    "exists already and is kept; nothing said to replace it, so it counts as not extracted";
inline constexpr char kExtractedPrefix[] = "extracted ";
inline constexpr char kProgramExitPrefix[] = "the program ended with exit code ";
inline constexpr char kWrongPassword[] = "Error: the password given is wrong.";
inline constexpr char kInterrupted[] = "Interrupted: extraction cancelled.";

// The licence (vorn pack --license): its dialog's words are in the template; these are the lines
// of a run that cannot show it and of a run in which it was declined.
inline constexpr char kLicenseCaption[] = "Licence";
inline constexpr char kLicenseUnreadable[] =
    "This self-extractor's licence cannot be read; nothing was extracted.";
inline constexpr char kLicenseDeclined[] = "The licence was not accepted; nothing was extracted.";
inline constexpr char kLicenseQuestion[] = "Do you accept this licence?";

// Why a run without questions ends before anything: its licence was not accepted on the command
// line.
inline const char* LicenseNotAcceptedLine(FrontEnd frontEnd) {
    return frontEnd == FrontEnd::Windows
               ? "Error: this self-extractor has a licence to accept; with /S, give /ACCEPT to "
                 "accept it. Nothing was extracted."
               : "Error: this self-extractor has a licence to accept; with --quiet, give --accept "
                 "to accept it (or run without --quiet to read it). Nothing was extracted.";
}
// The run's log, a folder known by name, an archive beside the program.
inline constexpr char kLogNotOpened[] = "Error: the log file cannot be opened for appending: ";
inline constexpr char kLogStarted[] = "started:";
inline constexpr char kLogFinished[] = "finished with exit code";
inline constexpr char kLogPasswordAsked[] = "password asked for";
inline constexpr char kLogArchivePassword[] = "the archive";
inline constexpr char kLogExtracted[] = "extracted";
inline constexpr char kLogProgramStarted[] = "program started:";
inline constexpr char kLogFolderMade[] = "temporary folder made:";
inline constexpr char kLogFolderRemoved[] = "temporary folder removed:";
inline constexpr char kLogFolderKept[] = "temporary folder kept:";
inline constexpr char kLogLicenceAccepted[] = "licence accepted";
inline constexpr char kLogLicenceDeclined[] = "licence declined";
inline constexpr char kLogDestination[] = "destination:";
inline constexpr char kKnownFolderFailed[] =
    "Error: the folder this self-extractor extracts into is named by a folder this system does "
    "not have or that does not fit 255 characters: ";
inline constexpr char kBesideChecking[] = "Checking the archive beside the program: ";
inline constexpr char kBesideMissing[] =
    "Error: the archive beside this program cannot be read; nothing was extracted: ";
inline constexpr char kBesideSize[] =
    "Error: the archive beside this program has not the size it was packed with; nothing was "
    "extracted: ";
inline constexpr char kBesideHash[] =
    "Error: the archive beside this program has been changed since it was packed; nothing was "
    "extracted: ";

// The command lines: usage and refusals, one row per front end.
inline constexpr char kSwitchesCaption[] = "Command line";
inline constexpr char kSwitchesUsage[] =
    "Switches (with / or -, in any case):\n"
    "  /S            extract without a window and without questions\n"
    "  /D=FOLDER     with /S: extract into FOLDER (default: the built-in folder, else the "
    "program's own)\n"
    "  /O=always     with /S: replace existing files\n"
    "  /O=never      with /S: keep existing files\n"
    "  /P=PASSWORD   with /S: the password of the archive and its files (visible to other "
    "users in the process list; a password that starts with @ is written @@)\n"
    "  /P=@FILE      with /S: the password, the first line of FILE (at most 259 bytes)\n"
    "  /ACCEPT       with /S: accept the packed licence (required when there is one)\n"
    "  /PROGRESS     with /S: show a window with the progress and a Cancel button\n"
    "  /LOG=FILE     append every entry, error and decision to FILE\n"
    "  /?            show this text\n"
    "  -- ARGS...    give ARGS to the program run after extraction\n"
    "Exit codes with /S: 0 all extracted (or the program's own), 1 some files failed, 2 the "
    "archive could not be opened, a wrong password, bad switches or an interrupted run.";
// The Linux program's usage follows "Usage: " and the program's name.
inline constexpr char kOptionsUsage[] =
    " [options] [-- arguments for the program run after extraction]\n"
    "Without options: asks where to extract (on a terminal) and extracts.\n"
    "  --help                 show this text\n"
    "  --info                 the comment, entries, sizes, default folder and the program run "
    "after extraction\n"
    "  --list                 list the entries\n"
    "  --check                decode and check every entry, extract nothing\n"
    "  --target DIR           extract into DIR\n"
    "  --quiet                no questions (existing files kept unless --overwrite; a needed "
    "password must come from --password-file)\n"
    "  --noexec               extract, but run no program\n"
    "  --keep                 keep the temporary folder\n"
    "  --overwrite            replace existing files\n"
    "  --skip-existing        keep existing files\n"
    "  --password-file FILE   the password, the first line of FILE (at most 259 bytes)\n"
    "  --accept               accept the packed licence without showing it (required with "
    "--quiet when there is one)\n"
    "  --progress             with --quiet: one line on a terminal with the progress\n"
    "  --log FILE             append every entry, error and decision to FILE\n"
    "Exit codes: 0 all extracted (or the program's own), 1 some entries failed or the walk "
    "stopped short, 2 the archive could not be opened, a wrong password, bad options or an "
    "interrupted run.";

struct Refusal {
    ArgumentsStatus status;
    const char* windows;  // after the word
    const char* console;  // after the word and a space
};
inline constexpr Refusal kRefusals[] = {
    {ArgumentsStatus::Unknown, " is not a switch of this program",
     "is not an option of this program"},
    {ArgumentsStatus::MissingValue, " needs a value", "needs a value"},
    {ArgumentsStatus::BadValue, " takes always or never", "takes no value"},
    {ArgumentsStatus::Repeated, " is given twice", "is given twice"},
    {ArgumentsStatus::Conflict, " is only for a run without questions (/S)",
     "cannot go with an option given before it"},
};

// Why the word was refused, in the front end's words.
inline const char* RefusalText(FrontEnd frontEnd, ArgumentsStatus status) {
    const Refusal* found = &kRefusals[0];
    for (const Refusal& refusal : kRefusals) {
        if (refusal.status == status) found = &refusal;
    }
    return frontEnd == FrontEnd::Windows ? found->windows : found->console;
}

// The line a run without a window prints for damaged settings.
inline const char* SettingsDamagedLine(FrontEnd frontEnd) {
    return frontEnd == FrontEnd::Windows
               ? kSettingsDamaged
               : "Error: This self-extractor's settings are damaged; it cannot run.";
}

}  // namespace sfx::texts
