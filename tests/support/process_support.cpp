// Process helpers for the tool tests: fork/exec with captured output, and forkpty sessions.
#include "process_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tooltest {

namespace {

std::vector<char*> ArgVector(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

namespace {

RunResult RunWithOutputCaptured(const std::string& program, const std::vector<std::string>& args,
                                const std::string& cwd, bool (*started)(const fs::path&)) {
    ScratchFolder capture;
    fs::path outPath = capture / "out", errPath = capture / "err";
    std::vector<char*> argv = ArgVector(program, args);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    bool ended = false;
    while (started && !ended) {
        // The program stands still while started() looks, so that what it sees is still so when
        // the interrupt lands: the signal is pending when the program goes on. A loaded machine
        // then only makes the wait longer, never the program further along than was seen.
        kill(pid, SIGSTOP);
        if (waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) {
            ended = true;  // it ended before it could be stopped
            break;
        }
        const bool now = started(cwd);
        if (now) kill(pid, SIGINT);
        kill(pid, SIGCONT);
        if (now) break;
        usleep(1000);
    }
    if (!ended) waitpid(pid, &status, 0);
    RunResult result;
    result.exitCode = ExitCodeOf(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd) {
    return RunWithOutputCaptured(program, args, cwd, nullptr);
}

RunResult RunAndInterrupt(const std::string& program, const std::vector<std::string>& args,
                          bool (*started)(const fs::path& cwd), const std::string& cwd) {
    return RunWithOutputCaptured(program, args, cwd, started);
}

RunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<PtyStep>& steps, const std::string& cwd) {
    std::vector<char*> argv = ArgVector(program, args);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    RunResult result;
    if (pid < 0) return result;
    auto readFor = [&](int milliseconds) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buffer[4096];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) return false;
            result.out.append(buffer, static_cast<size_t>(n));
        }
        return true;
    };
    size_t searchFrom = 0;
    for (const PtyStep& step : steps) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        size_t at = std::string::npos;
        while ((at = result.out.find(step.waitFor, searchFrom)) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            if (!readFor(50)) break;
        }
        if (at == std::string::npos) break;
        searchFrom = at + step.waitFor.size();
        std::string typed = step.answer + "\n";
        if (write(master, typed.data(), typed.size()) < 0) break;
    }
    // Drain until the program ends.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    for (;;) {
        bool open = readFor(50);
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            readFor(50);
            result.exitCode = ExitCodeOf(status);
            break;
        }
        if (!open) usleep(20000);  // the terminal is closed; the program is ending
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.exitCode = -2;
            break;
        }
    }
    close(master);
    return result;
}

ScratchFolder::ScratchFolder() {
    std::string base = (fs::temp_directory_path() / "vorn-tool-test-XXXXXX").string();
    std::vector<char> templ(base.begin(), base.end());
    templ.push_back(0);
    if (mkdtemp(templ.data())) path_ = templ.data();
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Read-only files and folders must become writable before they can go.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string SampleBytes(size_t size, uint32_t seed) {
    std::string bytes;
    bytes.reserve(size);
    uint32_t x = seed * 2654435761u + 1;
    const char* words[] = {"archive ", "entry ", "block ", "vorn ", "data\n", "name "};
    while (bytes.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        if (x % 4 == 0) {
            bytes.push_back(static_cast<char>(x >> 8));
        } else {
            bytes += words[x % 6];
        }
    }
    bytes.resize(size);
    return bytes;
}

std::vector<std::pair<std::string, std::string>> TreeContents(const fs::path& root) {
    std::vector<std::pair<std::string, std::string>> files;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            files.emplace_back(fs::relative(e.path(), root).generic_string(), ReadFile(e.path()));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

size_t PartFilesIn(const fs::path& root) {
    size_t parts = 0;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        parts += item.path().filename().string().find(".vorn-") != std::string::npos;
    }
    return parts;
}

}  // namespace tooltest
