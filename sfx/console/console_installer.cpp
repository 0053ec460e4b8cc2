// The Linux self-extractor's options and its installer side: usage, password file, the modes
// that only look, the temporary folder and the program run after extraction.
#include "sfx/console/console_installer.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/container.h"
#include "format/display_text.h"
#include "format/exit_code.h"
#include "sfx/console/terminal.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"

namespace console {

namespace {

// Entry names and texts of the archive may hold control bytes; shown raw they could drive the
// terminal or fake a line. The comment keeps its own line ends.
std::string Shown(const std::string& text) {
    return format::DisplayText(text, format::kDisplayUtf8);
}
std::string ShownComment(const std::string& text) {
    return format::DisplayText(text, format::kDisplayUtf8 | format::kDisplayKeepLayout);
}

// Levels with "/" as on this system; then escaped, whose escapes hold "\\".
std::string ShownName(const char* name) {
    std::string levels = name;
    for (char& c : levels) {
        if (c == '\\') c = '/';
    }
    return Shown(levels);
}

// Whether the walk and the listings pass the entry over: the comment, and a packed licence.
bool IsNoFile(const format::SfxSettings& settings, const char* name) {
    return strcmp(name, format::kCommentName) == 0 || format::IsLicenseEntry(settings, name);
}

void PrintInfo(sfx::ArchiveApi& archive, void* handle, const format::SfxSettings& s) {
    VORN_FILEINFO info;
    memset(&info, 0, sizeof info);
    if (archive.GetFileInfo(handle, &info, format::kCommentName) == VORN_SUCCESS &&
        info.qwUnpackedSize < (16u << 20)) {
        auto* text = static_cast<unsigned char*>(calloc(info.qwUnpackedSize + 1, 1));
        if (text != nullptr && archive.DecompressToPtr(handle, format::kCommentName, text, nullptr,
                                                       nullptr) == VORN_SUCCESS) {
            std::printf("Comment:\n%s\n", ShownComment(reinterpret_cast<char*>(text)).c_str());
        }
        free(text);
    }
    uint64_t entries = 0, unpacked = 0, stored = 0;
    uint64_t count = archive.GetNumFiles(handle);
    for (uint64_t i = 0; i < count; ++i) {
        memset(&info, 0, sizeof info);
        if (archive.EnumerateFiles(handle, &info, i) != VORN_SUCCESS) break;
        if (IsNoFile(s, info.szName)) continue;
        ++entries;
        unpacked += info.qwUnpackedSize;
        stored += info.qwStoredSize;
    }
    std::printf("Entries: %" PRIu64 "\nSize: %" PRIu64 " bytes (%" PRIu64 " stored)\n", entries,
                unpacked, stored);
    std::printf("Default folder: %s\n", sfx::g_szExtractDir[0] ? Shown(sfx::g_szExtractDir).c_str()
                                                               : "the folder this program is in");
    std::printf("Runs after extraction: %s\n",
                s.run ? Shown(std::string(s.run, s.runLength)).c_str() : "nothing");
    std::printf("Temporary folder: %s\n", s.temporary ? "yes" : "no");
    std::printf("Existing files: %s\n", format::SfxOverwriteName(s.overwrite));
    memset(&info, 0, sizeof info);
    if (s.license && archive.GetFileInfo(handle, &info, format::kLicenseName) == VORN_SUCCESS) {
        std::printf("Licence: %" PRIu64 " bytes, to be accepted before extracting (--accept)\n",
                    info.qwUnpackedSize);
    } else if (s.license) {
        std::printf("Licence: to be accepted, but missing\n");
    }
}

// Each entry decoded and checked, written nowhere; returns the count of failures.
uint64_t CheckEntries(sfx::ArchiveApi& archive, void* handle, const format::SfxSettings& settings,
                      const char* password, bool list) {
    uint64_t failures = 0;
    uint64_t count = archive.GetNumFiles(handle);
    VORN_FILEINFO info;
    for (uint64_t i = 0; i < count; ++i) {
        memset(&info, 0, sizeof info);
        uint32_t status = archive.EnumerateFiles(handle, &info, i);
        if (status != VORN_SUCCESS) {
            std::fprintf(stderr, "Error: %s\n", archive.GetErrorString(status));
            return failures + 1;
        }
        info.szName[sizeof info.szName - 1] = '\0';
        if (IsNoFile(settings, info.szName)) continue;
        if (list) {
            std::printf("%12" PRIu64 "  %s\n", info.qwUnpackedSize, ShownName(info.szName).c_str());
            continue;
        }
        status = archive.DecompressToFile(handle, info.szName, "/dev/null", nullptr, password);
        if (status == VORN_SUCCESS) {
            std::printf("ok      %s\n", ShownName(info.szName).c_str());
        } else {
            ++failures;
            std::printf("FAILED  %s: %s\n", ShownName(info.szName).c_str(),
                        archive.GetErrorString(status));
        }
    }
    return failures;
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path) == 0 ? 0 : -1;
}

// The program's words for execv: its path, the program line's words after the first, then the
// words given after "--".
std::vector<std::string> ProgramWords(const sfx::ProgramLaunch& launch) {
    std::vector<std::string> words = {launch.path};
    std::vector<char> word(launch.lineLength + 1);
    size_t offset = launch.argumentsAt;
    while (format::NextProgramWord(launch.line, launch.lineLength, &offset, word.data(),
                                   word.size())) {
        words.push_back(word.data());
    }
    for (int i = 0; i < launch.extraCount; ++i) words.push_back(launch.extraArgs[i]);
    return words;
}

[[noreturn]] void ExecInChild(const sfx::ProgramLaunch& launch,
                              const std::vector<std::string>& words, int reportFd) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    if (chdir(launch.folder) == 0) {
        execv(launch.path, argv.data());
        if (errno == ENOEXEC) {
            // No "#!": a shell script, run as the shell itself would run it.
            std::vector<char*> shell = {const_cast<char*>("/bin/sh")};
            shell.insert(shell.end(), argv.begin(), argv.end());
            execv("/bin/sh", shell.data());
        }
    }
    int error = errno;
    ssize_t ignored = write(reportFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Every child this process has left, the program's orphans among them, until none is left.
void WaitForOrphans() {
    while (waitpid(-1, nullptr, 0) >= 0 || errno == EINTR) {
    }
}

}  // namespace

void PrintUsage(FILE* stream, const char* program) {
    std::fprintf(stream, "Usage: %s%s\n", program, sfx::texts::kOptionsUsage);
}

void ShowLicense(const char* text) {
    std::string shown = ShownComment(text);
    if (StdoutIsTerminal()) {
        const char* pager = std::getenv("PAGER");
        if (pager == nullptr || pager[0] == '\0') pager = "less";
        std::fflush(nullptr);
        // A pager left early closes the pipe: that must not end this program.
        struct sigaction ignore {
        }, saved{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &saved);
        FILE* pipe = popen(pager, "w");
        bool shownByPager = false;
        if (pipe != nullptr) {
            std::fwrite(shown.data(), 1, shown.size(), pipe);
            shownByPager = pclose(pipe) == 0;
        }
        sigaction(SIGPIPE, &saved, nullptr);
        if (shownByPager) return;
    }
    g_terminal.Line(stdout, "----------------------------------------------------------");
    std::fputs(shown.c_str(), stdout);
    if (!shown.empty() && shown.back() != '\n') std::fputc('\n', stdout);
    g_terminal.Line(stdout, "----------------------------------------------------------");
}

bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t got = 0;
    bool failed = false;
    while (got < capacity) {
        ssize_t n = read(fd, out + got, capacity - got);
        if (n < 0 && errno == EINTR) continue;
        failed = n < 0;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    *count = got;
    return !failed;
}

int Inspect(sfx::Platform& platform, sfx::RunMode mode) {
    sfx::ArchiveApi& archive = *platform.archive;
    const char* password = platform.session.invocation.password;
    void* handle = nullptr;
    uint32_t status = sfx::OpenOwnArchive(platform, password, &handle);
    if (status != VORN_SUCCESS) {
        std::fprintf(stderr, "%s: %s%s\n", sfx::texts::kErrorOpeningFile,
                     archive.GetErrorString(status),
                     status == VORN_E_PASSWORD_NEEDED ? " (--password-file FILE)" : "");
        return format::kExitFailed;
    }
    uint64_t failures = 0;
    if (mode == sfx::RunMode::Info) {
        PrintInfo(archive, handle, platform.session.settings);
    } else {
        failures = CheckEntries(archive, handle, platform.session.settings, password,
                                mode == sfx::RunMode::List);
    }
    archive.CloseStream(handle);
    return failures == 0 ? format::kExitSuccess : format::kExitSomeFailed;
}

bool MakeTemporaryFolder(char* out) {
    const char* base = std::getenv("TMPDIR");
    if (base == nullptr || base[0] == '\0') base = "/tmp";
    std::string pattern = std::string(base) + "/vorn-XXXXXX";
    if (pattern.size() >= sfx::kTextBytes) return false;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return false;
    memcpy(out, name.data(), name.size());
    return true;
}

bool RemoveFolderTree(const char* path) {
    return nftw(path, RemoveOne, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

sfx::ProgramResult RunAndWait(const sfx::ProgramLaunch& launch, int* exitCode) {
    struct stat st;
    if (stat(launch.path, &st) != 0 || !S_ISREG(st.st_mode)) return sfx::ProgramResult::CannotStart;
    chmod(launch.path, (st.st_mode & 07777) | S_IXUSR);
    std::vector<std::string> words = ProgramWords(launch);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return sfx::ProgramResult::CannotStart;
        // A subreaper inherits every orphan of the program's tree: a process the program leaves
        // behind becomes this one's child, and so is waited for below.
#if defined(__linux__)
    if (launch.wholeTree) prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return sfx::ProgramResult::CannotStart;
    }
    if (child == 0) ExecInChild(launch, words, report[1]);
    close(report[1]);
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (launch.wholeTree) WaitForOrphans();
    if (got > 0) return sfx::ProgramResult::CannotStart;  // the exec itself failed
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return sfx::ProgramResult::Ran;
}

}  // namespace console
