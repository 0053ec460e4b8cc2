// The vorn command-line tool: list, test, extract and pack VORN archives and self-extractors.
// This file picks the command and holds the help texts; the options are read by option_table.cpp
// and each command lives in its own cmd_*.cpp.
#include <cstdio>
#include <string>

#include "tools/commands.h"
#include "tools/option_table.h"
#include "vorn_version.h"

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
    "  -j, --jobs N            threads decoding entries and the blocks of large ones\n"
    "                          (default: one per core)\n"
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
    "  -j, --jobs N            threads extracting entries and the blocks of large ones\n"
    "                          (default: one per core)\n"
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
    "  --level N               compression effort: 1 fastest, 2 (default and smallest;\n"
    "                          3 is taken for 2)\n"
    "  --sfx KIND              write a self-extractor: windows, windows64 or linux\n"
    "  --sfx-stub PATH         write a self-extractor with this stub program\n"
    "                          (stubs are looked up in $VORN_STUB_DIR, then beside the tool:\n"
    "                          PREFIX/lib/vorn/ or its own folder, then in the build trees)\n"
    "  --default-dir TEXT      the folder the self-extractor proposes (at most 255 bytes);\n"
    "                          without it, the folder the self-extractor lies in\n"
    "  -j, --jobs N            threads compressing blocks (default: one per core); the\n"
    "                          archive is the same bytes whatever the number\n"
    "  -q, --quiet             no progress and no summary\n";

void PrintVersion() {
    std::printf("vorn %s\n", VORN_VERSION_TEXT);
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

int RunCommand(Command command, Options& options, const std::string& selfPath) {
    switch (command) {
        case Command::List:
            return RunList(options);
        case Command::Test:
            return RunTest(options);
        case Command::Extract:
            return RunExtract(options);
        case Command::Pack:
            return RunPack(options, selfPath);
        default:
            return kExitUsage;
    }
}

}  // namespace

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
    switch (ParseOptions(command, argc, argv, options)) {
        case ParseOutcome::ShowHelp:
            std::fputs(HelpOf(command), stdout);
            return kExitOk;
        case ParseOutcome::Refused:
            return kExitUsage;
        case ParseOutcome::Run:
            break;
    }
    return RunCommand(command, options, argv[0]);
}
