// The vorn tool's commands and the options they share. Each command returns the process's exit
// code (tool::kExitOk, kExitEntriesFailed, kExitUsage).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tool {

enum class OverwritePolicy { Ask, Always, Never };

struct Options {
    std::vector<std::string> operands;  // archive first, then names, patterns or files
    std::optional<std::string> password;
    std::optional<std::string> passwordFile;
    std::string outputDir = ".";
    OverwritePolicy overwrite = OverwritePolicy::Ask;
    int jobs = 0;  // 0: one per core
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

// Resolves --password-file into password; prints the failure and returns false.
bool ResolvePassword(Options& options);

int RunList(Options& options);
int RunTest(Options& options);
int RunExtract(Options& options);
int RunPack(Options& options, const std::string& selfPath);

}  // namespace tool
