// The decisions of a self-extractor packed as an installer: its settings, whether and how the
// program runs after the walk, what a run without questions answers, and the exit code.
#include "sfx/core/installer.h"

#include <cstdlib>
#include <cstring>

#include "format/batch_argument.h"
#include "format/exit_code.h"
#include "format/text_bytes.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/temporary_folder.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

// "the program ended with exit code N", negative codes included.
void ExitCodeLine(int exitCode, char* line, size_t capacity) {
    CopyText(line, capacity, texts::kProgramExitPrefix);
    if (exitCode < 0) AppendText(line, capacity, "-");
    AppendDecimal(line, capacity,
                  exitCode < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(exitCode))
                               : static_cast<uint64_t>(exitCode));
}

// Starts the packed program inside folder; the report says whether it started and how it ended.
void Launch(Platform& platform, const char* folder, bool wait) {
    Session& session = platform.session;
    RunReport& report = session.report;
    char path[kTextBytes];
    ProgramLaunch launch = {};
    report.programWanted = true;
    report.programStarted = false;
    report.programExitCode = 0;
    if (!ProgramPath(session.settings, platform.Style(), folder, path, &launch.argumentsAt)) return;
    launch.path = path;
    launch.folder = folder;
    launch.line = session.settings.run;
    launch.lineLength = session.settings.runLength;
    launch.extraArgs = session.invocation.programArgs;
    launch.extraCount = session.invocation.programArgCount;
    launch.wait = wait;
    launch.wholeTree = wait && session.settings.temporary;
    LogLine(platform, texts::kLogProgramStarted, path);
    report.programStarted =
        platform.RunProgram(launch, &report.programExitCode) == ProgramResult::Ran;
    // A program that cannot start is said, and so logged, by the caller.
    if (report.programStarted && wait) {
        char line[64];
        ExitCodeLine(report.programExitCode, line, sizeof line);
        LogLine(platform, line);
    }
}

// A text of the archive's (a name) on a console line: a control byte in it could start a line
// of its own or drive the console, so each shows escaped.
void AppendShown(char* line, size_t capacity, const char* text) {
    size_t used = strlen(line);
    format::EscapeForDisplay(text, strlen(text), line + used, capacity - used, 0);
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
        if (view_ != nullptr && id != IDC_DEST_DIR) view_->SetItemText(id, text);
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
        char line[4 * kTextBytes + sizeof texts::kExtractedPrefix];
        CopyText(line, sizeof line, texts::kExtractedPrefix);
        AppendShown(line, sizeof line, text);
        platform_.PrintLine(line, false);
    }
    void SetProgressRange(int, int, int) override {}
    void SetProgressColour(int, uint8_t, uint8_t, uint8_t) override {}
    void SetProgress(int id, int value) override {
        if (view_ != nullptr) view_->SetProgress(id, value);
    }
    void End(intptr_t) override {}
    // /S /PROGRESS: the walk's texts and progress go to the platform's view as well.
    void SetProgressView(Dialog* view) { view_ = view; }
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        char line[5 * kTextBytes + 4];
        line[0] = '\0';
        AppendShown(line, sizeof line, caption);
        AppendText(line, sizeof line, ": ");
        AppendText(line, sizeof line, text);
        LogBox(platform_, text, caption, style, kAnswerNo);
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
    Dialog* view_ = nullptr;
};

void PrintStatus(Platform& platform, const char* caption, uint32_t status) {
    QuietDialog(platform, false)
        .ShowMessage(platform.archive->GetErrorString(status), caption, kBoxIconError);
}

// The folder a run without questions extracts into, made when missing; false when it cannot be.
bool PrepareFolder(Platform& platform, MainDialog& dialog, char* folder) {
    Session& session = platform.session;
    if (session.settings.temporary) {
        if (!MakeTemporaryFolder(platform, session)) {
            PrintError(platform, texts::kTemporaryFolderFailed);
            return false;
        }
        CopyText(folder, kTextBytes, session.temporary.path);
    } else {
        const char* chosen = session.invocation.destination;
        if (chosen == nullptr && g_szExtractDir[0] != '\0') chosen = g_szExtractDir;
        char own[kTextBytes];
        if (chosen == nullptr) {
            GetDefaultExtractDir(platform, own);
            chosen = own;
        }
        if (!ResolveDestination(platform, chosen, folder)) {
            PrintError(platform, texts::kDestinationTooLong);
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
        if (status == VORN_SUCCESS || !MeansWrongPasswordHere(archive, status)) return true;
    }
    if (status == VORN_E_PASSWORD_NEEDED) {
        PrintStatus(platform, texts::kErrorCaption, status);
    } else {
        PrintError(platform, texts::kWrongPassword);
    }
    return false;
}

// The walk, on this thread, shown in the platform's progress view when asked, and the program
// after it. The view closes with the walk: a Cancel stops extracting, not the program.
void ExtractAndRun(Platform& platform, QuietDialog& dialog, const char* folder) {
    Session& session = platform.session;
    RunReport& report = session.report;
    Dialog* view = session.invocation.progress ? platform.OpenProgressView() : nullptr;
    dialog.SetProgressView(view);
    ExtractThread(platform, dialog);
    dialog.SetProgressView(nullptr);
    if (view != nullptr) platform.CloseProgressView();
    report.interrupted = g_bCancel;
    if (report.interrupted) PrintError(platform, texts::kInterrupted);
    if (report.interrupted) return;
    if (!ShouldRunProgram(session)) {
        if (session.settings.run != nullptr && !session.invocation.noexec) {
            PrintError(platform, texts::kProgramNotRun);
        }
        return;
    }
    Launch(platform, folder, true);
    if (!report.programStarted) {
        PrintError(platform, texts::kProgramCannotStart);
        return;
    }
    char line[64];
    ExitCodeLine(report.programExitCode, line, sizeof line);
    platform.PrintLine(line, false);
}

// The end of a run without questions: the temporary folder kept (its path printed) or removed.
void EndUnattendedFolder(Platform& platform) {
    Session& session = platform.session;
    FolderEnd end = EndTemporaryFolder(platform, session);
    if (end == FolderEnd::Kept) platform.PrintLine(session.temporary.path, false);
    if (end == FolderEnd::Left) platform.PrintLine(texts::kTemporaryFolderLeft, true);  // logged
}

}  // namespace

char* ReadLicenseText(Platform& platform, void* handle) {
    ArchiveApi& archive = *platform.archive;
    VORN_FILEINFO info;
    memset(&info, 0, sizeof info);
    if (archive.GetFileInfo(handle, &info, format::kLicenseName) != VORN_SUCCESS ||
        info.qwUnpackedSize > format::kMaxLicenseBytes) {
        return nullptr;
    }
    size_t size = static_cast<size_t>(info.qwUnpackedSize);
    auto* text = static_cast<char*>(calloc(size + 1, 1));
    if (text == nullptr) return nullptr;
    auto* bytes = reinterpret_cast<unsigned char*>(text);
    if (archive.DecompressToPtr(handle, format::kLicenseName, bytes, nullptr, nullptr) !=
        VORN_SUCCESS) {
        free(text);
        return nullptr;
    }
    return text;
}

bool AcceptLicense(Platform& platform, void* handle) {
    Session& session = platform.session;
    if (!session.settings.license) return true;
    if (session.invocation.accept) {
        LogLicence(platform, true);
        return true;
    }
    char* text = ReadLicenseText(platform, handle);
    const bool readable = text != nullptr;
    bool accepted = readable && platform.AskLicense(text);
    free(text);
    LogLicence(platform, accepted);
    if (accepted) return true;
    session.report.licenseDeclined = true;
    if (!readable) {
        platform.ShowMessage(texts::kLicenseUnreadable, texts::kErrorCaption,
                             kBoxOk | kBoxIconError);
    } else {
        // Where the program has a console it says why it ends.
        PrintError(platform, texts::kLicenseDeclined);
    }
    return false;
}

format::SfxSettingsStatus LoadSettings(Session& session) {
    format::SfxSettingsStatus status =
        format::ReadSfxSettings(g_abSettings, sizeof g_abSettings, &session.settings);
    if (status != format::SfxSettingsStatus::Ok) session.settings = format::SfxSettings();
    return status;
}

format::SfxOverwrite EffectiveOverwrite(const Session& session) {
    return session.invocation.overwrite.value_or(session.settings.overwrite);
}

int UnattendedOverwriteAnswer(format::SfxOverwrite overwrite, bool* countsAsFailure) {
    *countsAsFailure = overwrite == format::SfxOverwrite::Ask;
    return overwrite == format::SfxOverwrite::Always ? kAnswerYes : kAnswerNo;
}

bool ShouldRunProgram(const Session& session) {
    const WalkOutcome& walk = session.report.walk;
    if (session.settings.run == nullptr || session.invocation.noexec) return false;
    return walk.complete && walk.failed == 0 && !walk.wrongPassword &&
           walk.extracted + walk.kept == walk.entries;
}

bool ProgramPath(const format::SfxSettings& settings, PathStyle style, const char* folder,
                 char* path, size_t* argumentsAt) {
    if (settings.run == nullptr) return false;
    char name[kTextBytes];
    size_t offset = 0;
    if (!format::NextProgramWord(settings.run, settings.runLength, &offset, name, sizeof name) ||
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

bool BatchArgumentsRefused(const Session& session) {
    const format::SfxSettings& settings = session.settings;
    const Invocation& invocation = session.invocation;
    if (settings.run == nullptr || invocation.programArgCount == 0) return false;
    char name[kTextBytes];
    size_t offset = 0;
    if (!format::NextProgramWord(settings.run, settings.runLength, &offset, name, sizeof name) ||
        !format::IsBatchProgram(name)) {
        return false;
    }
    for (int i = 0; i < invocation.programArgCount; ++i) {
        const char* word = invocation.programArgs[i];
        if (format::FindBatchCharacter(word, strlen(word)) != nullptr) return true;
    }
    return false;
}

bool RunProgramAfterWalk(Platform& platform, MainDialog& dialog) {
    Session& session = platform.session;
    if (session.invocation.noexec) return false;
    if (!ShouldRunProgram(session)) {
        dialog.ShowMessage(texts::kProgramNotRun, texts::kProgramCaption, kBoxOk | kBoxIconError);
        return false;
    }
    char folder[kTextBytes];
    dialog.GetItemText(IDC_DEST_DIR, folder, sizeof folder);
    folder[kTextBytes - 1] = '\0';
    char resolved[kTextBytes];
    if (ResolveDestination(platform, folder, resolved)) {
        Launch(platform, resolved, session.settings.temporary);
    }
    if (!session.report.programStarted) {
        dialog.ShowMessage(texts::kProgramCannotStart, texts::kProgramCaption,
                           kBoxOk | kBoxIconError);
    }
    if (EndTemporaryFolder(platform, session) == FolderEnd::Left) {
        dialog.ShowMessage(texts::kTemporaryFolderLeft, texts::kProgramCaption,
                           kBoxOk | kBoxIconError);
    }
    dialog.End(kDialogDone);
    return true;
}

int RunUnattended(Platform& platform) {
    g_pPlatform = &platform;
    Session& session = platform.session;
    RunReport& report = session.report;
    report = RunReport();
    ArchiveApi& archive = *platform.archive;
    // Nobody is asked: a packed licence must have been accepted on the command line. The line
    // goes to the console and the log.
    if (session.settings.license && !session.invocation.accept) {
        PrintError(platform, texts::LicenseNotAcceptedLine(session.invocation.frontEnd));
        LogLicence(platform, false);
        report.licenseDeclined = true;
        return RunExitCode(report);
    }
    if (session.settings.license) LogLicence(platform, true);
    const char* password = session.invocation.password;
    uint32_t status = OpenOwnArchive(platform, password);
    if (status != VORN_SUCCESS) {
        PrintStatus(platform, texts::kErrorOpeningFile, status);
        return RunExitCode(report);
    }
    report.opened = true;

    QuietDialog dialog(platform, EffectiveOverwrite(session) == format::SfxOverwrite::Always);
    g_pMainDialog = &dialog;
    char folder[kTextBytes];
    if (!CheckPassword(platform, password)) {
        report.walk.wrongPassword = true;
    } else if (!PrepareFolder(platform, dialog, folder)) {
        report.folderFailed = true;
    } else {
        session.unattended = true;
        g_bCancel = false;
        ExtractAndRun(platform, dialog, folder);
        session.unattended = false;
    }
    EndUnattendedFolder(platform);
    g_pMainDialog = nullptr;
    archive.CloseStream(g_hArchive);
    g_hArchive = nullptr;
    return RunExitCode(report);
}

int RunExitCode(const RunReport& report) {
    if (!report.opened || report.folderFailed || report.interrupted || report.walk.wrongPassword ||
        report.licenseDeclined) {
        return format::kExitFailed;
    }
    if (report.programWanted) {
        return report.programStarted ? report.programExitCode : format::kExitFailed;
    }
    if (!report.walk.started) return format::kExitSuccess;  // left before extracting
    if (!report.walk.complete || report.walk.failed != 0) return format::kExitSomeFailed;
    return format::kExitSuccess;
}

}  // namespace sfx
