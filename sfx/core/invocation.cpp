// Run: the one dispatch of an invocation, the same for both front ends. The order matters to
// scripts and users alike: a command line not understood does nothing but say so; the help needs
// no archive; damaged settings stop everything else.
#include "sfx/core/invocation.h"

#include "crypto/secure_memory.h"
#include "format/exit_code.h"
#include "sfx/core/command_line.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/sfx_core.h"
#include "sfx/core/start_checks.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

// Everything after the command line is understood and the log is open.
int Dispatch(const Invocation& invocation, Platform& platform, bool windowsDialog) {
    Session& session = platform.session;
    // Arguments a batch program's cmd.exe would read as commands stop everything, in a box when
    // the dialog would have come up.
    if (invocation.mode == RunMode::Extract && invocation.programArgCount > 0 &&
        LoadSettings(session) == format::SfxSettingsStatus::Ok && BatchArgumentsRefused(session)) {
        if (windowsDialog) {
            platform.ShowMessage(texts::kBatchArgumentRefused, texts::kErrorCaption,
                                 kBoxOk | kBoxIconError);
        } else {
            PrintError(platform, texts::kBatchArgumentRefused);
        }
        return format::kExitFailed;
    }
    // A known folder in the destination and an archive beside the program, when packed so.
    if (LoadSettings(session) == format::SfxSettingsStatus::Ok &&
        !PassStartChecks(platform, invocation.mode == RunMode::Extract, windowsDialog)) {
        return format::kExitFailed;
    }
    // The Windows dialog reports its own failures in boxes and ends with 0, as it always has.
    if (windowsDialog) return StartUp(platform);
    if (LoadSettings(session) != format::SfxSettingsStatus::Ok) {
        PrintError(platform, texts::SettingsDamagedLine(invocation.frontEnd));
        return format::kExitFailed;
    }
    if (invocation.passwordFile != nullptr) {
        if (!ReadPasswordFile(platform, invocation.passwordFile)) return format::kExitFailed;
        session.invocation.password = session.filePassword;
    }
    if (invocation.mode != RunMode::Extract) return platform.Inspect(invocation.mode);
    if (invocation.unattended) return RunUnattended(platform);
    StartUp(platform);
    return RunExitCode(session.report);
}

}  // namespace

int Run(const Invocation& invocation, Platform& platform) {
    Session& session = platform.session;
    session = Session();
    session.invocation = invocation;
    // The passwords a run keeps (from a file, or typed and kept for the next files) end with it.
    WipeOnExit filePassword(session.filePassword, sizeof session.filePassword);
    WipeOnExit savedPassword(g_szSavedPassword, sizeof g_szSavedPassword);
    if (invocation.status != ArgumentsStatus::Ok) {
        char shown[kTextBytes];
        ShownRefusedWord(invocation, shown, sizeof shown);
        platform.ShowUsage(shown, texts::RefusalText(invocation.frontEnd, invocation.status));
        return format::kExitFailed;
    }
    if (invocation.mode == RunMode::Help) {
        platform.ShowUsage(nullptr, nullptr);
        return format::kExitSuccess;
    }
    bool dialog = invocation.mode == RunMode::Extract && !invocation.unattended;
    bool windowsDialog = dialog && invocation.frontEnd == FrontEnd::Windows;
    // A log that cannot be opened stops the run before anything is looked at or extracted.
    if (!OpenRunLog(platform, windowsDialog)) return format::kExitFailed;
    char own[kTextBytes] = "";
    platform.GetOwnPath(own, sizeof own);
    LogLine(platform, texts::kLogStarted, own);
    int exitCode = Dispatch(invocation, platform, windowsDialog);
    char code[24] = "";
    if (exitCode < 0) AppendText(code, sizeof code, "-");
    AppendDecimal(code, sizeof code,
                  exitCode < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(exitCode))
                               : static_cast<uint64_t>(exitCode));
    LogLine(platform, texts::kLogFinished, code);
    CloseRunLog(platform);
    return exitCode;
}

}  // namespace sfx
