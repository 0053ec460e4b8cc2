// The Linux self-extractor's dialogs over the terminal: the main dialog's controls kept as texts
// and flags, its list and progress as lines and a bar, its worker on a thread; the password
// dialog as a prompt read without echo. The decisions stay in sfx/core; these only turn its
// calls into terminal lines and the user's answers back into control states.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "crypto/secure_memory.h"
#include "sfx/console/terminal.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/sfx_core.h"

namespace console {

// The controls of a dialog, kept as texts and flags; each front-end event reads them back.
class ConsoleControls {
  public:
    ConsoleControls() = default;
    ConsoleControls(const ConsoleControls&) = delete;
    ConsoleControls& operator=(const ConsoleControls&) = delete;
    // A password dialog's field holds the password typed.
    ~ConsoleControls() {
        for (auto& [id, text] : texts_) SecureWipe(text.data(), text.size());
    }
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
        int answer = ShowBox(text, caption, style, unattended);
        if (platform_ != nullptr) sfx::LogBox(*platform_, text, caption, style, answer);
        return answer;
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
        g_terminal.Line(stdout, comment, format::kDisplayUtf8 | format::kDisplayKeepLayout);
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
            bool cancelled = !typed || (typed->empty() && !saved) || g_interrupted;
            if (!cancelled && !typed->empty()) controls_.Set(IDC_PASSWORD, typed->c_str());
            if (typed) SecureWipe(typed->data(), typed->size());
            if (cancelled) {
                sfx::PasswordDialogCommand(*this, sfx::kDialogCancelled);
                break;
            }
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

}  // namespace console
