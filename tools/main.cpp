// The vorn command-line tool: list, test, extract and pack VORN archives and self-extractors.
// This file picks the command; options.cpp reads its options and holds the help texts, and the
// commands live in read.cpp (list and test), extract.cpp and pack.cpp.
#include <cstdio>
#include <string>

#include "tools/archive_session.h"
#include "tools/options.h"
#include "tools/system.h"
#include "vorn_version.h"

namespace tool {

namespace {

void PrintVersion() {
    std::printf("vorn %s\n", VORN_VERSION_TEXT);
}

int RunCommand(Command command, const Options& options, const std::string& selfPath) {
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
    os::RestrictLibrarySearch();
    if (argc < 2) {
        std::fputs(HelpOf(Command::None), stderr);
        return kExitUsage;
    }
    std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help") {
        std::fputs(HelpOf(Command::None), stdout);
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        PrintVersion();
        return kExitOk;
    }
    Command command = CommandOf(first);
    if (command == Command::None) {
        std::fprintf(stderr, "vorn: unknown command %s\n\n", ShownOption(first).c_str());
        std::fputs(HelpOf(Command::None), stderr);
        return kExitUsage;
    }
    Options options;
    PasswordWiper wipePassword(options.password);
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
