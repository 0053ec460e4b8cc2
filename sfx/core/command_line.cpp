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

// Whether text starts with prefix, in any case.
bool SamePrefix(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (Lower(*text) != Lower(*prefix)) return false;
    }
    return true;
}

ArgumentsStatus Refuse(Invocation* out, const char* const* args, int index,
                       ArgumentsStatus status) {
    out->status = status;
    out->bad = index;
    out->refused = args[index];
    return status;
}

void Begin(Invocation* out, FrontEnd frontEnd, int argc, const char* const* args) {
    *out = Invocation();
    out->frontEnd = frontEnd;
    out->programArgs = args + argc;
}

// At "--": every word after it goes to the program, and none is a switch.
bool ProgramArgumentsStart(Invocation* out, int argc, const char* const* args, int i) {
    if (strcmp(args[i], "--") != 0) return false;
    out->programArgs = args + i + 1;
    out->programArgCount = argc - i - 1;
    return true;
}

// One Windows switch without its lead character. The value switches take "NAME=VALUE".
ArgumentsStatus ParseWindowsSwitch(const char* name, Invocation* out, bool* seen) {
    // Switches for a run without questions only (/S), by their whole names.
    if (SameText(name, "ACCEPT") || SameText(name, "PROGRESS")) {
        bool& flag = Lower(name[0]) == 'a' ? out->accept : out->progress;
        if (flag) return ArgumentsStatus::Repeated;
        flag = true;
        return ArgumentsStatus::Ok;
    }
    if (SameText(name, "S") || SameText(name, "?")) {
        bool help = name[0] == '?';
        if (help ? out->mode == RunMode::Help : out->unattended) return ArgumentsStatus::Repeated;
        if (help) out->mode = RunMode::Help;
        if (!help) out->unattended = true;
        return ArgumentsStatus::Ok;
    }
    if (SameText(name, "LOG") || (SamePrefix(name, "LOG=") && name[4] == '\0')) {
        return ArgumentsStatus::MissingValue;
    }
    if (SamePrefix(name, "LOG=")) {
        if (out->logPath != nullptr) return ArgumentsStatus::Repeated;
        out->logPath = name + 4;
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
    if (letter == 'p') {
        // "/P=@FILE" keeps the password off the command line: the first line of FILE. A password
        // that starts with "@" is written with two.
        bool file = value[0] == '@' && value[1] != '@';
        if (file && value[1] == '\0') return ArgumentsStatus::MissingValue;
        if (file) out->passwordFile = value + 1;
        if (!file) out->password = value[0] == '@' ? value + 1 : value;
    }
    if (letter == 'o') {
        // "ask" is for a dialog, which these switches are not for.
        format::SfxOverwrite overwrite;
        if (!format::ParseSfxOverwrite(value, true, &overwrite) ||
            overwrite == format::SfxOverwrite::Ask) {
            return ArgumentsStatus::BadValue;
        }
        out->overwrite = overwrite;
    }
    return ArgumentsStatus::Ok;
}

ArgumentsStatus SetMode(Invocation* out, RunMode mode) {
    if (out->mode != RunMode::Extract) return ArgumentsStatus::Conflict;
    out->mode = mode;
    return ArgumentsStatus::Ok;
}

ArgumentsStatus SetOverwrite(Invocation* out, format::SfxOverwrite overwrite) {
    if (out->overwrite) return ArgumentsStatus::Conflict;
    out->overwrite = overwrite;
    return ArgumentsStatus::Ok;
}

// The Linux program's options: a new one is a line here, its field in the Invocation, its line in
// the usage (sfx/core/messages.h) and in the manual.
struct ConsoleOption {
    const char* name;
    bool takesValue;
    ArgumentsStatus (*apply)(Invocation* out, const char* value);
};

using Value = const char*;
constexpr ArgumentsStatus kOk = ArgumentsStatus::Ok;

const ConsoleOption kConsoleOptions[] = {
    {"help", false, [](Invocation* o, Value) { return SetMode(o, RunMode::Help); }},
    {"info", false, [](Invocation* o, Value) { return SetMode(o, RunMode::Info); }},
    {"list", false, [](Invocation* o, Value) { return SetMode(o, RunMode::List); }},
    {"check", false, [](Invocation* o, Value) { return SetMode(o, RunMode::Check); }},
    {"target", true, [](Invocation* o, Value v) { return o->destination = v, kOk; }},
    {"quiet", false, [](Invocation* o, Value) { return o->unattended = true, kOk; }},
    {"noexec", false, [](Invocation* o, Value) { return o->noexec = true, kOk; }},
    {"keep", false, [](Invocation* o, Value) { return o->keep = true, kOk; }},
    {"overwrite", false,
     [](Invocation* o, Value) { return SetOverwrite(o, format::SfxOverwrite::Always); }},
    {"skip-existing", false,
     [](Invocation* o, Value) { return SetOverwrite(o, format::SfxOverwrite::Never); }},
    {"password-file", true, [](Invocation* o, Value v) { return o->passwordFile = v, kOk; }},
    {"accept", false, [](Invocation* o, Value) { return o->accept = true, kOk; }},
    {"progress", false, [](Invocation* o, Value) { return o->progress = true, kOk; }},
    {"log", true, [](Invocation* o, Value v) { return o->logPath = v, kOk; }},
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

}  // namespace

ArgumentsStatus ParseWindowsSwitches(int argc, const char* const* args, Invocation* out) {
    Begin(out, FrontEnd::Windows, argc, args);
    int switches = argc;
    bool seen[3] = {false, false, false};  // /D, /O, /P
    for (int i = 0; i < argc; ++i) {
        const char* word = args[i];
        if (ProgramArgumentsStart(out, argc, args, i)) {
            switches = i;
            break;
        }
        if (word[0] != '/' && word[0] != '-') {
            return Refuse(out, args, i, ArgumentsStatus::Unknown);
        }
        ArgumentsStatus status = ParseWindowsSwitch(word + 1, out, seen);
        if (status != ArgumentsStatus::Ok) return Refuse(out, args, i, status);
    }
    // The destination, the answer about existing files, the password, the licence accepted and
    // the progress window are for runs without questions; in the dialog the user gives them.
    if (!out->unattended && (seen[0] || seen[1] || seen[2] || out->accept || out->progress)) {
        for (int i = 0; i < switches; ++i) {
            char letter = Lower(args[i][1]);
            if (letter == 'd' || letter == 'o' || letter == 'p' || letter == 'a') {
                return Refuse(out, args, i, ArgumentsStatus::Conflict);
            }
        }
    }
    return ArgumentsStatus::Ok;
}

ArgumentsStatus ParseConsoleOptions(int argc, const char* const* args, Invocation* out) {
    Begin(out, FrontEnd::Console, argc, args);
    bool seen[kConsoleOptionCount] = {};
    for (int i = 0; i < argc; ++i) {
        const char* word = args[i];
        if (ProgramArgumentsStart(out, argc, args, i)) break;
        if (strncmp(word, "--", 2) != 0) return Refuse(out, args, i, ArgumentsStatus::Unknown);
        const char* name = word + 2;
        const char* equals = strchr(name, '=');
        size_t length = equals ? static_cast<size_t>(equals - name) : strlen(name);
        int option = FindConsoleOption(name, length);
        if (option < 0) return Refuse(out, args, i, ArgumentsStatus::Unknown);
        if (seen[option]) return Refuse(out, args, i, ArgumentsStatus::Repeated);
        seen[option] = true;
        const char* value = nullptr;
        if (kConsoleOptions[option].takesValue) {
            if (equals != nullptr) {
                value = equals + 1;
            } else if (i + 1 < argc) {
                value = args[++i];
            }
            if (value == nullptr || value[0] == '\0') {
                return Refuse(out, args, i, ArgumentsStatus::MissingValue);
            }
        } else if (equals != nullptr) {
            return Refuse(out, args, i, ArgumentsStatus::BadValue);
        }
        ArgumentsStatus status = kConsoleOptions[option].apply(out, value);
        if (status != ArgumentsStatus::Ok) return Refuse(out, args, i, status);
    }
    return ArgumentsStatus::Ok;
}

void ShownRefusedWord(const Invocation& invocation, char* out, size_t capacity) {
    const char* word = invocation.refused != nullptr ? invocation.refused : "";
    size_t shown = strlen(word);
    if (word[0] == '/' || word[0] == '-') {
        shown = strcspn(word, "=:");
        if (invocation.frontEnd == FrontEnd::Windows && Lower(word[1]) == 'p' && shown > 2) {
            shown = 2;
        }
    }
    bool cut = word[shown] != '\0';
    if (shown > capacity - 4) {
        shown = capacity - 4;
        cut = true;
    }
    memcpy(out, word, shown);
    memcpy(out + shown, cut ? "..." : "", cut ? 4 : 1);
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
