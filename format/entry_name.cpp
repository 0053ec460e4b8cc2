// The entry-name rule, level by level. Plain C strings: the Windows self-extractor follows it too.
#include "format/entry_name.h"

#include <cstddef>
#include <cstring>

namespace format {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool IsDotsAndSpaces(const char* level, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (level[i] != '.' && level[i] != ' ') return false;
    }
    return length != 0;
}

// Windows opens a device, not a file, for these names whatever the folder or extension: the part
// before the first dot, trailing spaces dropped, in any case.
bool IsDeviceName(const char* level, size_t length) {
    size_t base = 0;
    while (base < length && level[base] != '.') ++base;
    while (base > 0 && level[base - 1] == ' ') --base;
    if (base > 7) return false;
    char upper[8];
    for (size_t i = 0; i < base; ++i) upper[i] = UpperAscii(level[i]);
    upper[base] = '\0';
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (strcmp(upper, device) == 0) return true;
    }
    bool port = base >= 4 && (memcmp(upper, "COM", 3) == 0 || memcmp(upper, "LPT", 3) == 0);
    if (!port) return false;
    if (base == 4) return upper[3] >= '1' && upper[3] <= '9';
    // Windows counts the superscript digits of its Latin-1 code page as digits too: COM¹, LPT³
    // (in UTF-8, C2 B9, C2 B2 and C2 B3).
    unsigned char lead = static_cast<unsigned char>(upper[3]);
    unsigned char digit = static_cast<unsigned char>(upper[4]);
    return base == 5 && lead == 0xC2 && (digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

EntryNameVerdict CheckLevel(const char* level, size_t length, NameRules rules) {
    if (length == 2 && level[0] == '.' && level[1] == '.') return EntryNameVerdict::DotDotLevel;
    if (rules != NameRules::Windows || length == 0) return EntryNameVerdict::Safe;
    if (IsDotsAndSpaces(level, length)) return EntryNameVerdict::DotsAndSpacesLevel;
    if (IsDeviceName(level, length)) return EntryNameVerdict::DeviceName;
    char last = level[length - 1];
    if (last == '.' || last == ' ') return EntryNameVerdict::TrailingDotOrSpace;
    return EntryNameVerdict::Safe;
}

bool IsFileLevel(const char* level, size_t length) {
    return length != 0 && !(length == 1 && level[0] == '.');
}

}  // namespace

bool IsEntrySeparator(char c) {
    return c == '\\' || c == '/';
}

EntryNameVerdict CheckEntryName(const char* name, NameRules rules) {
    if (name[0] == '\0') return EntryNameVerdict::Empty;
    if (IsEntrySeparator(name[0])) return EntryNameVerdict::Rooted;
    if (strchr(name, ':') != nullptr) return EntryNameVerdict::Colon;
    const char* level = name;
    for (const char* at = name;; ++at) {
        if (*at != '\0' && !IsEntrySeparator(*at)) continue;
        size_t length = static_cast<size_t>(at - level);
        EntryNameVerdict verdict = CheckLevel(level, length, rules);
        if (verdict != EntryNameVerdict::Safe) return verdict;
        if (*at == '\0') break;
        level = at + 1;
    }
    // The last level is the file: "a\" and "a\." name a folder, "." nothing.
    return IsFileLevel(level, strlen(level)) ? EntryNameVerdict::Safe
                                             : EntryNameVerdict::NoFileName;
}

const char* EntryNameReason(EntryNameVerdict verdict) {
    switch (verdict) {
        case EntryNameVerdict::Safe:
            return "a safe name";
        case EntryNameVerdict::Empty:
            return "the name is empty";
        case EntryNameVerdict::Rooted:
            return "the name starts at a root";
        case EntryNameVerdict::Colon:
            return "the name holds a colon, which names a drive or a stream";
        case EntryNameVerdict::DotDotLevel:
            return "a level is \"..\"";
        case EntryNameVerdict::DotsAndSpacesLevel:
            return "a level of only dots and spaces, which Windows reads as \".\" or \"..\"";
        case EntryNameVerdict::TrailingDotOrSpace:
            return "a level ends in a dot or a space, which Windows drops";
        case EntryNameVerdict::DeviceName:
            return "a level is a device name on Windows";
        case EntryNameVerdict::NoFileName:
            return "the name ends without a file name";
    }
    return "an unknown verdict";
}

}  // namespace format
