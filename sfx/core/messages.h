// Every text the self-extractor shows, in one table: message boxes and their captions, the lines
// of the progress area, the prompts. They are the program's own words, kept exactly as its users
// know them, including "ovewrite" in the overwrite question: that spelling is the program's own,
// not a slip to mend. The dialog templates carry their own texts in sfx/win32/vornsfx.rc; the
// password prompt's line is repeated here for the front ends that have no templates.
#pragma once

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
inline constexpr char kEntryLeavesDestination[] =
    "This entry's path would leave the destination folder; it is not extracted.";
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

}  // namespace sfx::texts
