// The one owner of a self-extractor's temporary folder (settings.temporary): made in one place
// before the walk, kept or removed in one place afterwards, with one rule for keeping it (the
// invocation's keep: the Linux program's --keep). Both the dialog and the run without questions
// go through here; each reports the outcome in its own way.
#pragma once

#include <cstddef>
#include <cstdint>

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

// How a platform makes a new folder of its own under a name nobody can foresee: 64 bits from the
// system's random source in every name, and a folder that exists already under the name is
// never entered or reused (whoever made it first may be waiting in it); a new name is tried.
enum class FolderCreation {
    Made,    // made now, by this call, empty, with the platform's private permissions
    Exists,  // something has that name already: not ours
    Failed,  // cannot be made at all
};

class FolderMaker {
  public:
    virtual bool Random(uint8_t* bytes, size_t count) = 0;  // false: no random source
    virtual FolderCreation Create(const char* name) = 0;
};

inline constexpr size_t kTemporaryNameBytes = 24;  // "vorn-" + 16 hex digits + NUL, and room
inline constexpr int kTemporaryNameAttempts = 8;

// "vorn-" and the 8 random bytes in hex, into name (kTemporaryNameBytes).
void TemporaryFolderName(const uint8_t random[8], char* name);

// Tries fresh names until one is made; its name then in name (kTemporaryNameBytes). False when
// no random bytes can be had, creation fails, or every attempt found its name taken.
bool MakeFreshFolder(FolderMaker& maker, char* name);

}  // namespace sfx
