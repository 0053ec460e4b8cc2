// The main dialog's state changes: opening (destination, progress bar, comment viewer), Extract
// (destination checked and created, progress area shown, worker started), Close (the cancel
// question, the cancel of a run in progress) and Browse.
#include <cstdlib>
#include <cstring>

#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/sfx_core.h"

namespace sfx {

namespace {

// A comment is text for a reader; a larger one is taken for a damaged record and not shown.
constexpr uint64_t kMaxCommentBytes = 16u << 20;

const int kProgressArea[] = {IDC_PROGRESS, IDC_CURRENT_FILE, IDC_FILES_DONE, IDC_FILE_LIST};

void ShowProgressArea(MainDialog& dialog, bool show) {
    for (int id : kProgressArea) dialog.ShowItem(id, show);
}

// The comment as the system's calls read it; as stored when no memory can be had for that.
void ShowComment(Platform& platform, MainDialog& dialog, const char* stored) {
    size_t length = platform.SystemText(stored, nullptr, 0);
    char* text = static_cast<char*>(malloc(length + 1));
    if (text != nullptr && platform.SystemText(stored, text, length + 1) == length) {
        dialog.SetCommentText(text);
    } else {
        dialog.SetCommentText(stored);
    }
    free(text);
}

}  // namespace

void MainDialogOpen(Platform& platform, MainDialog& dialog) {
    ArchiveApi& archive = *platform.archive;
    g_pMainDialog = &dialog;
    dialog.SetItemText(IDC_DEST_DIR, g_szExtractDir);
    dialog.SetProgressRange(IDC_PROGRESS, 0, 100);
    dialog.SetProgressColour(IDC_PROGRESS, 11, 125, 190);
    // Settings chosen at packing: the overwrite box's starting state, and in temporary mode a
    // destination that is not the user's to choose.
    const format::SfxSettings& settings = platform.session.settings;
    if (settings.overwrite == format::SfxOverwrite::Always) dialog.SetChecked(IDC_OVERWRITE, true);
    if (settings.temporary) {
        dialog.EnableItem(IDC_DEST_DIR, false);
        dialog.EnableItem(IDC_BROWSE, false);
    }

    VORN_FILEINFO info;
    memset(&info, 0, sizeof info);
    if (archive.GetFileInfo(g_hArchive, &info, format::kCommentName) != VORN_SUCCESS) return;
    if (info.qwUnpackedSize > kMaxCommentBytes) return;
    size_t size = static_cast<size_t>(info.qwUnpackedSize);
    // One byte more than the entry, so the text always ends inside the buffer.
    unsigned char* buffer = static_cast<unsigned char*>(calloc(size + 1, 1));
    if (buffer == nullptr) return;  // no memory: the dialog opens as if there were no comment
    archive.DecompressToPtr(g_hArchive, format::kCommentName, buffer, nullptr, nullptr);
    buffer[size] = '\0';

    ShowProgressArea(dialog, false);
    if (!dialog.CreateCommentView()) {
        ShowProgressArea(dialog, true);
        free(buffer);
        return;
    }
    if (!dialog.SetCommentFont()) {
        dialog.ShowMessage(texts::kCommentFace, texts::kFontFailure, kBoxOk | kBoxIconError);
    }
    ShowComment(platform, dialog, reinterpret_cast<const char*>(buffer));
    free(buffer);
}

void MainDialogExtract(Platform& platform, MainDialog& dialog) {
    char field[kTextBytes];
    dialog.GetItemText(IDC_DEST_DIR, field, sizeof field);
    field[kTextBytes - 1] = '\0';
    char destination[kTextBytes];
    if (!ResolveDestination(platform, field, destination)) {
        dialog.ShowMessage(texts::kDestinationTooLong, texts::kErrorCaption,
                           kBoxOk | kBoxIconError);
        return;
    }
    // The resolved folder goes back into the field: it is what the worker reads, and what the
    // user should see the files land in.
    if (strcmp(field, destination) != 0) dialog.SetItemText(IDC_DEST_DIR, destination);
    if (EnsureDirectory(platform, dialog, destination, true) == 0) return;

    g_qwFilesDone = 0;
    g_qwFileCount = 0;
    g_bCancel = false;
    dialog.EnableItem(IDC_EXTRACT, false);
    if (dialog.HasCommentView()) {
        dialog.DestroyCommentView();
        ShowProgressArea(dialog, true);
    }
    if (dialog.HasCommentFont()) dialog.ReleaseCommentFont();
    for (int id : kProgressArea) dialog.EnableItem(id, true);
    if (!dialog.StartWorker()) dialog.EnableItem(IDC_EXTRACT, true);
}

void MainDialogClose(Platform& platform, MainDialog& dialog) {
    if (g_hArchive != nullptr) {
        int answer = dialog.ShowMessage(texts::kCancelQuestion, texts::kCancelCaption,
                                        kBoxYesNo | kBoxIconQuestion);
        if (answer != kAnswerYes) return;
        g_bCancel = true;
        platform.archive->CancelOperation(g_hArchive);
    }
    if (dialog.HasCommentView()) dialog.DestroyCommentView();
    if (dialog.HasCommentFont()) dialog.ReleaseCommentFont();
    dialog.End(kDialogCancelled);
}

void MainDialogBrowse(Platform& platform, MainDialog& dialog) {
    (void)platform;
    char folder[kTextBytes];
    folder[0] = '\0';
    if (dialog.BrowseForFolder(folder, sizeof folder)) {
        folder[kTextBytes - 1] = '\0';
        dialog.SetItemText(IDC_DEST_DIR, folder);
    }
}

}  // namespace sfx
