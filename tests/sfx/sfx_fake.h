// A scripted stand-in for the window system under the self-extractor's decisions: it answers
// message boxes and password prompts from a script, records every text shown, and maps the
// Windows-style paths the decisions build onto a private temporary folder, so that real archives
// (made by pack::BuildArchive) are extracted by the real library onto the real disk.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sfx/core/installer.h"
#include "sfx/core/sfx_core.h"
#include "test_archive.h"

namespace sfx_test {

namespace fs = std::filesystem;

// One message box as the user saw it.
struct Box {
    std::string owner;  // "none", "main" or "password"
    std::string text;
    std::string caption;
    unsigned style = 0;
};

// What the user does at one password prompt: types a text, sets the keep box, presses a button.
// A prompt may take several actions (a too-short password keeps the dialog open).
struct PromptAction {
    std::optional<std::string> typed;  // none: the field is left as the dialog opened
    bool keep = false;
    int command = 1;                     // 1 OK, 2 Cancel
    std::optional<intptr_t> notCreated;  // the dialog cannot be made: this result, no dialog
};

// One prompt as the user saw it when it opened.
struct Prompt {
    bool ownedByMain = false;
    std::string promptText;  // IDC_PASSWORD_TEXT
    std::string prefilled;   // IDC_PASSWORD
    bool keepChecked = false;
};

// One call of the library's file extraction, as the decisions made it.
struct ExtractCall {
    std::string name;
    std::string path;  // as built by the decisions
    std::optional<std::string> password;
    uint32_t status = 0;
};

class FakePlatform;

// A dialog's controls, kept as plain state; the main dialog's extras included.
class FakeDialog final : public sfx::MainDialog {
  public:
    FakeDialog(FakePlatform& platform, std::string ownerName);

    void SetItemText(int id, const char* text) override;
    void GetItemText(int id, char* out, size_t capacity) override;
    bool IsChecked(int id) override { return checked[id]; }
    void EnableItem(int id, bool enable) override { enabled[id] = enable; }
    void ShowItem(int id, bool show) override { shown[id] = show; }
    void ListReset(int id) override { lists[id].clear(); }
    void ListAdd(int id, const char* text) override { lists[id].insert(text); }
    void SetProgressRange(int id, int low, int high) override { ranges[id] = {low, high}; }
    void SetProgressColour(int id, uint8_t r, uint8_t g, uint8_t b) override {
        colours[id] = {r, g, b};
    }
    void SetProgress(int id, int value) override {
        progress[id].push_back(value);
        if (onProgress) onProgress(value);
    }
    void End(intptr_t result) override { ended = result; }
    int ShowMessage(const char* text, const char* caption, unsigned style) override;

    bool CreateCommentView() override;
    bool SetCommentFont() override;
    void SetCommentText(const char* text) override { commentText = text; }
    bool HasCommentView() override { return commentView; }
    void DestroyCommentView() override { commentView = false; }
    bool HasCommentFont() override { return commentFont; }
    void ReleaseCommentFont() override { commentFont = false; }
    bool BrowseForFolder(char* out, size_t capacity) override;
    bool StartWorker() override;
    void SetChecked(int id, bool on) override { checked[id] = on; }

    FakePlatform& platform;
    std::string ownerName;
    std::map<int, std::string> texts;
    std::map<int, std::vector<std::string>> textHistory;
    std::map<int, bool> checked;
    std::map<int, bool> enabled;
    std::map<int, bool> shown;
    std::map<int, std::multiset<std::string>> lists;
    std::map<int, std::pair<int, int>> ranges;
    std::map<int, std::vector<int>> colours;
    std::map<int, std::vector<int>> progress;
    std::optional<intptr_t> ended;
    std::function<void(int)> onProgress;
    bool commentView = false;
    bool commentFont = false;
    bool fontFails = false;
    std::string commentText;
    std::optional<std::string> browseAnswer;  // none: the user cancels the browser
    int workersStarted = 0;
    bool runWorkerAtOnce = true;
};

// The archive library reached through the fake's path mapping, with every call recorded.
class RecordingArchive final : public sfx::ArchiveApi {
  public:
    explicit RecordingArchive(FakePlatform& platform) : platform(platform) {}

    uint32_t OpenStream(void** handle, const char* path, const char* password,
                        unsigned mode) override;
    uint32_t CloseStream(void* handle) override;
    uint32_t CancelOperation(void* handle) override;
    uint64_t GetNumFiles(void* handle) override { return vorn_GetNumFiles(handle); }
    const char* GetErrorString(uint32_t status) override {
        return vorn_GetErrorString(static_cast<int>(status));
    }
    uint32_t EnumerateFiles(void* handle, VORN_FILEINFO* info, uint64_t index) override;
    uint32_t GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name) override {
        return vorn_GetFileInfo(handle, info, name);
    }
    uint32_t DecompressToFile(void* handle, const char* name, const char* path,
                              ProgressCallback progress, const char* password) override;
    uint32_t DecompressToPtr(void* handle, const char* name, unsigned char* buffer,
                             ProgressCallback progress, const char* password) override {
        return vorn_DecompressToPtr(handle, name, buffer, progress, password);
    }

    FakePlatform& platform;
    std::vector<std::optional<std::string>> openPasswords;
    int closes = 0;
    int cancels = 0;
    std::vector<ExtractCall> extracts;
    // Hooks for the moments a test wants to step in.
    std::function<void(ExtractCall&)> afterExtract;
    std::optional<uint32_t> enumerateFailsWith;
};

class FakePlatform final : public sfx::Platform {
  public:
    FakePlatform();
    ~FakePlatform();

    sfx::PathStyle Style() override { return style; }
    void GetOwnPath(char* out, size_t capacity) override;
    int ShowMessage(const char* text, const char* caption, unsigned style) override;
    intptr_t RunPasswordDialog(sfx::MainDialog* owner, char* buffer) override;
    void RunMainDialog() override;
    void WaitForWorker() override { ++waits; }
    bool PathExists(const char* path) override;
    bool DirectoryExists(const char* path) override;
    bool CreateDirectoryLevel(const char* path) override;
    bool RemoveFile(const char* path) override;
    // The one way of writing over the host folders behind the decisions' paths, recorded.
    sfx::EntryFolderResult OpenEntryFolder(const char* destination, const char* relative) override;
    bool CreateEntryPart(const char* leaf, char* partPath) override;
    bool CloseEntryFolder(bool keep) override;
    bool IsLeadByte(unsigned char c) override { return leadBytes.count(c) != 0; }
    size_t SystemText(const char* text, char* out, size_t capacity) override;
    void PrintLine(const char* text, bool error) override {
        (error ? errorLines : lines).push_back(text);
    }
    // The machine's known folders: those in knownFolders, no other.
    bool KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity) override {
        auto it = knownFolders.find(folder);
        if (it == knownFolders.end() || it->second.size() >= capacity) return false;
        memcpy(out, it->second.c_str(), it->second.size() + 1);
        return true;
    }
    std::map<format::KnownFolder, std::string> knownFolders;
    bool MakeTemporaryFolder(char* out) override;
    bool RemoveFolderTree(const char* path) override;
    sfx::ProgramResult RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) override;

    // The host path behind a path of the decisions: "X:\a\b" lies at root/X/a/b.
    fs::path Host(const std::string& path) const;
    // The same as the 8-bit text the library's calls take. Built from the decisions' own bytes,
    // never through fs::path's text, which on Windows reads 8-bit text in the system's code page
    // but writes it back as UTF-8, so a name beyond ASCII would land under another name.
    std::string HostText(const std::string& path) const;
    // Writes an archive as the program's own file.
    void InstallArchive(const vorntest::TestArchive& archiveSpec);
    // Answers for the next message boxes, in order; when they run out every box gets fallback.
    void Answer(std::initializer_list<int> answers) {
        for (int a : answers) answers_.push_back(a);
    }
    int NextAnswer();
    std::vector<Box> BoxesWithCaption(const std::string& caption) const;

    sfx::PathStyle style = sfx::PathStyle::Windows;
    fs::path root;
    std::string ownPath = "C:\\Tools\\pack.exe";
    std::set<unsigned char> leadBytes;
    // Stored texts the system spells otherwise, as the Windows stub reads code-page names.
    std::map<std::string, std::string> systemTexts;
    RecordingArchive recorder{*this};
    FakeDialog mainDialog{*this, "main"};
    std::vector<Box> boxes;
    std::deque<PromptAction> promptScript;
    std::vector<Prompt> prompts;
    std::vector<std::string> probedLevels;
    std::vector<std::string> createdLevels;
    std::vector<std::string> removed;
    std::vector<std::string> entryFolders;  // each entry's folder below the destination
    std::vector<std::string> partFiles;     // each part file made, as the decisions see it
    std::pair<std::string, std::string> partHostPath;  // the last part file: decisions', host's
    int partsKept = 0;
    int partsDiscarded = 0;
    std::function<void(FakeDialog&)> onMainDialog;  // what the user does in the main dialog
    int mainDialogRuns = 0;
    int waits = 0;
    int fallbackAnswer = sfx::kAnswerOk;
    // Installers: console lines, temporary folders, programs started.
    std::vector<std::string> lines;
    std::vector<std::string> errorLines;
    std::vector<std::string> removedTrees;
    bool temporaryFails = false;
    struct Started {
        std::string path, folder, arguments;  // arguments: the line's rest, then each extra word
        bool wait;
        bool wholeTree;      // waited for with everything it started
        bool folderExisted;  // the temporary folder still existed while the program ran
    };
    std::vector<Started> started;
    bool programStarts = true;
    int programExitCode = 0;

  private:
    std::deque<int> answers_;
    std::string entryFolder_;  // the entry folder open, as the decisions spell it
    bool partOpen_ = false;
};

// Puts every front-end variable back to its start-up value, with no settings.
void ResetFrontEndState();

// Settings as the packer would write them into the program.
void PackSettings(const std::optional<std::string>& run, bool temporary,
                  std::optional<format::SfxOverwrite> overwrite = std::nullopt);

// Reads a whole host file; empty when missing.
std::string ReadHostFile(const fs::path& path);
std::vector<uint8_t> Bytes(const std::string& text);
vorntest::TestEntry Entry(const std::string& name, const std::string& data);

}  // namespace sfx_test
