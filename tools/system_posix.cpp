// The vorn tool's calls to the operating system on Linux and other POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tools/output.h"
#include "tools/system.h"

namespace tool::os {

namespace {

void (*g_onInterrupt)() = nullptr;

void ForwardInterrupt(int) {
    if (g_onInterrupt) g_onInterrupt();
}

// The file RemoveOnInterrupt removes: kept in a fixed buffer, since a signal handler may not
// allocate.
char g_removedOnInterrupt[4096];

void RemoveAndExit(int) {
    if (g_removedOnInterrupt[0]) unlink(g_removedOnInterrupt);
    _exit(130);
}

PathKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return PathKind::File;
    if (S_ISDIR(mode)) return PathKind::Folder;
    if (S_ISLNK(mode)) return PathKind::Link;
    return PathKind::Other;
}

PathFacts FactsOf(const struct stat& st) {
    PathFacts facts;
    facts.kind = KindOf(st.st_mode);
    facts.size = static_cast<uint64_t>(st.st_size);
    facts.fileTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    facts.attributes = format::kAttributeArchive;
    if ((st.st_mode & S_IWUSR) == 0) facts.attributes |= format::kAttributeReadOnly;
    return facts;
}

}  // namespace

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

namespace {

// The terminal as it was before echo went off, where a signal handler finds it.
termios g_echoingSettings;

// A signal that would end the process while echo is off gives the terminal back first, then ends
// it as the signal would have.
void RestoreEchoAndEnd(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_echoingSettings);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

}  // namespace

struct InputEchoOff::Saved {
    termios settings;
    struct sigaction before[kEndingSignalCount];
};

InputEchoOff::InputEchoOff() {
    termios settings{};
    if (tcgetattr(STDIN_FILENO, &settings) != 0) return;
    saved_ = std::make_unique<Saved>();
    saved_->settings = g_echoingSettings = settings;
    // Only signals that would end the process: one the tool catches (Ctrl-C during an extraction)
    // interrupts the read instead, and the destructor restores the terminal.
    for (size_t i = 0; i < kEndingSignalCount; ++i) {
        sigaction(kEndingSignals[i], nullptr, &saved_->before[i]);
        if (saved_->before[i].sa_handler == SIG_DFL) signal(kEndingSignals[i], RestoreEchoAndEnd);
    }
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    settings.c_lflag |= ECHONL;
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

InputEchoOff::~InputEchoOff() {
    if (!saved_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_->settings);
    for (size_t i = 0; i < kEndingSignalCount; ++i) {
        sigaction(kEndingSignals[i], &saved_->before[i], nullptr);
    }
}

bool ReadStdinByte(char& byte) {
    return read(STDIN_FILENO, &byte, 1) == 1;
}

void CallOnInterrupt(void (*onInterrupt)()) {
    g_onInterrupt = onInterrupt;
    struct sigaction action {};
    action.sa_handler = ForwardInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void RemoveOnInterrupt(const std::string& path) {
    if (path.size() >= sizeof g_removedOnInterrupt) return;
    std::memcpy(g_removedOnInterrupt, path.c_str(), path.size() + 1);
    signal(SIGINT, RemoveAndExit);
    signal(SIGTERM, RemoveAndExit);
}

void RestrictLibrarySearch() {}

bool RandomBytes(unsigned char* buffer, size_t count) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = getrandom(buffer + got, count - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

bool StatPath(const std::string& path, PathFacts& facts) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    facts = FactsOf(st);
    return true;
}

bool StatPathItself(const std::string& path, PathFacts& facts) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    facts = FactsOf(st);
    return true;
}

bool CanRead(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

bool MakeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool SetModificationTime(const std::string& path, uint64_t fileTime) {
    int64_t seconds, nanoseconds;
    UnixFromFileTime(fileTime, seconds, nanoseconds);
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(nanoseconds);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool MakeExecutable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && chmod(path.c_str(), st.st_mode | 0111) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

int ProcessId() {
    return static_cast<int>(getpid());
}

bool IsPathSeparator(char c) {
    return c == '/';
}

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(utf8);
}

std::string TextOf(const std::filesystem::path& path) {
    return path.string();
}

std::string GenericTextOf(const std::filesystem::path& path) {
    return path.generic_string();
}

std::string OwnProgramPath() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

bool LocalTime(int64_t seconds, std::tm& local) {
    time_t t = static_cast<time_t>(seconds);
    return localtime_r(&t, &local) != nullptr;
}

}  // namespace tool::os
