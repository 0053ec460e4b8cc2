// The self-extractors' command lines: switch and option parsing, and the quoting that hands
// arguments on to a Windows program unchanged.
#include "sfx/core/command_line.h"

#include <cstring>

namespace sfx {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (Lower(*a) != Lower(*b)) return false;
    }
    return *a == *b;
}

// "always" or "never", in any case.
bool ParseOverwrite(const char* value, OverwriteChoice* out) {
    if (SameText(value, "always")) {
        *out = OverwriteChoice::Always;
    } else if (SameText(value, "never")) {
        *out = OverwriteChoice::Never;
    } else {
        return false;
    }
    return true;
}

ArgumentsStatus Refuse(int* bad, int index, ArgumentsStatus status) {
    *bad = index;
    return status;
}

// One Windows switch without its lead character. The value switches take "NAME=VALUE".
ArgumentsStatus ParseWindowsSwitch(const char* name, WindowsSwitches* out, bool* seen) {
    if (SameText(name, "S") || SameText(name, "?")) {
        bool help = name[0] == '?';
        bool& flag = help ? out->help : out->silent;
        if (flag) return ArgumentsStatus::Repeated;
        flag = true;
        return ArgumentsStatus::Ok;
    }
    char letter = Lower(name[0]);
    if (letter != 'd' && letter != 'o' && letter != 'p') return ArgumentsStatus::Unknown;
    if (name[1] != '\0' && name[1] != '=') return ArgumentsStatus::Unknown;
    bool& given = seen[letter == 'd' ? 0 : letter == 'o' ? 1 : 2];
    if (given) return ArgumentsStatus::Repeated;
    given = true;
    const char* value = name[1] == '=' ? name + 2 : "";
    if (value[0] == '\0') return ArgumentsStatus::MissingValue;
    if (letter == 'd') out->destination = value;
    if (letter == 'p') out->password = value;
    if (letter == 'o' && !ParseOverwrite(value, &out->overwrite)) return ArgumentsStatus::BadValue;
    return ArgumentsStatus::Ok;
}

struct ConsoleOptionName {
    const char* name;
    bool takesValue;
};

const ConsoleOptionName kConsoleOptions[] = {
    {"help", false},      {"info", false},          {"list", false},         {"check", false},
    {"target", true},     {"quiet", false},         {"noexec", false},       {"keep", false},
    {"overwrite", false}, {"skip-existing", false}, {"password-file", true},
};
constexpr int kConsoleOptionCount = sizeof kConsoleOptions / sizeof kConsoleOptions[0];

// The option named by word (after its "--", up to any "="), or -1.
int FindConsoleOption(const char* word, size_t length) {
    for (int i = 0; i < kConsoleOptionCount; ++i) {
        const char* name = kConsoleOptions[i].name;
        if (strlen(name) == length && strncmp(name, word, length) == 0) return i;
    }
    return -1;
}

ArgumentsStatus ApplyConsoleOption(int option, const char* value, ConsoleOptions* out) {
    const char* name = kConsoleOptions[option].name;
    if (strcmp(name, "target") == 0) {
        out->target = value;
    } else if (strcmp(name, "password-file") == 0) {
        out->passwordFile = value;
    } else if (strcmp(name, "quiet") == 0) {
        out->quiet = true;
    } else if (strcmp(name, "noexec") == 0) {
        out->noexec = true;
    } else if (strcmp(name, "keep") == 0) {
        out->keep = true;
    } else if (strcmp(name, "overwrite") == 0 || strcmp(name, "skip-existing") == 0) {
        if (out->overwrite != OverwriteChoice::Packed) return ArgumentsStatus::Conflict;
        out->overwrite = name[0] == 'o' ? OverwriteChoice::Always : OverwriteChoice::Never;
    } else {
        if (out->mode != ConsoleMode::Extract) return ArgumentsStatus::Conflict;
        out->mode = strcmp(name, "help") == 0   ? ConsoleMode::Help
                    : strcmp(name, "info") == 0 ? ConsoleMode::Info
                    : strcmp(name, "list") == 0 ? ConsoleMode::List
                                                : ConsoleMode::Check;
    }
    return ArgumentsStatus::Ok;
}

}  // namespace

ArgumentsStatus ParseWindowsSwitches(int argc, const char* const* args, WindowsSwitches* out) {
    *out = WindowsSwitches();
    out->programArgs = argc;
    bool seen[3] = {false, false, false};  // /D, /O, /P
    for (int i = 0; i < argc; ++i) {
        const char* word = args[i];
        if (strcmp(word, "--") == 0) {
            out->programArgs = i + 1;
            break;
        }
        if (word[0] != '/' && word[0] != '-') return Refuse(&out->bad, i, ArgumentsStatus::Unknown);
        ArgumentsStatus status = ParseWindowsSwitch(word + 1, out, seen);
        if (status != ArgumentsStatus::Ok) return Refuse(&out->bad, i, status);
    }
    // The destination, the answer about existing files and the password are for runs without
    // questions; in the dialog the user gives them.
    if (!out->silent && (seen[0] || seen[1] || seen[2])) {
        for (int i = 0; i < out->programArgs; ++i) {
            char letter = Lower(args[i][1]);
            if (letter == 'd' || letter == 'o' || letter == 'p') {
                return Refuse(&out->bad, i, ArgumentsStatus::Conflict);
            }
        }
    }
    return ArgumentsStatus::Ok;
}

ArgumentsStatus ParseConsoleOptions(int argc, const char* const* args, ConsoleOptions* out) {
    *out = ConsoleOptions();
    out->programArgs = argc;
    bool seen[kConsoleOptionCount] = {};
    for (int i = 0; i < argc; ++i) {
        const char* word = args[i];
        if (strcmp(word, "--") == 0) {
            out->programArgs = i + 1;
            break;
        }
        if (strncmp(word, "--", 2) != 0) return Refuse(&out->bad, i, ArgumentsStatus::Unknown);
        const char* name = word + 2;
        const char* equals = strchr(name, '=');
        size_t length = equals ? static_cast<size_t>(equals - name) : strlen(name);
        int option = FindConsoleOption(name, length);
        if (option < 0) return Refuse(&out->bad, i, ArgumentsStatus::Unknown);
        if (seen[option]) return Refuse(&out->bad, i, ArgumentsStatus::Repeated);
        seen[option] = true;
        const char* value = nullptr;
        if (kConsoleOptions[option].takesValue) {
            if (equals != nullptr) {
                value = equals + 1;
            } else if (i + 1 < argc) {
                value = args[++i];
            }
            if (value == nullptr || value[0] == '\0') {
                return Refuse(&out->bad, i, ArgumentsStatus::MissingValue);
            }
        } else if (equals != nullptr) {
            return Refuse(&out->bad, i, ArgumentsStatus::BadValue);
        }
        ArgumentsStatus status = ApplyConsoleOption(option, value, out);
        if (status != ArgumentsStatus::Ok) return Refuse(&out->bad, i, status);
    }
    return ArgumentsStatus::Ok;
}

bool AppendWindowsArgument(char* out, size_t capacity, const char* arg) {
    size_t used = strlen(out);
    size_t at = used;
    auto put = [&](char c) {
        if (at + 1 >= capacity) return false;
        out[at++] = c;
        return true;
    };
    bool ok = used == 0 || put(' ');
    bool plain = arg[0] != '\0' && strpbrk(arg, " \t\n\v\"") == nullptr;
    if (plain) {
        for (const char* c = arg; ok && *c != '\0'; ++c) ok = put(*c);
    } else {
        // Backslashes are literal except before a quote, where they and the quote are escaped.
        ok = ok && put('"');
        for (const char* c = arg; ok; ++c) {
            size_t backslashes = 0;
            while (*c == '\\') {
                ++backslashes;
                ++c;
            }
            if (*c == '\0') backslashes *= 2;  // before the closing quote
            if (*c == '"') backslashes = backslashes * 2 + 1;
            for (size_t i = 0; ok && i < backslashes; ++i) ok = put('\\');
            if (*c == '\0') break;
            ok = ok && put(*c);
        }
        ok = ok && put('"');
    }
    if (!ok) {
        out[used] = '\0';
        return false;
    }
    out[at] = '\0';
    return true;
}

}  // namespace sfx
