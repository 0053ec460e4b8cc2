// The tool's commands: the settings their command lines give them, the table that reads those,
// the help texts, and the commands themselves. Options are read once and never changed after:
// what a command learns while it runs (a password typed or retried) is its own state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/exit_code.h"
#include "format/sfx_settings.h"

namespace tool {

enum class Command { None, List, Test, Extract, Pack };

struct Options {
    std::vector<std::string> operands;  // archive first, then names, patterns or files
    bool help = false;                  // -h: show the command's help instead of running it
    std::optional<std::string> password;
    bool askPassword = false;  // -p without a value: typed on the terminal
    std::optional<std::string> passwordFile;
    std::string outputDir = ".";
    format::SfxOverwrite overwrite = format::SfxOverwrite::Ask;
    int jobs = 0;  // 0: one per core (JobCount)
    bool quiet = false;
    bool json = false;
    bool verbose = false;  // test: a corrupt entry's failure names the check that refused it
    // pack
    std::optional<std::string> comment;
    std::optional<std::string> commentFile;
    bool encryptNames = false;
    std::vector<std::string> encryptOnly;  // with a password: encipher only matching entries
    // With a password: "chacha20", a sealed archive (the default), or "blowfish", the first scheme
    std::optional<std::string> cipher;
    bool store = false;
    std::optional<std::string> sfxKind;
    std::optional<std::string> sfxStub;
    std::optional<std::string> defaultDir;  // the self-extractor's built-in destination
    // A Windows self-extractor's branding (tools/pack_branding.h)
    std::optional<std::string> icon;  // a .ico file
    std::optional<std::string> productName;
    std::optional<std::string> productVersion;
    std::optional<std::string> company;
    std::optional<std::string> description;
    std::optional<std::string> copyright;
    std::optional<std::string> title;
    bool elevate = false;
    std::optional<std::string> sfxRun;  // the program line run after extraction
    bool sfxTemporary = false;          // extract into a temporary folder, removed after
    bool payloadBeside = false;         // the archive in a file of its own beside the program
    std::optional<format::SfxOverwrite> sfxOverwrite;
    std::optional<std::string> licenseFile;  // the licence the self-extractor has accepted first
    std::optional<int> level;  // unset: 3 for a self-extractor of a known kind, else 2
    // Solid groups (format/solid.h): unset, a self-extractor of a known kind packed at level 3
    // has them and a plain archive does not.
    std::optional<bool> solid;
};

// Whether pack writes solid groups.
bool PacksSolid(const Options& options);

// The threads a command works on: --jobs, or one per core.
unsigned JobCount(const Options& options);

enum class ParseOutcome { Run, ShowHelp, Refused };

// argv[1] is the command's word, its options and operands follow. Refused after printing why.
ParseOutcome ParseOptions(Command command, int argc, char** argv, Options& options);

// An option word as an error names it: a value written into the word may be a password (a
// misspelt "--passwrod=secret", "-Psecret"), so a short option is named by its letter, any other
// word up to its first "=", with "..." for what is left out.
std::string ShownOption(const std::string& arg);

// The help text of a command; the tool's own for Command::None.
const char* HelpOf(Command command);
Command CommandOf(const std::string& word);

// Whether an entry name matches a pattern given on the command line: "*" and "?" wildcards
// ("*" also across levels), "/" and "\" alike, and a folder's name selects everything below it.
bool EntryMatchesPattern(const std::string& name, const std::string& pattern);

// Exit codes of the tool (format/exit_code.h).
constexpr int kExitOk = format::kExitSuccess;
constexpr int kExitEntriesFailed = format::kExitSomeFailed;
constexpr int kExitUsage = format::kExitFailed;  // also every archive-level failure

// Each command returns the process's exit code.
int RunList(const Options& options);
int RunTest(const Options& options);
int RunExtract(const Options& options);
int RunPack(const Options& options, const std::string& selfPath);

}  // namespace tool
