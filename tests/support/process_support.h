// Running the built programs as a user would: a command with its output captured, a program
// driven through a pseudo-terminal with answers typed at its prompts, and scratch folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tooltest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs program with args, stdin from /dev/null (not a terminal), in folder cwd.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd = ".");

// Runs program like RunProgram and sends it SIGINT (Ctrl-C) as soon as started() says so; started
// is asked about every millisecond while the program is stopped, and the interrupt is sent
// before it goes on, so it lands in the state started() saw. Sends none when the program ends
// first.
RunResult RunAndInterrupt(const std::string& program, const std::vector<std::string>& args,
                          bool (*started)(const fs::path& cwd), const std::string& cwd = ".");

// Runs program on a pseudo-terminal. Each step waits until the output so far contains the
// prompt text (or times out) and then types the answer followed by Enter. Returns the whole
// terminal output and the exit code.
struct PtyStep {
    std::string waitFor;
    std::string answer;
};
RunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<PtyStep>& steps, const std::string& cwd = ".");

// A fresh folder below the temporary folder, removed with the object.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& leaf) const { return path_ / leaf; }

  private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);
// Deterministic bytes, some compressible and some not.
std::string SampleBytes(size_t size, uint32_t seed);
// Every regular file below root, relative path to content.
std::vector<std::pair<std::string, std::string>> TreeContents(const fs::path& root);
// Part files (".vorn-" in the name) anywhere below root: an extraction that ended leaves none.
size_t PartFilesIn(const fs::path& root);

}  // namespace tooltest
