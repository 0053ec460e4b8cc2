// The password dialog's rules (minimum length, the kept password), the password file of a run
// without questions, and the per-entry extraction with its password loop.
#include <cstring>

#include "crypto/secure_memory.h"
#include "format/password_file.h"
#include "format/sealed.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/sfx_core.h"
#include "sfx/core/text.h"

namespace sfx {

char g_szSavedPassword[kTextBytes];
uint8_t g_bPasswordSaved = 0;
char* g_pszPasswordOut = nullptr;

namespace {

// Where the dialog writes when it was opened without a buffer.
char g_passwordScratch[kTextBytes];

// One entry of a run without questions: one attempt with the given password. A password needed
// and not given, or a wrong one, stops the walk. The caller removes the part file written into.
uint32_t ExtractWithoutQuestions(Platform& platform, MainDialog& dialog, const char* name,
                                 const char* path, const char* shownName) {
    ArchiveApi& archive = *platform.archive;
    const char* password = platform.session.invocation.password;
    uint32_t status = archive.DecompressToFile(g_hArchive, name, path, UpdateProgressBar, password);
    if (status == VORN_SUCCESS) return 0;
    VORN_FILEINFO info;
    memset(&info, 0, sizeof info);
    bool enciphered = archive.GetFileInfo(g_hArchive, &info, name) == VORN_SUCCESS &&
                      (info.dwAttributes & VORN_ATTR_ENCRYPTED) != 0;
    bool wrong = status == VORN_E_PASSWORD_NEEDED ||
                 (enciphered && password != nullptr && MeansWrongPasswordHere(archive, status));
    if (wrong) {
        platform.session.report.walk.wrongPassword = true;
        dialog.ShowMessage(status == VORN_E_PASSWORD_NEEDED ? archive.GetErrorString(status)
                                                            : texts::kWrongPassword,
                           shownName, kBoxOk | kBoxIconError);
    } else if (!g_bCancel) {
        dialog.ShowMessage(archive.GetErrorString(status), shownName, kBoxOk | kBoxIconError);
    }
    return status;
}

}  // namespace

bool MeansWrongPassword(uint32_t status) {
    return status == VORN_E_CRC || status == VORN_E_CORRUPT;
}

bool MeansWrongPasswordHere(ArchiveApi& archive, uint32_t status) {
    uint8_t digest[format::kSettingsDigestBytes];
    if (archive.SealedSettingsDigest(g_hArchive, digest)) return status == VORN_E_CRC;
    return MeansWrongPassword(status);
}

void PasswordDialogInit(Dialog& dialog, char* buffer) {
    g_pszPasswordOut = buffer != nullptr ? buffer : g_passwordScratch;
    if (g_hArchive == nullptr) {
        dialog.SetItemText(IDC_PASSWORD_TEXT, texts::kArchivePasswordPrompt);
    }
    if (g_bPasswordSaved == 1) dialog.SetItemText(IDC_PASSWORD, g_szSavedPassword);
}

bool PasswordDialogCommand(Dialog& dialog, int command) {
    if (command == kDialogConfirmed) {
        if (g_pszPasswordOut == nullptr) g_pszPasswordOut = g_passwordScratch;
        dialog.GetItemText(IDC_PASSWORD, g_pszPasswordOut, kPasswordFieldBytes);
        g_pszPasswordOut[kPasswordFieldBytes - 1] = '\0';
        if (strlen(g_pszPasswordOut) < PASSWORD_MIN_LENGTH) {
            dialog.ShowMessage(texts::kShortPassword, texts::kErrorCaption, kBoxOk | kBoxIconError);
            return false;
        }
        if (dialog.IsChecked(IDC_REUSE_PASSWORD)) {
            g_bPasswordSaved = 1;
            memcpy(g_szSavedPassword, g_pszPasswordOut, strlen(g_pszPasswordOut) + 1);
        }
        dialog.End(kDialogConfirmed);
        return true;
    }
    if (command == kDialogCancelled) {
        dialog.End(kDialogCancelled);
        return true;
    }
    return false;
}

bool ReadPasswordFile(Platform& platform, const char* path) {
    char bytes[format::kPasswordFileReadBytes];
    size_t count = 0;
    size_t length = 0;
    bool read = platform.ReadFileStart(path, bytes, sizeof bytes, &count);
    format::PasswordFileStatus status =
        read ? format::PasswordLineOf(bytes, count, &length) : format::PasswordFileStatus::Empty;
    char* password = platform.session.filePassword;
    if (read && status == format::PasswordFileStatus::Ok) {
        memcpy(password, bytes, length);
        password[length] = '\0';
    }
    SecureWipe(bytes, sizeof bytes);
    if (read && status == format::PasswordFileStatus::Ok) return true;
    // The name may be cut to fit; the reason never is.
    char line[kTextBytes + 128];
    CopyText(line, sizeof line,
             read ? texts::kPasswordFileRefused : texts::kPasswordFileUnreadable);
    AppendText(line, sizeof line - 80, path);
    if (read) {
        AppendText(line, sizeof line, " ");
        AppendText(line, sizeof line, format::PasswordFileProblem(status));
    }
    platform.PrintLine(line, true);
    return false;
}

uint32_t ExtractFile(Platform& platform, MainDialog& dialog, const char* name, const char* path,
                     const char* shownName) {
    ArchiveApi& archive = *platform.archive;
    if (shownName == nullptr) shownName = name;
    // The library resets its cancel event when a call starts, so a Close confirmed just before
    // this point would be lost inside the call.
    if (g_bCancel) return VORN_E_INVALID_ARGUMENT;

    if (platform.session.unattended)
        return ExtractWithoutQuestions(platform, dialog, name, path, shownName);
    // A sealed archive's entries are sealed under the password it was opened with; an entry
    // under a password of its own fails its tag with it (a CRC status) and is asked for below.
    const char* sealed = platform.session.sealedPassword;
    uint32_t status = archive.DecompressToFile(g_hArchive, name, path, UpdateProgressBar,
                                               sealed[0] != '\0' ? sealed : nullptr);
    if (status == VORN_E_PASSWORD_NEEDED || (sealed[0] != '\0' && status == VORN_E_CRC)) {
        char password[kTextBytes];
        for (;;) {
            if (g_bCancel) break;
            memset(password, 0, sizeof password);
            // A dialog that cannot be created counts as a cancel, or the loop would never end.
            LogLine(platform, texts::kLogPasswordAsked, shownName);
            if (platform.RunPasswordDialog(&dialog, password) != kDialogConfirmed) {
                SecureWipe(password, sizeof password);
                return 1;
            }
            status = archive.DecompressToFile(g_hArchive, name, path, UpdateProgressBar, password);
            if (status == VORN_SUCCESS) break;
        }
        SecureWipe(password, sizeof password);
    }
    if (status == VORN_SUCCESS) return 0;
    if (g_bCancel) {
        // Cancelled through Close: the dialog is ending, so no box; the caller removes the part
        // file.
        return status;
    }
    dialog.ShowMessage(archive.GetErrorString(status), shownName, kBoxOk | kBoxIconError);
    return status;
}

void UpdateProgressBar(int value) {
    if (g_pMainDialog != nullptr) g_pMainDialog->SetProgress(IDC_PROGRESS, value);
    // The library polls its cancel event right after this call; a Close that came between the
    // worker's last test and the library's reset of the event is signalled again here.
    if (g_bCancel && g_pPlatform != nullptr && g_hArchive != nullptr) {
        g_pPlatform->archive->CancelOperation(g_hArchive);
    }
}

}  // namespace sfx
