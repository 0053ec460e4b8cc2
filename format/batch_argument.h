// Arguments for a batch program. Windows runs a .bat or .cmd file through cmd.exe, which reads
// the whole line itself before the batch file sees a word: "&", "|", "<" and ">" start commands
// and redirections, "^" escapes, "%" and "!" expand variables (the latter with delayed
// expansion), "(" and ")" group commands inside the batch file's own blocks, and a quote ends
// the quoting that would otherwise have kept all of these inert; a line end ends the command.
// No quoting makes every one of them safe in every place a batch file may use %1, so an argument
// holding one is refused, both by the packer and by the self-extractor, before anything runs.
// The packer checks the program line's own words; the self-extractor the words given after "--".
#pragma once

#include <cstddef>

namespace format {

// Whether a program of this name runs through cmd.exe: it ends in ".bat" or ".cmd", in any case.
inline bool IsBatchProgram(const char* name) {
    size_t length = 0;
    while (name[length] != '\0') ++length;
    if (length < 4 || name[length - 4] != '.') return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    char a = lower(name[length - 3]), b = lower(name[length - 2]), c = lower(name[length - 1]);
    return (a == 'b' && b == 'a' && c == 't') || (a == 'c' && b == 'm' && c == 'd');
}

// The characters cmd.exe reads for itself in an argument, as one text for messages.
inline constexpr char kBatchCharacters[] = "& | < > ^ % ! \" ( ) or a line end";

// The first character of text[0, length) that cmd.exe would read for itself, or null when none.
inline const char* FindBatchCharacter(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
            case '&':
            case '|':
            case '<':
            case '>':
            case '^':
            case '%':
            case '!':
            case '"':
            case '(':
            case ')':
            case '\r':
            case '\n':
                return text + i;
            default:
                break;
        }
    }
    return nullptr;
}

// Whether the program line's arguments, line[offset, length), are safe for a batch program. The
// line goes to the program as written, so its quotes may group words, as long as each one is
// closed again; nothing else cmd.exe reads for itself may appear, quoted or not (the batch file
// may use its arguments unquoted).
inline bool BatchLineIsSafe(const char* line, size_t length, size_t offset) {
    bool quoted = false;
    for (size_t i = offset; i < length; ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (FindBatchCharacter(line + i, 1) != nullptr) {
            return false;
        }
    }
    return !quoted;
}

}  // namespace format
