// The extraction walk: every entry in directory order, the comment entry skipped, each path built
// under the destination and checked against it, missing levels created, the overwrite question,
// the per-entry extraction, and the counters and texts of the progress area.
#include <cstring>

#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
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

// An entry the walk does not extract: said in a box captioned with its name, counted as failed.
WalkStep RefuseEntry(WalkOutcome& walk, MainDialog& dialog, const char* why, const char* name) {
    dialog.ShowMessage(why, name, kBoxOk | kBoxIconError);
    ++walk.failed;
    ++g_qwFilesDone;
    ShowFilesDone(dialog);
    return WalkStep::Next;
}

// The entry, its folder entered: the overwrite question, then the entry decoded into a part file
// of its own, which takes the entry's name only when the entry came out whole and intact. On any
// failure, cancel or wrong password it goes, and a file that stood there keeps its bytes.
WalkStep ExtractInFolder(Platform& platform, MainDialog& dialog, const VORN_FILEINFO& info,
                         const char* path, const char* name, const char* leaf, bool overwriteAll) {
    WalkOutcome& walk = platform.session.report.walk;
    // BuildEntryPath has checked that both messages fit.
    char scratch[kTextBytes];
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

    ArchiveApi& archive = *platform.archive;
    uint32_t status = VORN_E_INVALID_ARGUMENT;
    if (!platform.CreateEntryPart(leaf, scratch)) {
        dialog.ShowMessage(archive.GetErrorString(status), name, kBoxOk | kBoxIconError);
    } else {
        status = ExtractFile(platform, dialog, info.szName, scratch, name);
        if (status == 0 && !platform.CloseEntryFolder(true)) {
            status = VORN_E_INVALID_ARGUMENT;
            dialog.ShowMessage(archive.GetErrorString(status), name, kBoxOk | kBoxIconError);
        }
    }
    if (status == 0) {
        LogLine(platform, texts::kLogExtracted, name);
        dialog.ListAdd(IDC_FILE_LIST, name);
        ++walk.extracted;
    } else {
        ++walk.failed;
    }
    ++g_qwFilesDone;
    ShowFilesDone(dialog);
    return WalkStep::Next;
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
        return RefuseEntry(walk, dialog,
                           verdict == EntryPathVerdict::LeavesDestination
                               ? texts::kEntryLeavesDestination
                               : texts::kEntryPathTooLong,
                           name);
    }

    // The entry's levels are made the one way below the destination, never through a link.
    EntryPlace place;
    SplitEntryPath(style, path, strlen(name), &place);
    EntryFolderResult entered = platform.OpenEntryFolder(place.destination, place.relative);
    if (entered == EntryFolderResult::Failed) {
        dialog.ShowMessage(texts::kCreateFolderFailed, texts::kErrorCaption,
                           kBoxOk | kBoxIconError | kBoxForeground);
        return WalkStep::Leave;
    }
    WalkStep step =
        entered == EntryFolderResult::Ok
            ? ExtractInFolder(platform, dialog, info, path, name, place.leaf, overwriteAll)
            : RefuseEntry(walk, dialog, texts::kEntryThroughLink, name);
    platform.CloseEntryFolder(false);
    return step;
}

}  // namespace

void ExtractThread(Platform& platform, MainDialog& dialog) {
    ArchiveApi& archive = *platform.archive;
    bool overwriteAll = dialog.IsChecked(IDC_OVERWRITE);
    dialog.ListReset(IDC_FILE_LIST);
    const uint64_t count = archive.GetNumFiles(g_hArchive);
    g_qwFileCount = count;
    g_qwFilesDone = 0;
    Session& session = platform.session;
    // The licence is no file of the walk, and not counted in its "of N" (the comment is, as it
    // always was).
    VORN_FILEINFO info;
    memset(&info, 0, sizeof info);
    if (session.settings.license && count > 0 &&
        archive.GetFileInfo(g_hArchive, &info, format::kLicenseName) == VORN_SUCCESS) {
        --g_qwFileCount;
    }
    WalkOutcome& walk = session.report.walk;
    walk = WalkOutcome();
    walk.started = true;

    uint64_t index = 0;
    for (; index < count; ++index) {
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
        if (format::IsLicenseEntry(session.settings, info.szName)) continue;
        ++walk.entries;
        if (ExtractEntry(platform, dialog, info, overwriteAll) == WalkStep::Leave) break;
    }
    walk.complete = index == count && !g_bCancel && !walk.wrongPassword;

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
