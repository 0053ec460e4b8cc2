// The extraction walk: every entry in directory order, the comment entry skipped, each path built
// under the destination and checked against it, missing levels created, the overwrite question,
// the per-entry extraction, and the counters and texts of the progress area.
#include <cstring>

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

WalkStep ExtractEntry(Platform& platform, MainDialog& dialog, const VORN_FILEINFO& info,
                      bool overwriteAll) {
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
        CopyText(scratch, sizeof scratch, texts::kOverwritePrefix);
        AppendText(scratch, sizeof scratch, path);
        AppendText(scratch, sizeof scratch, texts::kOverwriteSuffix);
        int answer = dialog.ShowMessage(scratch, texts::kOverwriteCaption,
                                        kBoxYesNoCancel | kBoxIconQuestion);
        if (answer == kAnswerNo) return WalkStep::Next;
        if (answer != kAnswerYes) return WalkStep::Leave;
    }

    if (ExtractFile(platform, dialog, info.szName, path, name) == 0) {
        dialog.ListAdd(IDC_FILE_LIST, name);
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

    VORN_FILEINFO info;
    for (uint64_t index = 0; index < g_qwFileCount; ++index) {
        if (g_bCancel) break;
        memset(&info, 0, sizeof info);
        uint32_t status = archive.EnumerateFiles(g_hArchive, &info, index);
        if (status != VORN_SUCCESS) {
            dialog.ShowMessage(archive.GetErrorString(status), texts::kEnumerationCaption,
                               kBoxOk | kBoxIconError);
            break;
        }
        info.szName[sizeof info.szName - 1] = '\0';
        if (strcmp(info.szName, format::kCommentName) == 0) continue;
        if (ExtractEntry(platform, dialog, info, overwriteAll) == WalkStep::Leave) break;
    }

    dialog.EnableItem(IDC_EXTRACT, true);
    dialog.EnableItem(IDC_CLOSE, true);
    if (!g_bCancel) {
        int answer = dialog.ShowMessage(texts::kDoneQuestion, texts::kDoneCaption,
                                        kBoxYesNo | kBoxIconQuestion);
        if (answer == kAnswerYes) dialog.End(kDialogDone);
    }
}

}  // namespace sfx
