// Which entry names every reader extracts: the one rule that the vorn tool, both self-extractors
// and the packer's name check follow. Names carry "\" (or "/") between folder levels and are
// joined below a destination folder; a name that could reach outside that folder, or that the
// system would read as something other than the file it names, is refused. Windows reads more
// names differently than other systems do, so it has a stricter rule, written here beside the
// portable one and nowhere else.
#pragma once

namespace format {

// The systems whose rules differ.
enum class NameRules {
    Portable,  // every system: no root, no drive or stream, no ".." level, a file name at the end
    Windows,   // also: no device names, no level of only dots and spaces, none ending in either
};

// Why a name is refused, or Safe. In the order the rule looks: the whole name first, then each
// level from the first.
enum class EntryNameVerdict {
    Safe,
    Empty,
    Rooted,              // starts with a separator: "\x", "\\server\x", "/x"
    Colon,               // "C:x", "C:\x", "a\b:c" (a stream of another file on Windows)
    DotDotLevel,         // a level "..": "..\x", "a\..\..\x"
    DotsAndSpacesLevel,  // Windows: ".", "...", ". .", ".. ", which it trims to "." or ".."
    TrailingDotOrSpace,  // Windows: "a.txt." or "a " is stored by Windows as another name
    DeviceName,          // Windows: CON, PRN, AUX, NUL, COM1-9, LPT1-9, COM and LPT with a
                         // superscript 1, 2 or 3, CONIN$, CONOUT$, with any extension
                         // ("nul.txt") and in any folder
    NoFileName,          // ends with a separator, or has no level but "." and empty ones
};

bool IsEntrySeparator(char c);

// The verdict on a NUL-terminated name under rules.
EntryNameVerdict CheckEntryName(const char* name, NameRules rules);

// The rules of the system this program runs on.
constexpr NameRules kNativeNameRules =
#ifdef _WIN32
    NameRules::Windows;
#else
    NameRules::Portable;
#endif

// What every reader says when it refuses a name, and the reason for each verdict, for a reader
// that says more (the tool: "refused NAME: ... (reason)").
inline constexpr char kEntryLeavesDestination[] =
    "This entry's path would leave the destination folder; it is not extracted.";
const char* EntryNameReason(EntryNameVerdict verdict);

}  // namespace format
