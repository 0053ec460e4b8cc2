// The table of the tool's options and the loop that walks the command line through it. Options
// and operands mix freely; "--" makes every later argument an operand, and "-" is an operand. A
// value follows its option as the next argument, after "=" in "--jobs=4", or right after a short
// option's letter in "-j4", "-oDIR".
#include "tools/option_table.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace tool {

namespace {

// The commands that accept an option, as bits.
constexpr unsigned kList = 1u << 0;
constexpr unsigned kTest = 1u << 1;
constexpr unsigned kExtract = 1u << 2;
constexpr unsigned kPack = 1u << 3;
constexpr unsigned kEveryCommand = kList | kTest | kExtract | kPack;

unsigned BitOf(Command command) {
    switch (command) {
        case Command::List:
            return kList;
        case Command::Test:
            return kTest;
        case Command::Extract:
            return kExtract;
        case Command::Pack:
            return kPack;
        default:
            return 0;
    }
}

// A count from 1 to 1024; nullopt for anything else.
std::optional<int> CountOf(const std::string& text) {
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || n < 1 || n > 1024) return std::nullopt;
    return static_cast<int>(n);
}

bool IsJobCount(const std::string& text) {
    return CountOf(text).has_value();
}

bool IsLevel(const std::string& text) {
    return CountOf(text).value_or(4) <= 3;
}

using Value = const std::string&;

struct OptionRow {
    const char* shortName;  // "-q"; null when the option has only its long name
    const char* longName;   // "--quiet"
    bool takesValue;
    unsigned commands;                           // the commands that accept it
    void (*set)(Options& options, Value value);  // value is empty when the option takes none
    // When given, a value it refuses ends the parse with the refusal as the message.
    bool (*accepts)(Value value) = nullptr;
    const char* refusal = nullptr;
};

const OptionRow kOptionTable[] = {
    {"-h", "--help", false, kEveryCommand, [](Options& o, Value) { o.help = true; }},
    {"-q", "--quiet", false, kEveryCommand, [](Options& o, Value) { o.quiet = true; }},
    {"-p", "--password", true, kEveryCommand, [](Options& o, Value v) { o.password = v; }},
    {nullptr, "--password-file", true, kEveryCommand,
     [](Options& o, Value v) { o.passwordFile = v; }},
    {nullptr, "--json", false, kList, [](Options& o, Value) { o.json = true; }},
    {"-o", "--output", true, kExtract, [](Options& o, Value v) { o.outputDir = v; }},
    {nullptr, "--overwrite", false, kExtract,
     [](Options& o, Value) { o.overwrite = OverwritePolicy::Always; }},
    {nullptr, "--skip-existing", false, kExtract,
     [](Options& o, Value) { o.overwrite = OverwritePolicy::Never; }},
    {"-j", "--jobs", true, kTest | kExtract | kPack,
     [](Options& o, Value v) { o.jobs = *CountOf(v); }, IsJobCount,
     "--jobs takes a number from 1 to 1024"},
    {nullptr, "--comment", true, kPack, [](Options& o, Value v) { o.comment = v; }},
    {nullptr, "--comment-file", true, kPack, [](Options& o, Value v) { o.commentFile = v; }},
    {nullptr, "--encrypt-names", false, kPack, [](Options& o, Value) { o.encryptNames = true; }},
    {nullptr, "--encrypt-only", true, kPack,
     [](Options& o, Value v) { o.encryptOnly.push_back(v); }},
    {nullptr, "--store", false, kPack, [](Options& o, Value) { o.store = true; }},
    {nullptr, "--level", true, kPack, [](Options& o, Value v) { o.level = *CountOf(v); }, IsLevel,
     "--level takes 1, 2 or 3"},
    {nullptr, "--sfx", true, kPack, [](Options& o, Value v) { o.sfxKind = v; }},
    {nullptr, "--sfx-stub", true, kPack, [](Options& o, Value v) { o.sfxStub = v; }},
    {nullptr, "--default-dir", true, kPack, [](Options& o, Value v) { o.defaultDir = v; }},
};

const OptionRow* RowNamed(const std::string& name) {
    for (const OptionRow& row : kOptionTable) {
        if ((row.shortName && name == row.shortName) || name == row.longName) return &row;
    }
    return nullptr;
}

// Whether "-X" is a short option that takes a value, which may then be attached: "-j4".
bool TakesAttachedValue(char letter) {
    const OptionRow* row = RowNamed(std::string{'-', letter});
    return row && row->takesValue;
}

// An option as written: its name, and the value written into the same argument, if any.
struct WrittenOption {
    std::string name;
    std::optional<std::string> attachedValue;
};

WrittenOption Split(const std::string& arg) {
    if (arg.size() > 2 && arg[1] != '-' && TakesAttachedValue(arg[1])) {
        return {arg.substr(0, 2), arg.substr(2)};
    }
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        return {arg.substr(0, eq), arg.substr(eq + 1)};
    }
    return {arg, std::nullopt};
}

bool IsOperand(const std::string& arg) {
    return arg.empty() || arg[0] != '-' || arg == "-";
}

}  // namespace

unsigned JobCount(const Options& options) {
    if (options.jobs > 0) return static_cast<unsigned>(options.jobs);
    return std::max(1u, std::thread::hardware_concurrency());
}

ParseOutcome ParseOptions(Command command, int argc, char** argv, Options& options) {
    bool operandsOnly = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (operandsOnly || IsOperand(arg)) {
            options.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        WrittenOption written = Split(arg);
        const OptionRow* row = RowNamed(written.name);
        if (!row || !(row->commands & BitOf(command))) {
            std::fprintf(stderr, "vorn: unknown option %s for this command (see vorn %s --help)\n",
                         written.name.c_str(), argv[1]);
            return ParseOutcome::Refused;
        }
        std::string value;
        if (row->takesValue && written.attachedValue) {
            value = *written.attachedValue;
        } else if (row->takesValue && i + 1 < argc) {
            value = argv[++i];
        } else if (row->takesValue) {
            std::fprintf(stderr, "vorn: %s needs a value\n", written.name.c_str());
            return ParseOutcome::Refused;
        }
        if (row->accepts && !row->accepts(value)) {
            std::fprintf(stderr, "vorn: %s\n", row->refusal);
            return ParseOutcome::Refused;
        }
        row->set(options, value);
        if (options.help) return ParseOutcome::ShowHelp;
    }
    return ParseOutcome::Run;
}

}  // namespace tool
