// The self-extractor for Linux terminals: the same decisions as the Windows stub (sfx/core) with
// a terminal in place of the dialogs. The comment is printed, the destination is asked with the
// default shown, questions take one-letter answers, passwords are typed without echo, and the
// current entry's progress is a bar with the running count beside it. Without a terminal on
// stdin every question takes its safe answer: the default destination, keep existing files, no
// password (the entry is reported), and exit when done.
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "sfx/console/console_installer.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/sfx_core.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    // The walk tests the flag before every entry, and the progress callback hands it on to the
    // library within one block.
    sfx::g_bCancel = true;
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}
bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void PromptLine(const std::string& text);

// Shows the prompt and reads one line from stdin without its line end; nullopt at end of input.
// Echo goes off before the prompt appears, so nothing typed in answer to it is ever shown, and
// input typed ahead is kept, not flushed.
std::optional<std::string> ReadLine(const std::string& prompt, bool hidden) {
    termios saved{};
    bool restore = hidden && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    PromptLine(prompt);
    std::string line;
    bool any = false;
    for (;;) {
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && !g_interrupted) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n' || c == '\r') break;
        line.push_back(c);
    }
    if (restore) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (!any) return std::nullopt;
    return line;
}

// Texts from the archive (names, the comment) may hold control bytes; shown raw they could drive
// the terminal. Line ends and tabs stay, every other control byte shows as "?".
std::string Printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7f) c = '?';
    }
    return shown;
}

// Everything written to the terminal goes through here, so the progress line can be cleared
// before a message and redrawn after it.
class Terminal {
  public:
    void Line(FILE* stream, const std::string& text) {
        std::lock_guard<std::mutex> lock(lock_);
        ClearBar();
        std::fprintf(stream, "%s\n", Printable(text).c_str());
        std::fflush(stream);
    }
    void Prompt(const std::string& text) {
        std::lock_guard<std::mutex> lock(lock_);
        ClearBar();
        std::fputs(Printable(text).c_str(), stdout);
        std::fflush(stdout);
    }
    void Bar(int percent, const std::string& current, const std::string& count) {
        if (!StdoutIsTerminal()) return;
        std::lock_guard<std::mutex> lock(lock_);
        constexpr int kWidth = 30;
        int filled = percent * kWidth / 100;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(kWidth, '-');
        std::string line = "[" + bar + "] " + std::to_string(percent) + "%  " + count;
        if (!current.empty()) line += "  " + Printable(current);
        if (line.size() > 150) line.resize(150);
        std::printf("\r\033[K%s", line.c_str());
        std::fflush(stdout);
        barShown_ = true;
    }
    void EndBar() {
        std::lock_guard<std::mutex> lock(lock_);
        ClearBar();
    }

  private:
    void ClearBar() {
        if (!barShown_) return;
        std::fputs("\r\033[K", stdout);
        barShown_ = false;
    }
    std::mutex lock_;
    bool barShown_ = false;
};

Terminal g_terminal;

void PromptLine(const std::string& text) {
    g_terminal.Prompt(text);
}

// A yes/no(/cancel) question. Without a terminal the safe answer is given and said.
int Ask(const char* text, const char* caption, unsigned style, int unattendedAnswer) {
    bool withCancel = (style & 0xF) == sfx::kBoxYesNoCancel;
    if (!StdinIsTerminal()) {
        g_terminal.Line(stdout, std::string(caption) + ": " + text + " " +
                                    (unattendedAnswer == sfx::kAnswerYes  ? "Yes"
                                     : unattendedAnswer == sfx::kAnswerNo ? "No"
                                                                          : "Cancel") +
                                    " (no terminal to ask)");
        return unattendedAnswer;
    }
    for (;;) {
        std::optional<std::string> answer =
            ReadLine(std::string(caption) + ": " + text +
                         (withCancel ? " [y]es, [n]o, [c]ancel: " : " [y/n]: "),
                     false);
        if (!answer) return withCancel ? sfx::kAnswerCancel : sfx::kAnswerNo;
        char c = answer->empty() ? 0 : static_cast<char>(std::tolower((*answer)[0]));
        if (c == 'y') return sfx::kAnswerYes;
        if (c == 'n') return sfx::kAnswerNo;
        if (withCancel && c == 'c') return sfx::kAnswerCancel;
    }
}

int ShowBox(const char* text, const char* caption, unsigned style, int unattendedAnswer) {
    unsigned buttons = style & 0xF;
    if (buttons == sfx::kBoxYesNo || buttons == sfx::kBoxYesNoCancel) {
        return Ask(text, caption, style, unattendedAnswer);
    }
    bool error = (style & 0xF0) == sfx::kBoxIconError;
    g_terminal.Line(error ? stderr : stdout, std::string(caption) + ": " + text);
    return sfx::kAnswerOk;
}

// The controls of a dialog, kept as texts and flags; each front-end event reads them back.
class ConsoleControls {
  public:
    void Set(int id, const char* text) {
        std::lock_guard<std::mutex> lock(lock_);
        texts_[id] = text;
    }
    std::string Get(int id) {
        std::lock_guard<std::mutex> lock(lock_);
        return texts_[id];
    }
    void Copy(int id, char* out, size_t capacity) {
        if (capacity == 0) return;
        std::string text = Get(id);
        size_t n = std::min(text.size(), capacity - 1);
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
    }
    void Check(int id, bool on) {
        std::lock_guard<std::mutex> lock(lock_);
        if (on) {
            checked_.insert(id);
        } else {
            checked_.erase(id);
        }
    }
    bool IsChecked(int id) {
        std::lock_guard<std::mutex> lock(lock_);
        return checked_.count(id) != 0;
    }

  private:
    std::mutex lock_;
    std::map<int, std::string> texts_;
    std::set<int> checked_;
};

class ConsoleMainDialog final : public sfx::MainDialog {
  public:
    void SetItemText(int id, const char* text) override {
        controls_.Set(id, text);
        if (id == IDC_CURRENT_FILE) {
            percent_ = 0;
            const char* prefix = sfx::texts::kCurrentFilePrefix;
            current_ = std::strncmp(text, prefix, std::strlen(prefix)) == 0
                           ? text + std::strlen(prefix)
                           : text;
            DrawBar();
        } else if (id == IDC_FILES_DONE) {
            DrawBar();
        }
    }
    void GetItemText(int id, char* out, size_t capacity) override {
        controls_.Copy(id, out, capacity);
    }
    bool IsChecked(int id) override { return controls_.IsChecked(id); }
    void Check(int id, bool on) { controls_.Check(id, on); }
    void EnableItem(int, bool) override {}
    void ShowItem(int, bool) override {}
    void ListReset(int) override { extracted_ = 0; }
    void ListAdd(int, const char* text) override {
        ++extracted_;
        g_terminal.Line(stdout, std::string("extracted ") + text);
        DrawBar();
    }
    void SetProgressRange(int, int, int) override {}
    void SetProgressColour(int, uint8_t, uint8_t, uint8_t) override {}
    void SetProgress(int, int value) override {
        percent_ = value < 0 ? 0 : value > 100 ? 100 : value;
        auto now = std::chrono::steady_clock::now();
        if (percent_ != 100 && now - lastDraw_ < std::chrono::milliseconds(50)) return;
        lastDraw_ = now;
        DrawBar();
    }
    void End(intptr_t result) override {
        result_ = result;
        ended_ = true;
    }
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        if (skipExisting && std::strcmp(caption, sfx::texts::kOverwriteCaption) == 0 &&
            (style & 0xF) == sfx::kBoxYesNoCancel) {
            return sfx::kAnswerNo;  // --skip-existing, or packed "never"
        }
        // Unattended: keep existing files, create the destination, leave when done.
        int unattended = sfx::kAnswerYes;
        if ((style & 0xF) == sfx::kBoxYesNoCancel) unattended = sfx::kAnswerNo;
        return ShowBox(text, caption, style, unattended);
    }

    bool CreateCommentView() override {
        commentView_ = true;
        return true;
    }
    bool SetCommentFont() override {
        commentFont_ = true;
        return true;
    }
    void SetCommentText(const char* text) override {
        std::string comment;
        for (const char* c = text; *c; ++c) {
            if (!(c[0] == '\r' && c[1] == '\n')) comment += *c;  // Windows line ends
        }
        while (!comment.empty() && (comment.back() == '\n' || comment.back() == '\r')) {
            comment.pop_back();
        }
        g_terminal.Line(stdout, "----------------------------------------------------------");
        g_terminal.Line(stdout, comment);
        g_terminal.Line(stdout, "----------------------------------------------------------");
    }
    bool HasCommentView() override { return commentView_; }
    void DestroyCommentView() override { commentView_ = false; }
    bool HasCommentFont() override { return commentFont_; }
    void ReleaseCommentFont() override { commentFont_ = false; }
    bool BrowseForFolder(char*, size_t) override { return false; }
    bool StartWorker() override {
        if (worker_.joinable()) worker_.join();
        workerDone_ = false;
        worker_ = std::thread([this] {
            sfx::ExtractThread(*platform_, *this);
            workerDone_ = true;
        });
        return true;
    }

    void SetChecked(int id, bool on) override { controls_.Check(id, on); }
    void Attach(sfx::Platform* platform) { platform_ = platform; }
    bool ended() const { return ended_; }
    bool WorkerRunning() const { return worker_.joinable() && !workerDone_; }
    // Returns whether a worker had run since the last call.
    bool JoinWorker() {
        if (!worker_.joinable()) return false;
        worker_.join();
        g_terminal.EndBar();
        return true;
    }
    uint64_t extracted() const { return extracted_; }
    bool skipExisting = false;

  private:
    void DrawBar() {
        std::string count = controls_.Get(IDC_FILES_DONE);
        const char* prefix = sfx::texts::kFilesDonePrefix;
        if (count.rfind(prefix, 0) == 0) count = count.substr(std::strlen(prefix));
        g_terminal.Bar(percent_, current_, count.empty() ? "" : "(" + count + ")");
    }

    ConsoleControls controls_;
    sfx::Platform* platform_ = nullptr;
    std::thread worker_;
    std::atomic<bool> workerDone_{true};
    std::atomic<bool> ended_{false};
    intptr_t result_ = 0;
    std::atomic<int> percent_{0};
    std::string current_;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::atomic<uint64_t> extracted_{0};
    bool commentView_ = false;
    bool commentFont_ = false;
};

// The password dialog: its prompt line, its field, its keep-password box.
class ConsolePasswordDialog final : public sfx::Dialog {
  public:
    ConsolePasswordDialog() { controls_.Set(IDC_PASSWORD_TEXT, sfx::texts::kEntryPasswordPrompt); }
    void SetItemText(int id, const char* text) override { controls_.Set(id, text); }
    void GetItemText(int id, char* out, size_t capacity) override {
        controls_.Copy(id, out, capacity);
    }
    bool IsChecked(int id) override { return controls_.IsChecked(id); }
    void EnableItem(int, bool) override {}
    void ShowItem(int, bool) override {}
    void ListReset(int) override {}
    void ListAdd(int, const char*) override {}
    void SetProgressRange(int, int, int) override {}
    void SetProgressColour(int, uint8_t, uint8_t, uint8_t) override {}
    void SetProgress(int, int) override {}
    void End(intptr_t result) override {
        result_ = result;
        ended_ = true;
    }
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        return ShowBox(text, caption, style, sfx::kAnswerOk);
    }

    intptr_t Run(char* buffer, const std::string& entryName) {
        sfx::PasswordDialogInit(*this, buffer);
        if (!StdinIsTerminal()) {
            g_terminal.Line(stderr, (entryName.empty() ? std::string("The archive") : entryName) +
                                        " needs a password; run this program on a terminal "
                                        "to type it.");
            sfx::PasswordDialogCommand(*this, sfx::kDialogCancelled);
            return result_;
        }
        while (!ended_) {
            g_terminal.Line(stdout, controls_.Get(IDC_PASSWORD_TEXT) +
                                        (entryName.empty() ? "" : " (" + entryName + ")"));
            bool saved = !controls_.Get(IDC_PASSWORD).empty();
            std::optional<std::string> typed =
                ReadLine(saved ? "Password (Enter alone keeps what is filled in; Ctrl-D cancels): "
                               : "Password (Enter alone cancels): ",
                         true);
            if (!typed || (typed->empty() && !saved) || g_interrupted) {
                sfx::PasswordDialogCommand(*this, sfx::kDialogCancelled);
                break;
            }
            if (!typed->empty()) controls_.Set(IDC_PASSWORD, typed->c_str());
            if (controls_.Get(IDC_PASSWORD).size() >= sfx::PASSWORD_MIN_LENGTH) {
                int keep = Ask("Automatically try this password on the next files?", "Password",
                               sfx::kBoxYesNo, sfx::kAnswerNo);
                controls_.Check(IDC_REUSE_PASSWORD, keep == sfx::kAnswerYes);
            }
            sfx::PasswordDialogCommand(*this, sfx::kDialogConfirmed);
        }
        return result_;
    }

  private:
    ConsoleControls controls_;
    bool ended_ = false;
    intptr_t result_ = sfx::kDialogCancelled;
};

// "~" and "~/..." as the shell reads them.
std::string WithHome(const std::string& folder) {
    if (folder != "~" && folder.rfind("~/", 0) != 0) return folder;
    const char* home = std::getenv("HOME");
    return home ? home + folder.substr(1) : folder;
}

class ConsolePlatform final : public sfx::Platform {
  public:
    sfx::PathStyle Style() override { return sfx::PathStyle::Posix; }
    void GetOwnPath(char* out, size_t capacity) override {
        char path[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n < 0) n = 0;
        path[n] = '\0';
        size_t length = std::min(static_cast<size_t>(n), capacity - 1);
        std::memcpy(out, path, length);
        out[length] = '\0';
    }
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        return ShowBox(text, caption, style, sfx::kAnswerYes);
    }
    intptr_t RunPasswordDialog(sfx::MainDialog* owner, char* buffer) override {
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
        if (hasFilePassword && (!passwordGiven_ || entry != passwordGivenFor_)) {
            passwordGiven_ = true;
            passwordGivenFor_ = entry;
            std::snprintf(buffer, sfx::kPasswordFieldBytes, "%s", filePassword.c_str());
            return sfx::kDialogConfirmed;
        }
        ConsolePasswordDialog dialog;
        return dialog.Run(buffer, entry);
    }
    void RunMainDialog() override {
        ranDialog = true;
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
    void WaitForWorker() override {
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
        handedOver = sfx::g_qwFilesDone;
        extracted = dialog_.extracted();
        if (!sfx::g_bCancel) {
            char count[sfx::kTextBytes];
            dialog_.GetItemText(IDC_FILES_DONE, count, sizeof count);
            if (count[0]) g_terminal.Line(stdout, count);
        }
    }
    bool PathExists(const char* path) override { return access(path, F_OK) == 0; }
    bool DirectoryExists(const char* path) override {
        struct stat st;
        return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool CreateDirectoryLevel(const char* path) override { return mkdir(path, 0777) == 0; }
    bool RemoveFile(const char* path) override { return unlink(path) == 0; }
    void PrintLine(const char* text, bool error) override {
        g_terminal.Line(error ? stderr : stdout, text);
    }
    bool MakeTemporaryFolder(char* out) override { return console::MakeTemporaryFolder(out); }
    bool RemoveFolderTree(const char* path) override { return console::RemoveFolderTree(path); }
    sfx::ProgramResult RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) override {
        // A terminal program's installer talks to the same terminal: always waited for.
        g_terminal.EndBar();
        sfx::ProgramResult result = console::RunAndWait(launch, exitCode);
        if (result == sfx::ProgramResult::Ran) programExitCode = *exitCode;
        return result;
    }

  private:
    // The destination and the overwrite box, asked on the terminal; false when the user leaves.
    bool AskSettings() {
        if (!AskDestination()) return false;
        // Existing files: as the command line says, else as packed, else asked.
        format::SfxOverwrite decided = sfx::EffectiveOverwrite(overwrite);
        if (decided != format::SfxOverwrite::Ask) {
            dialog_.Check(IDC_OVERWRITE, decided == format::SfxOverwrite::Always);
            dialog_.skipExisting = decided == format::SfxOverwrite::Never;
            return true;
        }
        int answer =
            Ask("Overwrite files automatically?", "Options", sfx::kBoxYesNo, sfx::kAnswerNo);
        dialog_.Check(IDC_OVERWRITE, answer == sfx::kAnswerYes);
        return true;
    }

    // The folder: a temporary one, the one given with --target, or the one the user types.
    bool AskDestination() {
        char field[sfx::kTextBytes];
        dialog_.GetItemText(IDC_DEST_DIR, field, sizeof field);
        if (sfx::g_settings.temporary) {
            g_terminal.Line(stdout, std::string("Extracting to ") + field);
            return true;
        }
        if (target != nullptr) return SetDestination(Absolute(WithHome(target)));
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
            std::string destination = typed->empty() ? proposed : Absolute(WithHome(*typed));
            if (SetDestination(destination)) return true;
        }
    }

  public:
    // Given on the command line or typed, a relative folder means one below the current folder.
    static std::string Absolute(const std::string& folder) {
        if (folder.empty() || folder[0] == '/') return folder;
        char cwd[PATH_MAX];
        return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + folder : folder;
    }

  private:
    // The destination field holds 255 bytes; a longer folder is refused, never cut.
    bool SetDestination(const std::string& destination) {
        if (destination.size() > sfx::kMaxTextLength) {
            g_terminal.Line(stderr,
                            "Error: the destination folder's path is longer than 255 "
                            "characters.");
            return false;
        }
        dialog_.SetItemText(IDC_DEST_DIR, destination.c_str());
        return true;
    }

  public:
    // For the exit code: whether the archive opened and every entry handed over was extracted.
    bool ranDialog = false;
    uint64_t handedOver = 0;
    uint64_t extracted = 0;
    std::optional<int> programExitCode;  // the program run after extraction ended with it
    // Options of the command line for the questions: a folder given, existing files decided.
    const char* target = nullptr;
    sfx::OverwriteChoice overwrite = sfx::OverwriteChoice::Packed;
    std::string filePassword;  // --password-file: tried once at each prompt
    bool hasFilePassword = false;

  private:
    ConsoleMainDialog dialog_;
    bool cancelling_ = false;
    bool passwordGiven_ = false;
    std::string passwordGivenFor_;
};

}  // namespace

int main(int argc, char** argv) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    // Nothing is extracted on a command line this program does not understand.
    const char* program = argc > 0 ? argv[0] : "vornsfx";
    sfx::ConsoleOptions options;
    sfx::ArgumentsStatus parsed =
        sfx::ParseConsoleOptions(argc - 1, const_cast<const char* const*>(argv + 1), &options);
    if (parsed != sfx::ArgumentsStatus::Ok) {
        console::ReportBadArguments(program, argv[1 + options.bad], parsed);
        return 2;
    }
    if (options.mode == sfx::ConsoleMode::Help) {
        console::PrintUsage(stdout, program);
        return 0;
    }
    if (sfx::LoadSettings() != format::SfxSettingsStatus::Ok) {
        std::fprintf(stderr, "Error: %s\n", sfx::texts::kSettingsDamaged);
        return 2;
    }
    sfx::g_ppszProgramArgs = argv + 1 + options.programArgs;
    sfx::g_nProgramArgs = argc - 1 - options.programArgs;
    std::string password;
    if (options.passwordFile && !console::ReadPasswordFile(options.passwordFile, &password)) {
        return 2;
    }
    const char* givenPassword = options.passwordFile ? password.c_str() : nullptr;

    ConsolePlatform platform;
    if (options.mode != sfx::ConsoleMode::Extract) {
        return console::Inspect(platform, options.mode, givenPassword);
    }
    std::string target = options.target ? ConsolePlatform::Absolute(WithHome(options.target)) : "";
    if (options.quiet) {
        sfx::UnattendedOptions unattended;
        unattended.destination = options.target ? target.c_str() : nullptr;
        unattended.password = givenPassword;
        unattended.overwrite = options.overwrite;
        unattended.noexec = options.noexec;
        unattended.keep = options.keep;
        return sfx::RunUnattended(platform, unattended);
    }
    sfx::g_bNoExec = options.noexec;
    sfx::g_bKeepTemporary = options.keep;
    platform.target = options.target ? target.c_str() : nullptr;
    platform.overwrite = options.overwrite;
    platform.filePassword = password;
    platform.hasFilePassword = options.passwordFile != nullptr;
    sfx::StartUp(platform);
    if (g_interrupted) return 2;
    if (platform.programExitCode) return *platform.programExitCode;
    // Unlike the Windows stub, which always ends with 0, a terminal program tells scripts how it
    // went: 1 when the archive did not open or an entry failed.
    if (!platform.ranDialog || sfx::g_bCancel || platform.extracted < platform.handedOver) return 1;
    return 0;
}
