// The decisions of a self-extractor packed as an installer: its settings, whether and how the
// program runs after the walk, what a run without questions answers, and the exit code.
#include "sfx/core/installer.h"

#include <cstdlib>
#include <cstring>

#include "sfx/core/messages.h"
#include "sfx/core/text.h"

namespace sfx {

format::SfxSettings g_settings;
WalkOutcome g_walk;
const UnattendedRun* g_pUnattended = nullptr;
const char* const* g_ppszProgramArgs = nullptr;
int g_nProgramArgs = 0;
bool g_bNoExec = false;
bool g_bKeepTemporary = false;

namespace {

// Starts the packed program inside folder.
ProgramResult Launch(Platform& platform, const char* folder, bool wait, int* exitCode) {
    char path[kTextBytes];
    ProgramLaunch launch = {};
    if (!ProgramPath(platform.Style(), folder, path, &launch.argumentsAt)) {
        return ProgramResult::CannotStart;
    }
    launch.path = path;
    launch.folder = folder;
    launch.line = g_settings.run;
    launch.lineLength = g_settings.runLength;
    launch.extraArgs = g_ppszProgramArgs;
    launch.extraCount = g_nProgramArgs;
    launch.wait = wait;
    *exitCode = 0;
    return platform.RunProgram(launch, exitCode);
}

// The dialog of a run without questions: the destination and the overwrite box as plain data,
// every box and every extracted entry a line on the console, every question answered no.
class QuietDialog final : public MainDialog {
  public:
    QuietDialog(Platform& platform, bool overwrite) : platform_(platform), overwrite_(overwrite) {
        folder_[0] = '\0';
    }
    void SetItemText(int id, const char* text) override {
        if (id == IDC_DEST_DIR) CopyText(folder_, sizeof folder_, text);
    }
    void GetItemText(int id, char* out, size_t capacity) override {
        if (capacity == 0) return;
        out[0] = '\0';
        if (id == IDC_DEST_DIR) CopyText(out, capacity, folder_);
    }
    bool IsChecked(int id) override { return id == IDC_OVERWRITE && overwrite_; }
    void EnableItem(int, bool) override {}
    void ShowItem(int, bool) override {}
    void ListReset(int) override {}
    void ListAdd(int, const char* text) override {
        char line[kTextBytes + sizeof texts::kExtractedPrefix];
        CopyText(line, sizeof line, texts::kExtractedPrefix);
        AppendText(line, sizeof line, text);
        platform_.PrintLine(line, false);
    }
    void SetProgressRange(int, int, int) override {}
    void SetProgressColour(int, uint8_t, uint8_t, uint8_t) override {}
    void SetProgress(int, int) override {}
    void End(intptr_t) override {}
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        char line[2 * kTextBytes + 4];
        CopyText(line, sizeof line, caption);
        AppendText(line, sizeof line, ": ");
        AppendText(line, sizeof line, text);
        platform_.PrintLine(line, (style & 0xF0) == kBoxIconError);
        return kAnswerNo;
    }
    bool CreateCommentView() override { return false; }
    bool SetCommentFont() override { return false; }
    void SetCommentText(const char*) override {}
    bool HasCommentView() override { return false; }
    void DestroyCommentView() override {}
    bool HasCommentFont() override { return false; }
    void ReleaseCommentFont() override {}
    bool BrowseForFolder(char*, size_t) override { return false; }
    bool StartWorker() override { return false; }
    void SetChecked(int id, bool checked) override {
        if (id == IDC_OVERWRITE) overwrite_ = checked;
    }

  private:
    Platform& platform_;
    bool overwrite_;
    char folder_[kTextBytes];
};

void PrintStatus(Platform& platform, const char* caption, uint32_t status) {
    QuietDialog(platform, false)
        .ShowMessage(platform.archive->GetErrorString(status), caption, kBoxIconError);
}

// The folder a run without questions extracts into, made when missing; false when it cannot be.
bool PrepareFolder(Platform& platform, MainDialog& dialog, const UnattendedOptions& options,
                   char* folder, bool* temporary) {
    *temporary = false;
    if (g_settings.temporary) {
        if (!platform.MakeTemporaryFolder(folder)) {
            platform.PrintLine(texts::kTemporaryFolderFailed, true);
            return false;
        }
        *temporary = true;
    } else {
        const char* chosen = options.destination;
        if (chosen == nullptr && g_szExtractDir[0] != '\0') chosen = g_szExtractDir;
        char own[kTextBytes];
        if (chosen == nullptr) {
            GetDefaultExtractDir(platform, own);
            chosen = own;
        }
        if (!ResolveDestination(platform, chosen, folder)) {
            platform.PrintLine(texts::kDestinationTooLong, true);
            return false;
        }
    }
    char levels[kTextBytes];
    CopyText(levels, sizeof levels, folder);
    if (strlen(levels) + 1 >= kTextBytes || EnsureDirectory(platform, dialog, levels, false) == 0) {
        return false;
    }
    dialog.SetItemText(IDC_DEST_DIR, folder);
    return true;
}

// A run without questions never asks for a password, and a wrong one must write nothing: the
// smallest enciphered entry is decoded to memory first. True when there is none, or it decodes.
bool CheckPassword(Platform& platform, const char* password) {
    ArchiveApi& archive = *platform.archive;
    constexpr uint64_t kMaxProbeBytes = 16u << 20;
    VORN_FILEINFO info;
    VORN_FILEINFO smallest;
    bool any = false;
    uint64_t count = archive.GetNumFiles(g_hArchive);
    for (uint64_t i = 0; i < count; ++i) {
        memset(&info, 0, sizeof info);
        if (archive.EnumerateFiles(g_hArchive, &info, i) != VORN_SUCCESS) return true;
        if ((info.dwAttributes & VORN_ATTR_ENCRYPTED) == 0) continue;
        if (!any || info.qwUnpackedSize < smallest.qwUnpackedSize) smallest = info;
        any = true;
    }
    if (!any) return true;
    uint32_t status = VORN_E_PASSWORD_NEEDED;
    if (password != nullptr && smallest.qwUnpackedSize > kMaxProbeBytes) return true;
    if (password != nullptr) {
        smallest.szName[sizeof smallest.szName - 1] = '\0';
        auto* buffer =
            static_cast<unsigned char*>(malloc(static_cast<size_t>(smallest.qwUnpackedSize) + 1));
        if (buffer == nullptr) return true;  // the walk still checks every entry
        status = archive.DecompressToPtr(g_hArchive, smallest.szName, buffer, nullptr, password);
        free(buffer);
        if (status == VORN_SUCCESS) return true;
        if (status != VORN_E_CRC && status != VORN_E_CORRUPT) return true;
    }
    if (status == VORN_E_PASSWORD_NEEDED) {
        PrintStatus(platform, texts::kErrorCaption, status);
    } else {
        platform.PrintLine(texts::kWrongPassword, true);
    }
    return false;
}

// The walk, on this thread, and the program after it.
void ExtractAndRun(Platform& platform, MainDialog& dialog, const UnattendedOptions& options,
                   const char* folder, RunReport* report) {
    ExtractThread(platform, dialog);
    report->walk = g_walk;
    report->interrupted = g_bCancel;
    if (report->interrupted) platform.PrintLine(texts::kInterrupted, true);
    if (report->interrupted) return;
    if (!ShouldRunProgram(report->walk, options.noexec)) {
        if (g_settings.run != nullptr && !options.noexec) {
            platform.PrintLine(texts::kProgramNotRun, true);
        }
        return;
    }
    report->programWanted = true;
    int exitCode = 0;
    report->programStarted = Launch(platform, folder, true, &exitCode) == ProgramResult::Ran;
    report->programExitCode = exitCode;
    if (!report->programStarted) {
        platform.PrintLine(texts::kProgramCannotStart, true);
        return;
    }
    char line[64];
    CopyText(line, sizeof line, texts::kProgramExitPrefix);
    if (exitCode < 0) AppendText(line, sizeof line, "-");
    AppendDecimal(line, sizeof line,
                  exitCode < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(exitCode))
                               : static_cast<uint64_t>(exitCode));
    platform.PrintLine(line, false);
}

}  // namespace

format::SfxSettingsStatus LoadSettings() {
    format::SfxSettingsStatus status =
        format::ReadSfxSettings(g_abSettings, sizeof g_abSettings, &g_settings);
    if (status != format::SfxSettingsStatus::Ok) g_settings = format::SfxSettings();
    return status;
}

format::SfxOverwrite EffectiveOverwrite(OverwriteChoice choice) {
    if (choice == OverwriteChoice::Always) return format::SfxOverwrite::Always;
    if (choice == OverwriteChoice::Never) return format::SfxOverwrite::Never;
    return g_settings.overwrite;
}

int UnattendedOverwriteAnswer(format::SfxOverwrite overwrite, bool* countsAsFailure) {
    *countsAsFailure = overwrite == format::SfxOverwrite::Ask;
    return overwrite == format::SfxOverwrite::Always ? kAnswerYes : kAnswerNo;
}

bool ShouldRunProgram(const WalkOutcome& walk, bool noexec) {
    if (g_settings.run == nullptr || noexec) return false;
    return walk.complete && walk.failed == 0 && !walk.wrongPassword &&
           walk.extracted + walk.kept == walk.entries;
}

bool ProgramPath(PathStyle style, const char* folder, char* path, size_t* argumentsAt) {
    if (g_settings.run == nullptr) return false;
    char name[kTextBytes];
    size_t offset = 0;
    if (!format::NextProgramWord(g_settings.run, g_settings.runLength, &offset, name,
                                 sizeof name) ||
        name[0] == '\0') {
        return false;
    }
    // The packer wrote "\" between levels; a line typed with "/" means the same.
    for (char* c = name; *c != '\0'; ++c) {
        if (*c == '/') *c = '\\';
    }
    if (BuildEntryPath(style, folder, name, path) != EntryPathVerdict::Fits) return false;
    *argumentsAt = offset;
    return true;
}

bool RunProgramAfterWalk(Platform& platform, MainDialog& dialog) {
    if (g_bNoExec) return false;
    if (!ShouldRunProgram(g_walk, false)) {
        dialog.ShowMessage(texts::kProgramNotRun, texts::kProgramCaption, kBoxOk | kBoxIconError);
        return false;
    }
    char folder[kTextBytes];
    dialog.GetItemText(IDC_DEST_DIR, folder, sizeof folder);
    folder[kTextBytes - 1] = '\0';
    char resolved[kTextBytes];
    int exitCode = 0;
    if (!ResolveDestination(platform, folder, resolved) ||
        Launch(platform, resolved, g_settings.temporary, &exitCode) != ProgramResult::Ran) {
        dialog.ShowMessage(texts::kProgramCannotStart, texts::kProgramCaption,
                           kBoxOk | kBoxIconError);
    }
    if (g_settings.temporary && !g_bKeepTemporary && !platform.RemoveFolderTree(g_szExtractDir)) {
        dialog.ShowMessage(texts::kTemporaryFolderLeft, texts::kProgramCaption,
                           kBoxOk | kBoxIconError);
    }
    dialog.End(kDialogDone);
    return true;
}

int RunUnattended(Platform& platform, const UnattendedOptions& options) {
    g_pPlatform = &platform;
    ArchiveApi& archive = *platform.archive;
    RunReport report;
    char ownPath[kTextBytes];
    ownPath[0] = '\0';
    platform.GetOwnPath(ownPath, sizeof ownPath);
    ownPath[kTextBytes - 1] = '\0';
    g_hArchive = nullptr;
    uint32_t status =
        archive.OpenStream(&g_hArchive, ownPath, options.password, VORN_OPEN_READONLY);
    if (status != VORN_SUCCESS) {
        g_hArchive = nullptr;
        PrintStatus(platform, texts::kErrorOpeningFile, status);
        return UnattendedExitCode(report);
    }
    report.opened = true;

    UnattendedRun run;
    run.password = options.password;
    run.overwrite = EffectiveOverwrite(options.overwrite);
    QuietDialog dialog(platform, run.overwrite == format::SfxOverwrite::Always);
    g_pMainDialog = &dialog;
    char folder[kTextBytes];
    bool temporary = false;
    if (!CheckPassword(platform, options.password)) {
        report.walk.wrongPassword = true;
    } else if (!PrepareFolder(platform, dialog, options, folder, &temporary)) {
        report.folderFailed = true;
    } else {
        g_pUnattended = &run;
        g_bCancel = false;
        ExtractAndRun(platform, dialog, options, folder, &report);
        g_pUnattended = nullptr;
    }
    if (temporary && options.keep) {
        platform.PrintLine(folder, false);
    } else if (temporary && !platform.RemoveFolderTree(folder)) {
        platform.PrintLine(texts::kTemporaryFolderLeft, true);
    }
    g_pMainDialog = nullptr;
    archive.CloseStream(g_hArchive);
    g_hArchive = nullptr;
    return UnattendedExitCode(report);
}

int UnattendedExitCode(const RunReport& report) {
    if (!report.opened || report.folderFailed || report.interrupted || report.walk.wrongPassword) {
        return 2;
    }
    if (report.programWanted) return report.programStarted ? report.programExitCode : 2;
    if (!report.walk.complete || report.walk.failed != 0) return 1;
    return 0;
}

}  // namespace sfx
