// The Windows self-extractor's temporary folder: a new folder nobody else can foresee, make
// first, or write into.
#pragma once

namespace win32sfx {

// A new folder in the system's temporary folder under a random name (sfx/core/temporary_folder.h),
// made with a protected access list for SYSTEM, the Administrators and, unless the process is
// elevated, its own user; its 8-bit path in out (sfx::kTextBytes).
bool MakePrivateFolder(char* out);

}  // namespace win32sfx
