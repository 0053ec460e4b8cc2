// Start-up: the default destination, the open of the program's own file as an archive with one
// password retry, the report of a failed open, and the close once the main dialog has ended and no
// worker uses the archive any more.
#include <cstring>

#include "format/builtin_destination.h"
#include "format/sfx_settings.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/sfx_core.h"

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

int StartUp(Platform& platform) {
    g_pPlatform = &platform;
    ArchiveApi& archive = *platform.archive;
    if (LoadSettings() != format::SfxSettingsStatus::Ok) {
        platform.ShowMessage(texts::kSettingsDamaged, texts::kErrorOpeningFile,
                             kBoxOk | kBoxIconError);
        return 0;
    }
    if (g_szExtractDir[0] == '\0') GetDefaultExtractDir(platform, g_szExtractDir);

    char ownPath[kTextBytes];
    ownPath[0] = '\0';
    platform.GetOwnPath(ownPath, sizeof ownPath);
    ownPath[kTextBytes - 1] = '\0';

    g_hArchive = nullptr;
    uint32_t status = archive.OpenStream(&g_hArchive, ownPath, nullptr, VORN_OPEN_READONLY);
    if (status == VORN_E_PASSWORD_NEEDED) {
        g_hArchive = nullptr;  // the prompt tells the archive prompt by the empty handle
        char password[kTextBytes];
        memset(password, 0, sizeof password);
        if (platform.RunPasswordDialog(nullptr, password) == kDialogConfirmed) {
            status = archive.OpenStream(&g_hArchive, ownPath, password, VORN_OPEN_READONLY);
        }
        memset(password, 0, sizeof password);
    }
    if (status != VORN_SUCCESS) {
        g_hArchive = nullptr;
        platform.ShowMessage(archive.GetErrorString(status), texts::kErrorOpeningFile,
                             kBoxOk | kBoxIconError);
        return 0;
    }

    // In temporary mode the files go to a new folder of their own, whatever was built in.
    if (g_settings.temporary && !platform.MakeTemporaryFolder(g_szExtractDir)) {
        platform.ShowMessage(texts::kTemporaryFolderFailed, texts::kErrorCaption,
                             kBoxOk | kBoxIconError);
    } else {
        platform.RunMainDialog();
    }
    // A Close during a run ends the dialog at once; the worker leaves within one block, and the
    // archive must outlive it.
    platform.WaitForWorker();
    // Closed before or during a run, the temporary folder goes; after one, it has gone already.
    if (g_settings.temporary && !g_bKeepTemporary) platform.RemoveFolderTree(g_szExtractDir);
    g_pMainDialog = nullptr;
    archive.CloseStream(g_hArchive);
    g_hArchive = nullptr;
    return 0;
}

}  // namespace sfx
