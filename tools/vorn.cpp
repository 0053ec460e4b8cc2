// The vorn command-line tool: list, test, extract and pack VORN archives and self-extractors.
// This file reads the command line; each command lives in its own cmd_*.cpp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/cli_support.h"
#include "tools/commands.h"

#ifndef VORN_VERSION_TEXT
#define VORN_VERSION_TEXT "0.0.0"
#endif

namespace tool {

namespace {

const char kMainHelp[] =
    "Usage: vorn COMMAND [OPTIONS] ARCHIVE [...]\n"
    "\n"
    "Commands:\n"
    "  list, l      show the entries of an archive or self-extractor\n"
    "  test, t      decode every entry and check its CRC\n"
    "  extract, x   extract entries into a folder\n"
    "  pack, a      make an archive or a self-extractor from files and folders\n"
    "\n"
    "vorn COMMAND --help shows the options of a command; vorn --version the version.\n"
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
    "  --password-file FILE    read the password from the first line of FILE\n";

const char kTestHelp[] =
    "Usage: vorn test [OPTIONS] ARCHIVE\n"
    "\n"
    "Decodes every entry without writing it and checks its CRC-32. Exit code 1 when any\n"
    "entry fails.\n"
    "\n"
    "  -p, --password P        password for enciphered names and entries\n"
    "  --password-file FILE    read the password from the first line of FILE\n"
    "  -q, --quiet             report failures only\n";

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
    "  -j, --jobs N            entries extracted in parallel (default: one per core)\n"
    "  -p, --password P        password for enciphered names and entries\n"
    "  --password-file FILE    read the password from the first line of FILE\n"
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
    "  -p, --password P        encipher the entries with this password\n"
    "  --password-file FILE    read the password from the first line of FILE\n"
    "  --encrypt-names         encipher the name table too (needs a password)\n"
    "  --encrypt-only PATTERN  encipher only the entries matching PATTERN (repeatable)\n"
    "  --store                 store without compression\n"
    "  --level N               compression effort: 1 fastest, 2 (default), 3 smallest\n"
    "  --sfx KIND              write a self-extractor: windows, windows64 or linux\n"
    "  --sfx-stub PATH         write a self-extractor with this stub program\n"
    "                          (stubs are looked up in $VORN_STUB_DIR, then in the build trees)\n"
    "  --default-dir TEXT      the folder the self-extractor proposes (at most 255 bytes);\n"
    "                          without it, the folder the self-extractor lies in\n"
    "  -q, --quiet             no progress and no summary\n";

void PrintVersion() {
    std::printf("vorn %s\n", VORN_VERSION_TEXT);
}

enum class Command { None, List, Test, Extract, Pack };

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

bool ParseCount(const std::string& text, int& value) {
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || n < 1 || n > 1024) return false;
    value = static_cast<int>(n);
    return true;
}

// Parses the options of one command; returns -1 to go on, or an exit code.
int ParseOptions(Command command, int argc, char** argv, Options& options) {
    bool operandsOnly = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (operandsOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            options.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        std::string inlineValue;
        bool hasInline = false;
        if (arg.size() > 2 && arg[1] != '-' && std::strchr("ojp", arg[1])) {
            inlineValue = arg.substr(2);  // "-j4", "-oDIR"
            arg = arg.substr(0, 2);
            hasInline = true;
        } else if (arg.rfind("--", 0) == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInline = true;
            }
        }
        auto value = [&](std::string& out) -> bool {
            if (hasInline) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vorn: %s needs a value\n", arg.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        const bool isPack = command == Command::Pack;
        const bool isExtract = command == Command::Extract;
        if (arg == "-h" || arg == "--help") {
            std::fputs(HelpOf(command), stdout);
            return kExitOk;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-p" || arg == "--password") {
            if (!value(v)) return kExitUsage;
            options.password = v;
        } else if (arg == "--password-file") {
            if (!value(v)) return kExitUsage;
            options.passwordFile = v;
        } else if (arg == "--json" && command == Command::List) {
            options.json = true;
        } else if ((arg == "-o" || arg == "--output") && isExtract) {
            if (!value(v)) return kExitUsage;
            options.outputDir = v;
        } else if (arg == "--overwrite" && isExtract) {
            options.overwrite = OverwritePolicy::Always;
        } else if (arg == "--skip-existing" && isExtract) {
            options.overwrite = OverwritePolicy::Never;
        } else if ((arg == "-j" || arg == "--jobs") && isExtract) {
            if (!value(v)) return kExitUsage;
            if (!ParseCount(v, options.jobs)) {
                std::fprintf(stderr, "vorn: --jobs takes a number from 1 to 1024\n");
                return kExitUsage;
            }
        } else if (arg == "--comment" && isPack) {
            if (!value(v)) return kExitUsage;
            options.comment = v;
        } else if (arg == "--comment-file" && isPack) {
            if (!value(v)) return kExitUsage;
            options.commentFile = v;
        } else if (arg == "--encrypt-names" && isPack) {
            options.encryptNames = true;
        } else if (arg == "--encrypt-only" && isPack) {
            if (!value(v)) return kExitUsage;
            options.encryptOnly.push_back(v);
        } else if (arg == "--store" && isPack) {
            options.store = true;
        } else if (arg == "--level" && isPack) {
            if (!value(v)) return kExitUsage;
            if (!ParseCount(v, options.level) || options.level > 3) {
                std::fprintf(stderr, "vorn: --level takes 1, 2 or 3\n");
                return kExitUsage;
            }
        } else if (arg == "--sfx" && isPack) {
            if (!value(v)) return kExitUsage;
            options.sfxKind = v;
        } else if (arg == "--sfx-stub" && isPack) {
            if (!value(v)) return kExitUsage;
            options.sfxStub = v;
        } else if (arg == "--default-dir" && isPack) {
            if (!value(v)) return kExitUsage;
            options.defaultDir = v;
        } else {
            std::fprintf(stderr, "vorn: unknown option %s for this command (see vorn %s --help)\n",
                         arg.c_str(), argv[1]);
            return kExitUsage;
        }
    }
    return -1;
}

}  // namespace

bool ResolvePassword(Options& options) {
    if (!options.passwordFile) return true;
    if (options.password) {
        std::fprintf(stderr, "vorn: give either a password or a password file, not both\n");
        return false;
    }
    std::string error;
    options.password = ReadPasswordFile(*options.passwordFile, error);
    if (!options.password) {
        std::fprintf(stderr, "vorn: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace tool

int main(int argc, char** argv) {
    using namespace tool;
    if (argc < 2) {
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help") {
        std::fputs(kMainHelp, stdout);
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        PrintVersion();
        return kExitOk;
    }
    Command command = CommandOf(first);
    if (command == Command::None) {
        std::fprintf(stderr, "vorn: unknown command %s\n\n", first.c_str());
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    Options options;
    int parsed = ParseOptions(command, argc, argv, options);
    if (parsed >= 0) return parsed;
    switch (command) {
        case Command::List:
            return RunList(options);
        case Command::Test:
            return RunTest(options);
        case Command::Extract:
            return RunExtract(options);
        case Command::Pack:
            return RunPack(options, argv[0]);
        default:
            return kExitUsage;
    }
}
