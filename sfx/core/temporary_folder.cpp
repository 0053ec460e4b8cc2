// The temporary folder's life: made before the walk, kept or removed once after it.
#include "sfx/core/temporary_folder.h"

#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/text.h"

namespace sfx {

bool MakeTemporaryFolder(Platform& platform, Session& session) {
    session.temporary = TemporaryFolder();
    if (!session.settings.temporary) return true;
    session.temporary.made = platform.MakeTemporaryFolder(session.temporary.path);
    if (session.temporary.made) LogLine(platform, texts::kLogFolderMade, session.temporary.path);
    return session.temporary.made;
}

FolderEnd EndTemporaryFolder(Platform& platform, Session& session) {
    if (!session.temporary.made) return FolderEnd::None;
    session.temporary.made = false;
    const char* path = session.temporary.path;
    if (session.invocation.keep) {
        LogLine(platform, texts::kLogFolderKept, path);
        return FolderEnd::Kept;
    }
    bool removed = platform.RemoveFolderTree(path);
    LogLine(platform, removed ? texts::kLogFolderRemoved : texts::kTemporaryFolderLeft,
            removed ? path : nullptr);
    return removed ? FolderEnd::Removed : FolderEnd::Left;
}

void TemporaryFolderName(const uint8_t random[8], char* name) {
    static const char kHex[] = "0123456789abcdef";
    CopyText(name, kTemporaryNameBytes, "vorn-");
    char* out = name + 5;
    for (int i = 0; i < 8; ++i) {
        *out++ = kHex[random[i] >> 4];
        *out++ = kHex[random[i] & 15];
    }
    *out = '\0';
}

bool MakeFreshFolder(FolderMaker& maker, char* name) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        uint8_t random[8];
        if (!maker.Random(random, sizeof random)) return false;
        TemporaryFolderName(random, name);
        FolderCreation made = maker.Create(name);
        if (made == FolderCreation::Made) return true;
        if (made == FolderCreation::Failed) break;
    }
    name[0] = '\0';
    return false;
}

}  // namespace sfx
