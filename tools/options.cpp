// The tool's options: the table of every option with the commands that take it, the loop that
// walks the command line through it, the help texts, and the wildcard patterns that select
// entries. Options and operands mix freely; "--" makes every later argument an operand, and "-" is
// an operand. A value follows its option as the next argument, after "=" in "--jobs=4", or right
// after a short option's letter in "-j4", "-oDIR". A new option is a row of kOptionTable, a field
// of Options and a line in its command's help text.
#include "tools/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "threads/usable_cpus.h"

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

bool IsCipher(const std::string& text) {
    return text == "chacha20" || text == "blowfish";
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
    // When given, the value may be left out (ValueLeftOut), and this is called instead of set.
    void (*setWithoutValue)(Options& options) = nullptr;
};

const OptionRow kOptionTable[] = {
    {"-h", "--help", false, kEveryCommand, [](Options& o, Value) { o.help = true; }},
    // A listing is what "vorn list" is run for: it has nothing to leave out.
    {"-q", "--quiet", false, kTest | kExtract | kPack, [](Options& o, Value) { o.quiet = true; }},
    {"-p", "--password", true, kEveryCommand,
     [](Options& o, Value v) {
         o.password = v;
         o.askPassword = false;
     },
     nullptr, nullptr,
     [](Options& o) {
         o.password.reset();
         o.askPassword = true;
     }},
    {nullptr, "--password-file", true, kEveryCommand,
     [](Options& o, Value v) { o.passwordFile = v; }},
    {nullptr, "--json", false, kList, [](Options& o, Value) { o.json = true; }},
    {nullptr, "--verbose", false, kTest, [](Options& o, Value) { o.verbose = true; }},
    {"-o", "--output", true, kExtract, [](Options& o, Value v) { o.outputDir = v; }},
    {nullptr, "--overwrite", false, kExtract,
     [](Options& o, Value) { o.overwrite = format::SfxOverwrite::Always; }},
    {nullptr, "--skip-existing", false, kExtract,
     [](Options& o, Value) { o.overwrite = format::SfxOverwrite::Never; }},
    {"-j", "--jobs", true, kTest | kExtract | kPack,
     [](Options& o, Value v) { o.jobs = *CountOf(v); }, IsJobCount,
     "--jobs takes a number from 1 to 1024"},
    {nullptr, "--comment", true, kPack, [](Options& o, Value v) { o.comment = v; }},
    {nullptr, "--comment-file", true, kPack, [](Options& o, Value v) { o.commentFile = v; }},
    {nullptr, "--encrypt-names", false, kPack, [](Options& o, Value) { o.encryptNames = true; }},
    {nullptr, "--encrypt-only", true, kPack,
     [](Options& o, Value v) { o.encryptOnly.push_back(v); }},
    {nullptr, "--cipher", true, kPack, [](Options& o, Value v) { o.cipher = v; }, IsCipher,
     "--cipher takes chacha20 or blowfish"},
    {nullptr, "--store", false, kPack, [](Options& o, Value) { o.store = true; }},
    {nullptr, "--level", true, kPack, [](Options& o, Value v) { o.level = *CountOf(v); }, IsLevel,
     "--level takes 1, 2 or 3"},
    {nullptr, "--solid", false, kPack, [](Options& o, Value) { o.solid = true; }},
    {nullptr, "--no-solid", false, kPack, [](Options& o, Value) { o.solid = false; }},
    {nullptr, "--sfx", true, kPack, [](Options& o, Value v) { o.sfxKind = v; }},
    {nullptr, "--sfx-stub", true, kPack, [](Options& o, Value v) { o.sfxStub = v; }},
    {nullptr, "--default-dir", true, kPack, [](Options& o, Value v) { o.defaultDir = v; }},
    {nullptr, "--icon", true, kPack, [](Options& o, Value v) { o.icon = v; }},
    {nullptr, "--product-name", true, kPack, [](Options& o, Value v) { o.productName = v; }},
    {nullptr, "--product-version", true, kPack, [](Options& o, Value v) { o.productVersion = v; }},
    {nullptr, "--company", true, kPack, [](Options& o, Value v) { o.company = v; }},
    {nullptr, "--description", true, kPack, [](Options& o, Value v) { o.description = v; }},
    {nullptr, "--copyright", true, kPack, [](Options& o, Value v) { o.copyright = v; }},
    {nullptr, "--title", true, kPack, [](Options& o, Value v) { o.title = v; }},
    {nullptr, "--elevate", false, kPack, [](Options& o, Value) { o.elevate = true; }},
    {nullptr, "--run", true, kPack, [](Options& o, Value v) { o.sfxRun = v; }},
    {nullptr, "--temporary", false, kPack, [](Options& o, Value) { o.sfxTemporary = true; }},
    {nullptr, "--payload-beside", false, kPack, [](Options& o, Value) { o.payloadBeside = true; }},
    {nullptr, "--sfx-overwrite", true, kPack,
     [](Options& o, Value v) {
         format::SfxOverwrite overwrite;
         if (format::ParseSfxOverwrite(v.c_str(), false, &overwrite)) o.sfxOverwrite = overwrite;
     },
     [](Value v) {
         format::SfxOverwrite overwrite;
         return format::ParseSfxOverwrite(v.c_str(), false, &overwrite);
     },
     "--sfx-overwrite takes ask, always or never"},
    {nullptr, "--license", true, kPack, [](Options& o, Value v) { o.licenseFile = v; }},
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

// An option whose value may be left out takes the next word as its value unless it is the last
// word or the next starts with "-": "-p ARCHIVE" still gives the password ARCHIVE, as it always
// has, while "-p -- ARCHIVE", "ARCHIVE -p" and "-p -q ARCHIVE" leave it out. A value that starts
// with "-" is written attached then: "--password=-x", "-p-x".
bool ValueLeftOut(const OptionRow& row, int i, int argc, char** argv) {
    return row.setWithoutValue != nullptr && (i + 1 >= argc || argv[i + 1][0] == '-');
}

const char kMainHelp[] =
    "Usage: vorn COMMAND [OPTIONS] ARCHIVE [...]\n"
    "\n"
    "Commands:\n"
    "  list, l      show the entries of an archive or self-extractor\n"
    "  test, t      decode every entry and check its CRC\n"
    "  extract, x   extract entries into a folder\n"
    "  pack, a      make an archive or a self-extractor from files and folders\n"
    "\n"
    "vorn help (or -h, --help) shows this text, vorn COMMAND --help the options of a\n"
    "command, vorn --version (or -V) the version.\n"
    "Exit codes: 0 success, 1 some entries failed, 2 usage or archive errors.\n";

const char kListHelp[] =
    "Usage: vorn list [OPTIONS] ARCHIVE\n"
    "\n"
    "Shows every entry: unpacked and stored size, ratio, modification time (local), attributes\n"
    "(R read-only, H hidden, S system, A archive, * enciphered), CRC-32 and name, then a total\n"
    "line and the archive's comment. Works on self-extractors too.\n"
    "\n"
    "  --json                  print the listing as JSON\n"
    "  -p, --password P        password of an archive whose names are enciphered\n"
    "  -p, --password          last, or before an option or \"--\": type the password,\n"
    "                          unseen. A password given as P is visible to other users\n"
    "                          of the machine; a typed one or a file is not.\n"
    "  --password-file FILE    the password, the first line of FILE (at most 259 bytes)\n";

const char kTestHelp[] =
    "Usage: vorn test [OPTIONS] ARCHIVE\n"
    "\n"
    "Decodes every entry without writing it and checks its CRC-32. Exit code 1 when any\n"
    "entry fails.\n"
    "\n"
    "  -p, --password P        password for enciphered names and entries\n"
    "  -p, --password          last, or before an option or \"--\": type the password,\n"
    "                          unseen. A password given as P is visible to other users\n"
    "                          of the machine; a typed one or a file is not.\n"
    "  --password-file FILE    the password, the first line of FILE (at most 259 bytes)\n"
    "  -j, --jobs N            threads decoding entries and the blocks of large ones\n"
    "                          (default: one per core)\n"
    "  -q, --quiet             report failures only\n"
    "  --verbose               name the check that found an entry corrupt (debug, sanitizer\n"
    "                          and fuzz builds note it; others show the failure alone)\n";

const char kExtractHelp[] =
    "Usage: vorn extract [OPTIONS] ARCHIVE [NAME|PATTERN ...]\n"
    "\n"
    "Extracts the entries (or those matching the names and wildcard patterns; a folder's name\n"
    "selects everything below it) into a folder, creating the folder levels they need. Entries\n"
    "whose names would lead outside the folder are refused.\n"
    "\n"
    "  -o, --output DIR        destination folder (default: the current folder)\n"
    "  --overwrite             replace existing files without asking\n"
    "  --skip-existing         keep existing files without asking\n"
    "                          (without either, a terminal is asked; otherwise existing files\n"
    "                          are kept and reported as failures)\n"
    "  -j, --jobs N            threads extracting entries and the blocks of large ones\n"
    "                          (default: one per core)\n"
    "  -p, --password P        password for enciphered names and entries\n"
    "  -p, --password          last, or before an option or \"--\": type the password,\n"
    "                          unseen. A password given as P is visible to other users\n"
    "                          of the machine; a typed one or a file is not.\n"
    "  --password-file FILE    the password, the first line of FILE (at most 259 bytes)\n"
    "  -q, --quiet             report failures only\n";

const char kPackHelp[] =
    "Usage: vorn pack [OPTIONS] OUT FILE_OR_FOLDER...\n"
    "\n"
    "Writes the files, and the folders with everything below them, into the archive OUT. A\n"
    "folder is stored under its own name (\"docs\" gives docs\\...; \".\" stores its contents).\n"
    "Modification times and the read-only bit are kept. Names are stored as UTF-8.\n"
    "\n"
    "  --comment TEXT          the archive's comment\n"
    "  --comment-file FILE     the comment from a file\n"
    "  -p, --password P        seal the archive with this password: every entry, size,\n"
    "                          time and name enciphered and authenticated, the key\n"
    "                          derived with Argon2id (64 MiB of work for every guess)\n"
    "  -p, --password          last, or before an option or \"--\": type the password, twice\n"
    "                          unseen. A password given as P is visible to other users\n"
    "                          of the machine; a typed one or a file is not.\n"
    "  --password-file FILE    the password, the first line of FILE (at most 259 bytes)\n"
    "  --cipher chacha20|blowfish\n"
    "                          chacha20 (default): the sealed archive, which older\n"
    "                          readers refuse; blowfish: the first scheme, for them,\n"
    "                          which hides the contents from a casual look but does not\n"
    "                          resist password guessing and leaves sizes and names plain\n"
    "  --encrypt-names         blowfish: encipher the name table too (sealed archives\n"
    "                          always seal it)\n"
    "  --encrypt-only PATTERN  blowfish: encipher only the entries matching PATTERN\n"
    "                          (repeatable); a sealed archive holds no plain entry\n"
    "  --store                 store without compression\n"
    "  --level N               compression: 1 fastest, 2 (default for plain archives),\n"
    "                          3 smallest: LZ blocks that need VORN 0.2 or later to read\n"
    "                          (default with --sfx, whose stub reads them)\n"
    "  --solid                 pack files of one kind in solid groups of up to 64 MiB,\n"
    "                          each file's LZ data reaching back into the files before it;\n"
    "                          smaller, but an entry is read after its group's earlier\n"
    "                          entries and damage costs the rest of its group (needs\n"
    "                          VORN 0.3 or later; default with --sfx at level 3)\n"
    "  --no-solid              every file stands alone, also in a self-extractor\n"
    "  --sfx KIND              write a self-extractor: windows, windows64 or linux\n"
    "  --sfx-stub PATH         write a self-extractor with this stub program\n"
    "                          (stubs are looked up in $VORN_STUB_DIR, then beside the tool:\n"
    "                          PREFIX/lib/vorn/ or its own folder, then in the build trees)\n"
    "  --default-dir TEXT      the folder the self-extractor proposes (at most 255 bytes);\n"
    "                          without it, the folder the self-extractor lies in; it may\n"
    "                          start with a folder of the user's machine: %ProgramFiles%,\n"
    "                          %ProgramFiles(x86)%, %LocalAppData%, %AppData%,\n"
    "                          %UserProfile%, %Temp% (Windows); ~, $HOME, $XDG_DATA_HOME\n"
    "                          (linux)\n"
    "  --payload-beside        write the program and the archive as two files (OUT and\n"
    "                          OUT with .vorn for its extension), the program holding the\n"
    "                          archive's size and SHA-256; for payloads past 4 GiB\n"
    "  --run \"PROGRAM ARGS...\" after every entry extracted, the self-extractor runs\n"
    "                          PROGRAM, an entry of the archive (\"/\" or \"\\\" between\n"
    "                          levels, double quotes around a name with spaces), in the\n"
    "                          extraction folder, with ARGS\n"
    "  --temporary             with --run: extract into a new temporary folder, wait for\n"
    "                          the program, then remove the folder\n"
    "  --sfx-overwrite ask|always|never\n"
    "                          how the self-extractor starts out about existing files\n"
    "  --license FILE          a licence (UTF-8 text, at most 1 MiB) the self-extractor\n"
    "                          shows and has accepted before it extracts anything; runs\n"
    "                          without questions need /ACCEPT (Windows) or --accept\n"
    "\n"
    "Branding a Windows self-extractor (--sfx windows or windows64; texts at most 255 bytes):\n"
    "  --icon FILE.ico         the program's icon: every image of the file (at most 4 MiB)\n"
    "  --product-name TEXT     the version information's product name\n"
    "  --product-version V     product and file version, 1 to 4 numbers (1.2.3.4) up to 65535\n"
    "  --company TEXT          the company name\n"
    "  --description TEXT      the file description\n"
    "  --copyright TEXT        the legal copyright\n"
    "  --title TEXT            the main dialog's caption\n"
    "  --elevate               ask for administrator rights when started\n"
    "Pack with branding first, then sign: branding changes the program.\n"
    "\n"
    "  -j, --jobs N            threads compressing blocks (default: one per core); the\n"
    "                          archive is the same bytes whatever the number\n"
    "  -q, --quiet             no progress and no summary\n";

}  // namespace

std::string ShownOption(const std::string& arg) {
    bool shortOption = arg.size() > 1 && arg[0] == '-' && arg[1] != '-';
    size_t end = shortOption ? 2 : arg.find('=');
    if (end >= arg.size()) return arg;
    return arg.substr(0, end) + "...";
}

bool PacksSolid(const Options& options) {
    if (options.solid) return *options.solid;
    return options.sfxKind.has_value() && !options.store && options.level.value_or(3) >= 3;
}

unsigned JobCount(const Options& options) {
    if (options.jobs > 0) return static_cast<unsigned>(options.jobs);
    return threads::UsableCpus();
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
                         ShownOption(arg).c_str(), argv[1]);
            return ParseOutcome::Refused;
        }
        if (!written.attachedValue && ValueLeftOut(*row, i, argc, argv)) {
            row->setWithoutValue(options);
            continue;
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

Command CommandOf(const std::string& word) {
    if (word == "list" || word == "l") return Command::List;
    if (word == "test" || word == "t") return Command::Test;
    if (word == "extract" || word == "x") return Command::Extract;
    if (word == "pack" || word == "a") return Command::Pack;
    return Command::None;
}

const char* HelpOf(Command command) {
    switch (command) {
        case Command::List:
            return kListHelp;
        case Command::Test:
            return kTestHelp;
        case Command::Extract:
            return kExtractHelp;
        case Command::Pack:
            return kPackHelp;
        default:
            return kMainHelp;
    }
}

namespace {

std::string Slashed(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

// Whether the bracket set at pattern[at] ("[a-c]", "[!x]") holds c; *end receives the position
// after it. A "[" without its "]" is a plain character.
bool InSet(const std::string& pattern, size_t at, char c, size_t* end) {
    size_t i = at + 1;
    bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) ++i;
    bool found = false;
    for (size_t first = i; i < pattern.size() && (pattern[i] != ']' || i == first); ++i) {
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            found = found || (c >= pattern[i] && c <= pattern[i + 2]);
            i += 2;
        } else {
            found = found || c == pattern[i];
        }
    }
    if (i >= pattern.size()) {
        *end = at + 1;
        return c == '[';
    }
    *end = i + 1;
    return found != negated;
}

// "*" any run, "?" any one character, "[...]" one of a set; "/" is a character like any other.
// A "*" that fails to match is retried one character further, from the last one seen.
bool WildcardMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, starAt = std::string::npos, starText = 0;
    while (t < text.size()) {
        size_t next = p + 1;
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starText = t;
            continue;
        }
        if (p < pattern.size() &&
            (pattern[p] == '?' ||
             (pattern[p] == '[' ? InSet(pattern, p, text[t], &next) : pattern[p] == text[t]))) {
            p = next;
            ++t;
            continue;
        }
        if (starAt == std::string::npos) return false;
        p = starAt + 1;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool EntryMatchesPattern(const std::string& name, const std::string& pattern) {
    std::string n = Slashed(name);
    std::string p = Slashed(pattern);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (WildcardMatch(p, n)) return true;
    // A folder selects what lies below it.
    return WildcardMatch(p + "/*", n);
}

}  // namespace tool
