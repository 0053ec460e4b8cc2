// The self-extractor for Linux terminals: the same decisions as the Windows stub (sfx/core) with
// a terminal in place of the dialogs. The comment is printed, the destination is asked with the
// default shown, questions take one-letter answers, passwords are typed without echo, and the
// current entry's progress is a bar with the running count beside it. Without a terminal on
// stdin every question takes its safe answer: the default destination, keep existing files, no
// password (the entry is reported), and exit when done.
#include <signal.h>
#include <sys/stat.h>
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

#include "sfx/core/messages.h"
#include "sfx/core/sfx_core.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
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
            if (g_interrupted && !sfx::g_bCancel) {
                g_terminal.Line(stderr, "Cancelling...");
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

  private:
    // The destination and the overwrite box, asked on the terminal; false when the user leaves.
    bool AskSettings() {
        char field[sfx::kTextBytes];
        dialog_.GetItemText(IDC_DEST_DIR, field, sizeof field);
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
            std::string destination = typed->empty() ? proposed : WithHome(*typed);
            if (!typed->empty() && destination[0] != '/') {
                // Typed on a terminal, a relative folder means one below the current folder.
                char cwd[PATH_MAX];
                if (getcwd(cwd, sizeof cwd)) destination = std::string(cwd) + "/" + destination;
            }
            if (SetDestination(destination)) break;
        }
        int overwrite =
            Ask("Overwrite files automatically?", "Options", sfx::kBoxYesNo, sfx::kAnswerNo);
        dialog_.Check(IDC_OVERWRITE, overwrite == sfx::kAnswerYes);
        return true;
    }

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

  private:
    ConsoleMainDialog dialog_;
};

}  // namespace

int main() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    ConsolePlatform platform;
    sfx::StartUp(platform);
    // Unlike the Windows stub, which always ends with 0, a terminal program tells scripts how it
    // went: 1 when the archive did not open, an entry failed or the run was cancelled.
    if (!platform.ranDialog || sfx::g_bCancel || platform.extracted < platform.handedOver) return 1;
    return 0;
}
