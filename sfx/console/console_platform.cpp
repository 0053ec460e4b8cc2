// The Linux self-extractor's platform: system calls, the dialog's questions, the command line's
// usage, password file and looks at the archive.
#include "sfx/console/console_platform.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "sfx/console/console_installer.h"
#include "sfx/core/installer.h"

namespace console {

namespace {

// "~" and "~/..." as the shell reads them.
std::string WithHome(const std::string& folder) {
    if (folder != "~" && folder.rfind("~/", 0) != 0) return folder;
    const char* home = std::getenv("HOME");
    return home ? home + folder.substr(1) : folder;
}

}  // namespace

std::string AbsoluteFolder(const std::string& given) {
    std::string folder = WithHome(given);
    if (folder.empty() || folder[0] == '/') return folder;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + folder : folder;
}

void ConsolePlatform::GetOwnPath(char* out, size_t capacity) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) n = 0;
    path[n] = '\0';
    size_t length = std::min(static_cast<size_t>(n), capacity - 1);
    std::memcpy(out, path, length);
    out[length] = '\0';
}

intptr_t ConsolePlatform::RunPasswordDialog(sfx::MainDialog* owner, char* buffer) {
    // The per-entry prompt names its entry: the dialog's current-file line holds it.
    std::string entry;
    if (owner) {
        char text[sfx::kTextBytes];
        owner->GetItemText(IDC_CURRENT_FILE, text, sizeof text);
        entry = text;
        const std::string prefix = sfx::texts::kCurrentFilePrefix;
        if (entry.rfind(prefix, 0) == 0) entry = entry.substr(prefix.size());
    }
    // --password-file: given once at each entry's prompt (and the archive's); a prompt
    // that comes again for the same one means the password was wrong.
    const sfx::Invocation& invocation = session.invocation;
    if (invocation.passwordFile != nullptr && (!passwordGiven_ || entry != passwordGivenFor_)) {
        passwordGiven_ = true;
        passwordGivenFor_ = entry;
        std::snprintf(buffer, sfx::kPasswordFieldBytes, "%s", invocation.password);
        return sfx::kDialogConfirmed;
    }
    ConsolePasswordDialog dialog;
    return dialog.Run(buffer, entry);
}

void ConsolePlatform::RunMainDialog() {
    dialog_.Attach(this);
    sfx::MainDialogOpen(*this, dialog_);
    while (!dialog_.ended()) {
        if (!AskSettings()) {
            dialog_.End(sfx::kDialogCancelled);
            break;
        }
        sfx::MainDialogExtract(*this, dialog_);
        WaitForWorker();
        if (sfx::g_bCancel) break;
        if (!dialog_.ended() && !StdinIsTerminal()) break;
    }
}

void ConsolePlatform::WaitForWorker() {
    while (dialog_.WorkerRunning()) {
        if (g_interrupted && !cancelling_) {
            g_terminal.Line(stderr, "Cancelling...");
            cancelling_ = true;
            sfx::g_bCancel = true;
            archive->CancelOperation(sfx::g_hArchive);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!dialog_.JoinWorker()) return;
    if (!sfx::g_bCancel) {
        char count[sfx::kTextBytes];
        dialog_.GetItemText(IDC_FILES_DONE, count, sizeof count);
        if (count[0]) g_terminal.Line(stdout, count);
    }
}

sfx::ProgramResult ConsolePlatform::RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) {
    // A terminal program's installer talks to the same terminal: always waited for.
    g_terminal.EndBar();
    return console::RunAndWait(launch, exitCode);
}

bool ConsolePlatform::AskSettings() {
    if (!AskDestination()) return false;
    // Existing files: as the command line says, else as packed, else asked.
    format::SfxOverwrite decided = sfx::EffectiveOverwrite(session);
    if (decided != format::SfxOverwrite::Ask) {
        dialog_.Check(IDC_OVERWRITE, decided == format::SfxOverwrite::Always);
        dialog_.skipExisting = decided == format::SfxOverwrite::Never;
        return true;
    }
    int answer = Ask("Overwrite files automatically?", "Options", sfx::kBoxYesNo, sfx::kAnswerNo);
    dialog_.Check(IDC_OVERWRITE, answer == sfx::kAnswerYes);
    return true;
}

bool ConsolePlatform::AskDestination() {
    char field[sfx::kTextBytes];
    dialog_.GetItemText(IDC_DEST_DIR, field, sizeof field);
    if (session.settings.temporary) {
        g_terminal.Line(stdout, std::string("Extracting to ") + field);
        return true;
    }
    // Given on the command line, the folder was made absolute there (console_main.cpp).
    const char* target = session.invocation.destination;
    if (target != nullptr) return SetDestination(target);
    // The default may be a publisher's built-in folder, which can name the user's home.
    std::string proposed = WithHome(field);
    if (!StdinIsTerminal()) {
        g_terminal.Line(stdout, "Extracting to " + proposed);
        return SetDestination(proposed);
    }
    for (;;) {
        std::optional<std::string> typed =
            ReadLine("Directory to extract files to [" + proposed + "]: ", false);
        if (!typed || g_interrupted) return false;
        std::string destination = typed->empty() ? proposed : AbsoluteFolder(*typed);
        if (SetDestination(destination)) return true;
    }
}

bool ConsolePlatform::SetDestination(const std::string& destination) {
    if (destination.size() > sfx::kMaxTextLength) {
        g_terminal.Line(stderr,
                        "Error: the destination folder's path is longer than 255 "
                        "characters.");
        return false;
    }
    dialog_.SetItemText(IDC_DEST_DIR, destination.c_str());
    return true;
}

bool ConsolePlatform::PathExists(const char* path) {
    // A link counts as standing there, dangling or not: it is what the entry would replace.
    struct stat st;
    return lstat(path, &st) == 0;
}

bool ConsolePlatform::DirectoryExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool ConsolePlatform::CreateDirectoryLevel(const char* path) {
    return mkdir(path, 0777) == 0;
}

bool ConsolePlatform::RemoveFile(const char* path) {
    return unlink(path) == 0;
}

bool ConsolePlatform::MakeTemporaryFolder(char* out) {
    return console::MakeTemporaryFolder(out);
}

bool ConsolePlatform::RemoveFolderTree(const char* path) {
    return console::RemoveFolderTree(path);
}

void ConsolePlatform::ShowUsage(const char* word, const char* why) {
    if (word != nullptr) {
        g_terminal.Line(stderr, std::string(program_) + ": " + word + " " + why);
    }
    PrintUsage(word != nullptr ? stderr : stdout, program_);
}

bool ConsolePlatform::ReadFileStart(const char* path, char* out, size_t capacity, size_t* count) {
    return console::ReadFileStart(path, out, capacity, count);
}

int ConsolePlatform::Inspect(sfx::RunMode mode) {
    return console::Inspect(*this, mode);
}

// The licence shown, then "[y/N]": only a "y" accepts. Without a terminal to ask, the safe answer.
bool ConsolePlatform::AskLicense(const char* text) {
    console::ShowLicense(text);
    const char* caption = sfx::texts::kLicenseCaption;
    const char* question = sfx::texts::kLicenseQuestion;
    if (!StdinIsTerminal()) {
        return Ask(question, caption, sfx::kBoxYesNo, sfx::kAnswerNo) == sfx::kAnswerYes;
    }
    std::optional<std::string> answer =
        ReadLine(std::string(caption) + ": " + question + " [y/N]: ", false);
    return answer && !answer->empty() && std::tolower((*answer)[0]) == 'y' && !g_interrupted;
}

bool ConsolePlatform::OpenLogFile(const char* path) {
    logFile_ = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    return logFile_ >= 0;
}

void ConsolePlatform::WriteLogLine(const char* line, size_t length) {
    // One write per line: O_APPEND keeps the worker's lines and the main thread's whole.
    std::string whole(line, length);
    whole += '\n';
    ssize_t written = write(logFile_, whole.data(), whole.size());
    (void)written;  // a full disk loses a log line, never the extraction
}

void ConsolePlatform::CloseLogFile() {
    if (logFile_ >= 0) close(logFile_);
    logFile_ = -1;
}

int64_t ConsolePlatform::UnixTime() {
    return static_cast<int64_t>(std::time(nullptr));
}

// $HOME, and $XDG_DATA_HOME as its definition has it: an absolute path, else ~/.local/share.
bool ConsolePlatform::KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity) {
    const char* home = std::getenv("HOME");
    std::string path = home != nullptr && home[0] == '/' ? home : "";
    if (folder == format::KnownFolder::XdgDataHome) {
        const char* data = std::getenv("XDG_DATA_HOME");
        if (data != nullptr && data[0] == '/') {
            path = data;
        } else if (!path.empty()) {
            path += "/.local/share";
        }
    } else if (folder != format::KnownFolder::Home) {
        path.clear();
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path.size() >= capacity) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

bool ConsolePlatform::ReadFileSlices(const char* path, FileSlice slice, void* context) {
    int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    std::vector<uint8_t> buffer(1 << 20);
    ssize_t got = 0;
    while ((got = read(file, buffer.data(), buffer.size())) > 0) {
        if (!slice(context, buffer.data(), static_cast<size_t>(got))) break;
    }
    close(file);
    return got >= 0;
}

}  // namespace console
