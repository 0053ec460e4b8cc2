// Path rules of the front end: the default destination, the trailing separator, the directory part
// of a path, the creation of missing directory levels, and the joining of destination and entry
// name under the entry-name rule that every reader follows (format/entry_name.h). Entry names use
// "\" between levels whatever the system; destinations are spelled in the platform's own style.
#include <cstring>

#include "format/entry_name.h"
#include "sfx/core/messages.h"
#include "sfx/core/sfx_core.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

char NativeSeparator(PathStyle style) {
    return style == PathStyle::Windows ? '\\' : '/';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

void GetDefaultExtractDir(Platform& platform, char* out) {
    char own[kTextBytes];
    own[0] = '\0';
    platform.GetOwnPath(own, sizeof own);
    own[kTextBytes - 1] = '\0';

    // Drive: the first two characters when the second is a colon.
    size_t driveEnd = (own[0] != '\0' && own[1] == ':') ? 2 : 0;
    // Directory: up to and including the last separator, stepping over double-byte characters.
    size_t directoryEnd = driveEnd;
    for (size_t i = driveEnd; own[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(own[i]);
        if (platform.IsLeadByte(c) && own[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/') directoryEnd = i + 1;
    }
    memcpy(out, own, directoryEnd);
    out[directoryEnd] = '\0';
}

void AddTrailingBackslash(PathStyle style, char* path) {
    char separator = NativeSeparator(style);
    size_t length = strlen(path);
    if (length != 0 && path[length - 1] == separator) return;
    if (length + 1 >= kTextBytes) return;  // no room: callers check the length first
    path[length] = separator;
    path[length + 1] = '\0';
}

void GetDirectoryPart(PathStyle style, char* out, const char* path) {
    const char* last = strrchr(path, NativeSeparator(style));
    if (last == nullptr) {
        out[0] = '\0';
        return;
    }
    size_t length = static_cast<size_t>(last - path) + 1;
    memcpy(out, path, length);
    out[length] = '\0';
}

int EnsureDirectory(Platform& platform, Dialog& owner, char* path, bool ask) {
    PathStyle style = platform.Style();
    char separator = NativeSeparator(style);
    size_t length = strlen(path);
    if (length == 0 || path[length - 1] != separator) {
        if (length + 1 >= kTextBytes) {
            owner.ShowMessage(texts::kFolderTooLong, texts::kErrorCaption, kBoxOk | kBoxIconError);
            return 0;
        }
        AddTrailingBackslash(style, path);
        ++length;
    }

    // A network share (\\server\share\) is a root like a drive's: its levels are never tested
    // or created.
    size_t first = 0;
    if (style == PathStyle::Windows && path[0] == '\\' && path[1] == '\\') {
        int separators = 0;
        for (first = 2; first < length && separators < 2; ++first) {
            if (path[first] == '\\') ++separators;
        }
    }

    bool agreed = false;
    char level[kTextBytes];
    for (size_t i = first; i < length; ++i) {
        if (style == PathStyle::Windows && path[i] == ':') {
            ++i;  // the drive's root is never tested or created
            continue;
        }
        if (path[i] != separator) continue;
        memcpy(level, path, i + 1);
        level[i + 1] = '\0';
        if (platform.DirectoryExists(level)) continue;
        if (ask && !agreed) {
            int answer = owner.ShowMessage(texts::kCreateFolderQuestion, texts::kErrorCaption,
                                           kBoxYesNo | kBoxIconInformation);
            if (answer != kAnswerYes) return 0;
        }
        agreed = true;
        if (!platform.CreateDirectoryLevel(level)) {
            owner.ShowMessage(texts::kCreateFolderFailed, texts::kErrorCaption,
                              kBoxOk | kBoxIconError | kBoxForeground);
            return 0;
        }
    }
    return 1;
}

EntryPathVerdict BuildEntryPath(PathStyle style, const char* destination, const char* name,
                                char* out) {
    format::NameRules rules =
        style == PathStyle::Windows ? format::NameRules::Windows : format::NameRules::Portable;
    if (format::CheckEntryName(name, rules) != format::EntryNameVerdict::Safe) {
        return EntryPathVerdict::LeavesDestination;
    }

    char path[kTextBytes];
    if (!CopyText(path, sizeof path, destination)) return EntryPathVerdict::TooLong;
    size_t length = strlen(path);
    if (length == 0 || path[length - 1] != NativeSeparator(style)) {
        if (length + 1 >= kTextBytes) return EntryPathVerdict::TooLong;
        AddTrailingBackslash(style, path);
    }
    size_t start = strlen(path);
    if (!AppendText(path, sizeof path, name)) return EntryPathVerdict::TooLong;
    for (size_t i = start; path[i] != '\0'; ++i) {
        if (format::IsEntrySeparator(path[i])) path[i] = NativeSeparator(style);
    }

    // Every text later built from the entry must fit as well.
    size_t nameLength = strlen(name);
    size_t pathLength = strlen(path);
    if (sizeof texts::kCurrentFilePrefix - 1 + nameLength > kMaxTextLength) {
        return EntryPathVerdict::TooLong;
    }
    if (sizeof texts::kOverwritePrefix - 1 + pathLength + sizeof texts::kOverwriteSuffix - 1 >
        kMaxTextLength) {
        return EntryPathVerdict::TooLong;
    }
    memcpy(out, path, pathLength + 1);
    return EntryPathVerdict::Fits;
}

void SplitEntryPath(PathStyle style, const char* path, size_t nameLength, EntryPlace* place) {
    char separator = NativeSeparator(style);
    size_t start = strlen(path) - nameLength;
    memcpy(place->destination, path, start);
    place->destination[start] = '\0';
    const char* entry = path + start;
    const char* last = strrchr(entry, separator);
    place->leaf = last != nullptr ? last + 1 : entry;
    // The levels the system would step over anyway ("", ".") are left out: the one way of making
    // folders takes only real levels.
    size_t length = 0;
    for (const char* level = entry; last != nullptr && level <= last;) {
        const char* end = strchr(level, separator);
        size_t size = static_cast<size_t>(end - level);
        bool real = size != 0 && !(size == 1 && level[0] == '.');
        if (real && length != 0) place->relative[length++] = separator;
        if (real) memcpy(place->relative + length, level, size);
        if (real) length += size;
        level = end + 1;
    }
    place->relative[length] = '\0';
}

bool ResolveDestination(Platform& platform, const char* destination, char* out) {
    char resolved[kTextBytes];
    resolved[0] = '\0';
    const char* rest = destination;
    if (platform.Style() == PathStyle::Windows) {
        bool hasDrive = IsAsciiLetter(destination[0]) && destination[1] == ':';
        if (hasDrive && format::IsEntrySeparator(destination[2])) {
            rest = destination;  // absolute: X:\...
        } else if (format::IsEntrySeparator(destination[0]) &&
                   format::IsEntrySeparator(destination[1])) {
            rest = destination;  // a network share: \\server\share
        } else if (hasDrive) {
            // Relative to the drive's current folder, which the existence tests keep moving:
            // taken from the drive's root instead.
            resolved[0] = destination[0];
            resolved[1] = ':';
            resolved[2] = '\\';
            resolved[3] = '\0';
            rest = destination + 2;
        } else {
            char folder[kTextBytes];
            GetDefaultExtractDir(platform, folder);
            if (format::IsEntrySeparator(destination[0])) {
                // Rooted on the current drive: the drive of the program's own file.
                if (folder[0] != '\0' && folder[1] == ':') {
                    resolved[0] = folder[0];
                    resolved[1] = ':';
                    resolved[2] = '\0';
                }
            } else {
                memcpy(resolved, folder, strlen(folder) + 1);
            }
        }
    } else if (destination[0] != '/') {
        GetDefaultExtractDir(platform, resolved);
    }
    if (!AppendText(resolved, sizeof resolved, rest)) return false;
    memcpy(out, resolved, strlen(resolved) + 1);
    return true;
}

}  // namespace sfx
