// The extraction walk: every entry in directory order, the comment entry skipped, each path built
// under the destination and checked against it, missing levels created, the overwrite question,
// the per-entry extraction, and the counters and texts of the progress area.
#include <cstring>

#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/sfx_core.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

void ShowFilesDone(MainDialog& dialog) {
    char text[kTextBytes];
    CopyText(text, sizeof text, texts::kFilesDonePrefix);
    AppendDecimal(text, sizeof text, g_qwFilesDone);
    AppendText(text, sizeof text, texts::kFilesDoneOf);
    AppendDecimal(text, sizeof text, g_qwFileCount);
    dialog.SetItemText(IDC_FILES_DONE, text);
}

enum class WalkStep { Next, Leave };

// "exists already, ovewrite it?": asked in the dialog, or answered by the choice of a run without
// questions, which says so on its console. A file kept counts as kept or as failed.
int AskOverwrite(Session& session, MainDialog& dialog, const char* path, const char* name) {
    WalkOutcome& walk = session.report.walk;
    if (session.unattended) {
        bool failure = false;
        int answer = UnattendedOverwriteAnswer(EffectiveOverwrite(session), &failure);
        if (answer == kAnswerNo) {
            ++(failure ? walk.failed : walk.kept);
            dialog.ShowMessage(failure ? texts::kExistingNotReplaced : texts::kExistingKept, name,
                               kBoxOk | (failure ? kBoxIconError : kBoxIconInformation));
        }
        return answer;
    }
    char question[kTextBytes];
    CopyText(question, sizeof question, texts::kOverwritePrefix);
    AppendText(question, sizeof question, path);
    AppendText(question, sizeof question, texts::kOverwriteSuffix);
    int answer =
        dialog.ShowMessage(question, texts::kOverwriteCaption, kBoxYesNoCancel | kBoxIconQuestion);
    if (answer == kAnswerNo) ++walk.kept;
    return answer;
}

WalkStep ExtractEntry(Platform& platform, MainDialog& dialog, const VORN_FILEINFO& info,
                      bool overwriteAll) {
    WalkOutcome& walk = platform.session.report.walk;
    PathStyle style = platform.Style();
    char field[kTextBytes];
    dialog.GetItemText(IDC_DEST_DIR, field, sizeof field);
    field[kTextBytes - 1] = '\0';
    // The name as the system spells it names the file and shows in every text; the stored one
    // is what the library looks up.
    char name[kTextBytes];
    bool nameFits = platform.SystemText(info.szName, name, sizeof name) < sizeof name;
    if (!nameFits) CopyText(name, sizeof name, info.szName);
    char destination[kTextBytes];
    char path[kTextBytes];
    EntryPathVerdict verdict = EntryPathVerdict::TooLong;
    if (nameFits && ResolveDestination(platform, field, destination)) {
        verdict = BuildEntryPath(style, destination, name, path);
    }
    if (verdict != EntryPathVerdict::Fits) {
        const char* why = verdict == EntryPathVerdict::LeavesDestination
                              ? texts::kEntryLeavesDestination
                              : texts::kEntryPathTooLong;
        dialog.ShowMessage(why, name, kBoxOk | kBoxIconError);
        ++walk.failed;
        ++g_qwFilesDone;
        ShowFilesDone(dialog);
        return WalkStep::Next;
    }

    char scratch[kTextBytes];
    GetDirectoryPart(style, scratch, path);
    if (EnsureDirectory(platform, dialog, scratch, false) == 0) return WalkStep::Leave;

    // BuildEntryPath has checked that both messages fit.
    CopyText(scratch, sizeof scratch, texts::kCurrentFilePrefix);
    AppendText(scratch, sizeof scratch, name);
    dialog.SetItemText(IDC_CURRENT_FILE, scratch);
    ShowFilesDone(dialog);

    if (!overwriteAll && platform.PathExists(path)) {
        // A Close confirmed meanwhile has ended the dialog: no question under a closed window.
        if (g_bCancel) return WalkStep::Leave;
        int answer = AskOverwrite(platform.session, dialog, path, name);
        if (answer == kAnswerNo) return WalkStep::Next;
        if (answer != kAnswerYes) return WalkStep::Leave;
    }

    if (ExtractFile(platform, dialog, info.szName, path, name) == 0) {
        dialog.ListAdd(IDC_FILE_LIST, name);
        ++walk.extracted;
    } else {
        ++walk.failed;
    }
    ++g_qwFilesDone;
    ShowFilesDone(dialog);
    return WalkStep::Next;
}

}  // namespace

void ExtractThread(Platform& platform, MainDialog& dialog) {
    ArchiveApi& archive = *platform.archive;
    bool overwriteAll = dialog.IsChecked(IDC_OVERWRITE);
    dialog.ListReset(IDC_FILE_LIST);
    g_qwFileCount = archive.GetNumFiles(g_hArchive);
    g_qwFilesDone = 0;
    Session& session = platform.session;
    WalkOutcome& walk = session.report.walk;
    walk = WalkOutcome();
    walk.started = true;

    VORN_FILEINFO info;
    uint64_t index = 0;
    for (; index < g_qwFileCount; ++index) {
        if (g_bCancel || walk.wrongPassword) break;
        memset(&info, 0, sizeof info);
        uint32_t status = archive.EnumerateFiles(g_hArchive, &info, index);
        if (status != VORN_SUCCESS) {
            dialog.ShowMessage(archive.GetErrorString(status), texts::kEnumerationCaption,
                               kBoxOk | kBoxIconError);
            break;
        }
        info.szName[sizeof info.szName - 1] = '\0';
        if (strcmp(info.szName, format::kCommentName) == 0) continue;
        ++walk.entries;
        if (ExtractEntry(platform, dialog, info, overwriteAll) == WalkStep::Leave) break;
    }
    walk.complete = index == g_qwFileCount && !g_bCancel && !walk.wrongPassword;

    dialog.EnableItem(IDC_EXTRACT, true);
    dialog.EnableItem(IDC_CLOSE, true);
    // A run without questions ends here; its caller runs the program and sets the exit code.
    if (session.unattended) return;
    if (!g_bCancel) {
        if (session.settings.run != nullptr && RunProgramAfterWalk(platform, dialog)) return;
        int answer = dialog.ShowMessage(texts::kDoneQuestion, texts::kDoneCaption,
                                        kBoxYesNo | kBoxIconQuestion);
        if (answer == kAnswerYes) dialog.End(kDialogDone);
    }
}

}  // namespace sfx
