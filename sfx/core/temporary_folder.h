// The one owner of a self-extractor's temporary folder (settings.temporary): made in one place
// before the walk, kept or removed in one place afterwards, with one rule for keeping it (the
// invocation's keep: the Linux program's --keep). Both the dialog and the run without questions
// go through here; each reports the outcome in its own way.
#pragma once

#include "sfx/core/session.h"
#include "sfx/core/sfx_core.h"

namespace sfx {

// Makes the folder when the settings ask for one; its path then in session.temporary.path. True
// when it was made or none is asked for; false when it cannot be made.
bool MakeTemporaryFolder(Platform& platform, Session& session);

enum class FolderEnd {
    None,     // there was none, or it has gone already
    Kept,     // the invocation keeps it: its path is session.temporary.path
    Removed,  // removed with everything in it
    Left,     // something in it could not be removed
};

// Ends the folder once; a second call finds none.
FolderEnd EndTemporaryFolder(Platform& platform, Session& session);

}  // namespace sfx
