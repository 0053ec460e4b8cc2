// Reading the password file, and asking for the entries' password.
#include "tools/password.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tools/system.h"
#include "tools/terminal.h"

namespace tool {

namespace {

// The password from a file: its first line, without the line end.
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& error) {
    std::ifstream in(os::PathOf(path), std::ios::binary);
    if (!in) {
        error = "cannot read password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
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

void AskEntryPasswordIfNeeded(Options& options, bool anyEnciphered) {
    if (anyEnciphered && !options.password && os::StdinIsTerminal()) {
        options.password = ReadHiddenLine("Password for the enciphered entries: ");
    }
}

}  // namespace tool
