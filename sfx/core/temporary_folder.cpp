// The temporary folder's life: made before the walk, kept or removed once after it.
#include "sfx/core/temporary_folder.h"

namespace sfx {

bool MakeTemporaryFolder(Platform& platform, Session& session) {
    session.temporary = TemporaryFolder();
    if (!session.settings.temporary) return true;
    session.temporary.made = platform.MakeTemporaryFolder(session.temporary.path);
    return session.temporary.made;
}

FolderEnd EndTemporaryFolder(Platform& platform, Session& session) {
    if (!session.temporary.made) return FolderEnd::None;
    session.temporary.made = false;
    if (session.invocation.keep) return FolderEnd::Kept;
    return platform.RemoveFolderTree(session.temporary.path) ? FolderEnd::Removed : FolderEnd::Left;
}

}  // namespace sfx
