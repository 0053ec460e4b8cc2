// Known folders at the start of a self-extractor's built-in destination: "%ProgramFiles%\Sample"
// on Windows, "~/sample" or "$XDG_DATA_HOME/sample" on Linux, each resolved on the user's machine
// when the self-extractor starts. The one rule of which names exist and how the prefix is read,
// shared by the packer (which refuses an unknown name) and both self-extractors (which look the
// folder up at their platform's edge). Plain functions over bytes, free of the standard library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace format {

enum class KnownFolder : uint8_t {
    None,  // the destination is literal text
    ProgramFiles,
    ProgramFilesX86,
    LocalAppData,
    AppData,
    UserProfile,
    Temp,
    Home,         // "~" or "$HOME"
    XdgDataHome,  // "$XDG_DATA_HOME", else ~/.local/share
};

enum class FolderSystem : uint8_t { Windows, Posix };

struct KnownFolderName {
    const char* name;  // as written, its leading and closing characters included
    KnownFolder folder;
    FolderSystem system;
};

// The one table of names. Windows names are matched in any case, as the system's own are.
inline constexpr KnownFolderName kKnownFolderNames[] = {
    {"%ProgramFiles%", KnownFolder::ProgramFiles, FolderSystem::Windows},
    {"%ProgramFiles(x86)%", KnownFolder::ProgramFilesX86, FolderSystem::Windows},
    {"%LocalAppData%", KnownFolder::LocalAppData, FolderSystem::Windows},
    {"%AppData%", KnownFolder::AppData, FolderSystem::Windows},
    {"%UserProfile%", KnownFolder::UserProfile, FolderSystem::Windows},
    {"%Temp%", KnownFolder::Temp, FolderSystem::Windows},
    {"~", KnownFolder::Home, FolderSystem::Posix},
    {"$HOME", KnownFolder::Home, FolderSystem::Posix},
    {"$XDG_DATA_HOME", KnownFolder::XdgDataHome, FolderSystem::Posix},
};

enum class KnownFolderParse {
    Literal,      // no known-folder prefix: the text is a folder as it stands
    Known,        // a known folder of this system, then nothing or a separator
    Unknown,      // a name this system does not know, or one of the other system's
    NoSeparator,  // a known name run straight into more text ("%Temp%x", "~user")
};

struct KnownFolderPrefix {
    KnownFolder folder = KnownFolder::None;
    size_t length = 0;  // bytes of the prefix; the rest of the text follows it
};

inline bool SameNameByte(char a, char b, bool anyCase) {
    if (anyCase && a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (anyCase && b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    return a == b;
}

inline size_t FolderNameLength(const KnownFolderName& entry) {
    size_t length = 0;
    while (entry.name[length] != '\0') ++length;
    return length;
}

// Whether text (length bytes) starts with entry's name.
inline bool StartsWithFolderName(const char* text, size_t length, const KnownFolderName& entry) {
    bool anyCase = entry.system == FolderSystem::Windows;
    size_t i = 0;
    for (; entry.name[i] != '\0'; ++i) {
        if (i >= length || !SameNameByte(text[i], entry.name[i], anyCase)) return false;
    }
    return true;
}

// A destination's prefix as the self-extractors of system read it. Texts that start with "%",
// "~" or "$" name a known folder or are refused, so a publisher's typing error never becomes a
// folder named "%ProgramFile%" beside the program.
inline KnownFolderParse ParseKnownFolder(const char* text, size_t length, FolderSystem system,
                                         KnownFolderPrefix* out) {
    *out = KnownFolderPrefix();
    if (length == 0 || (text[0] != '%' && text[0] != '~' && text[0] != '$')) {
        return KnownFolderParse::Literal;
    }
    const KnownFolderName* found = nullptr;
    for (const KnownFolderName& entry : kKnownFolderNames) {
        if (!StartsWithFolderName(text, length, entry)) continue;
        // "$XDG_DATA_HOME" over "$HOME"-like shorter matches: the longest name wins.
        if (found == nullptr || FolderNameLength(entry) > FolderNameLength(*found)) {
            found = &entry;
        }
    }
    if (found == nullptr || found->system != system) return KnownFolderParse::Unknown;
    size_t used = FolderNameLength(*found);
    bool separator = used == length || text[used] == '/' ||
                     (system == FolderSystem::Windows && text[used] == '\\');
    if (!separator) return KnownFolderParse::NoSeparator;
    out->folder = found->folder;
    out->length = used;
    return KnownFolderParse::Known;
}

}  // namespace format
