// The tool's commands and the settings their command lines give them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tool {

enum class Command { None, List, Test, Extract, Pack };

enum class OverwritePolicy { Ask, Always, Never };

struct Options {
    std::vector<std::string> operands;  // archive first, then names, patterns or files
    bool help = false;                  // -h: show the command's help instead of running it
    std::optional<std::string> password;
    std::optional<std::string> passwordFile;
    std::string outputDir = ".";
    OverwritePolicy overwrite = OverwritePolicy::Ask;
    int jobs = 0;  // 0: one per core (JobCount)
    bool quiet = false;
    bool json = false;
    // pack
    std::optional<std::string> comment;
    std::optional<std::string> commentFile;
    bool encryptNames = false;
    std::vector<std::string> encryptOnly;  // with a password: encipher only matching entries
    bool store = false;
    std::optional<std::string> sfxKind;
    std::optional<std::string> sfxStub;
    std::optional<std::string> defaultDir;  // the self-extractor's built-in destination
    int level = 2;
};

// The threads a command works on: --jobs, or one per core.
unsigned JobCount(const Options& options);

}  // namespace tool
