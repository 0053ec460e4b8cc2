// Every text the self-extractor shows, in one table: message boxes and their captions, the lines
// of the progress area, the prompts. They are the program's own words, kept exactly as its users
// know them, including "ovewrite" in the overwrite question: that spelling is the program's own,
// not a slip to mend. The dialog templates carry their own texts in sfx/win32/vornsfx.rc; the
// password prompt's line is repeated here for the front ends that have no templates.
#pragma once

#include "format/entry_name.h"

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
inline constexpr char kDoneQuestion[] = "Extraction Complete, Exit?";
inline constexpr char kDoneCaption[] = "Done";

// Passwords.
inline constexpr char kArchivePasswordPrompt[] =
    "This archive is protected, please enter the password for it below";
inline constexpr char kEntryPasswordPrompt[] =
    "This file is protected through encryption, please enter the password for the file below";
inline constexpr char kShortPassword[] = "The minimum password length is 6 characters";

// Installers: the program run after extraction, the temporary folder, runs without questions.
inline constexpr char kProgramCaption[] = "Tarnwick Archiver SFX";
inline constexpr char kProgramNotRun[] =
    "Not every file was extracted, so the program is not started.";
inline constexpr char kProgramCannotStart[] = "The program could not be started.";
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

// The Windows self-extractor's switches, shown for /? and for a command line it does not take.
inline constexpr char kSwitchesCaption[] = "Command line";
inline constexpr char kSwitchesUsage[] =
    "Switches (with / or -, in any case):\n"
    "  /S            extract without a window and without questions\n"
    "  /D=FOLDER     with /S: extract into FOLDER (default: the built-in folder, else the "
    "program's own)\n"
    "  /O=always     with /S: replace existing files\n"
    "  /O=never      with /S: keep existing files\n"
    "  /P=PASSWORD   with /S: the password of the archive and its files\n"
    "  /?            show this text\n"
    "  -- ARGS...    give ARGS to the program run after extraction\n"
    "Exit codes with /S: 0 all extracted (or the program's own), 1 some files failed, 2 the "
    "archive could not be opened, a wrong password, bad switches or an interrupted run.";

}  // namespace sfx::texts
