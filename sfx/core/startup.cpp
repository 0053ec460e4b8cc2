// Start-up: the default destination, the open of the program's own file as an archive with one
// password retry, the report of a failed open, the licence to accept, and the close once the main
// dialog has ended and no worker uses the archive any more.
#include <cstring>

#include "crypto/blake2b.h"
#include "crypto/secure_memory.h"
#include "format/builtin_destination.h"
#include "format/sealed.h"
#include "format/sfx_settings.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/sfx_core.h"
#include "sfx/core/start_checks.h"
#include "sfx/core/temporary_folder.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

// The default destination and the settings block as built into the program, each behind the
// marker by which the packer finds it in the image and fills it in without moving anything. One
// object, so each marker and its field stay adjacent. As built the settings block is all zeros:
// no settings.
struct BuiltInFields {
    char marker[format::kBuiltInDestinationMarkerBytes];
    char text[kTextBytes];
    char settingsMarker[format::kSfxSettingsMarkerBytes];
    uint8_t settings[format::kSfxSettingsBytes];
};
static_assert(format::kBuiltInDestinationBytes == kTextBytes);

BuiltInFields g_builtInFields = {
    VORN_BUILTIN_DESTINATION_MARKER, "\0???", VORN_SFX_SETTINGS_MARKER, {}};

}  // namespace

char (&g_szExtractDir)[kTextBytes] = g_builtInFields.text;
uint8_t (&g_abSettings)[format::kSfxSettingsBytes] = g_builtInFields.settings;
void* g_hArchive = nullptr;
std::atomic<bool> g_bCancel{false};
uint64_t g_qwFileCount = 0;
uint64_t g_qwFilesDone = 0;
MainDialog* g_pMainDialog = nullptr;
Platform* g_pPlatform = nullptr;

namespace {

// A sealed archive keeps the digest of the settings block it was packed behind: the block as the
// program holds it must give the same digest. Archives that are not sealed have no such check.
bool SettingsMatchSeal(ArchiveApi& archive, void* handle) {
    uint8_t sealed[format::kSettingsDigestBytes];
    if (!archive.SealedSettingsDigest(handle, sealed)) return true;
    uint8_t own[format::kSettingsDigestBytes];
    Blake2bHash(own, sizeof own, g_abSettings, sizeof g_abSettings);
    return ConstantTimeEqual(own, sealed, sizeof own);
}

}  // namespace

uint32_t OpenOwnArchive(Platform& platform, const char* password, void** handle) {
    char ownPath[kTextBytes];
    ownPath[0] = '\0';
    // An archive packed beside the program has been checked by the start checks (start_checks.h).
    const format::SfxSettings& settings = platform.session.settings;
    if (settings.besideName == nullptr || !BesideArchivePath(platform, settings, ownPath)) {
        platform.GetOwnPath(ownPath, sizeof ownPath);
    }
    ownPath[kTextBytes - 1] = '\0';
    *handle = nullptr;
    uint32_t status = platform.archive->OpenStream(handle, ownPath, password, VORN_OPEN_READONLY);
    if (status == VORN_SUCCESS && !SettingsMatchSeal(*platform.archive, *handle)) {
        // Settings changed after a sealed archive was packed behind them (a program line, a
        // title): the archive is taken for damaged rather than run under them.
        platform.archive->CloseStream(*handle);
        status = VORN_E_CORRUPT;
    }
    if (status != VORN_SUCCESS) *handle = nullptr;
    return status;
}

int StartUp(Platform& platform) {
    g_pPlatform = &platform;
    Session& session = platform.session;
    session.report = RunReport();
    ArchiveApi& archive = *platform.archive;
    if (LoadSettings(session) != format::SfxSettingsStatus::Ok) {
        platform.ShowMessage(texts::kSettingsDamaged, texts::kErrorOpeningFile,
                             kBoxOk | kBoxIconError);
        return 0;
    }
    if (g_szExtractDir[0] == '\0') GetDefaultExtractDir(platform, g_szExtractDir);

    uint32_t status = OpenOwnArchive(platform, nullptr);
    if (status == VORN_E_PASSWORD_NEEDED) {
        // The prompt tells the archive prompt by the empty handle.
        char password[kTextBytes];
        memset(password, 0, sizeof password);
        LogLine(platform, texts::kLogPasswordAsked, texts::kLogArchivePassword);
        if (platform.RunPasswordDialog(nullptr, password) == kDialogConfirmed) {
            status = OpenOwnArchive(platform, password);
        }
        uint8_t digest[format::kSettingsDigestBytes];
        if (status == VORN_SUCCESS && archive.SealedSettingsDigest(g_hArchive, digest)) {
            CopyText(session.sealedPassword, sizeof session.sealedPassword, password);
        }
        SecureWipe(password, sizeof password);
    }
    if (status != VORN_SUCCESS) {
        platform.ShowMessage(archive.GetErrorString(status), texts::kErrorOpeningFile,
                             kBoxOk | kBoxIconError);
        return 0;
    }
    session.report.opened = true;
    // A packed licence comes first, in a dialog of its own: declined, nothing is extracted.
    if (!AcceptLicense(platform, g_hArchive)) {
        archive.CloseStream(g_hArchive);
        g_hArchive = nullptr;
        SecureWipe(session.sealedPassword, sizeof session.sealedPassword);
        return format::kExitFailed;
    }

    // In temporary mode the files go to a new folder of their own, whatever was built in.
    if (!MakeTemporaryFolder(platform, session)) {
        session.report.folderFailed = true;
        platform.ShowMessage(texts::kTemporaryFolderFailed, texts::kErrorCaption,
                             kBoxOk | kBoxIconError);
    } else {
        if (session.temporary.made) CopyText(g_szExtractDir, kTextBytes, session.temporary.path);
        platform.RunMainDialog();
    }
    // A Close during a run ends the dialog at once; the worker leaves within one block, and the
    // archive must outlive it.
    platform.WaitForWorker();
    session.report.interrupted = g_bCancel;
    // Closed before or during a run, the temporary folder goes; after one, it has gone already.
    EndTemporaryFolder(platform, session);
    g_pMainDialog = nullptr;
    archive.CloseStream(g_hArchive);
    g_hArchive = nullptr;
    SecureWipe(session.sealedPassword, sizeof session.sealedPassword);
    return 0;
}

}  // namespace sfx
