// The name of a part file, the new file an entry is decoded into beside its final name: shared by
// the POSIX and the Win32 implementation of output_file.h, and a plain function so that tests see
// how a name gives way to a path limit.
#pragma once

#include <cstddef>

namespace platform {

// Random bits a part file's name carries: 72, as 12 characters.
constexpr size_t kPartRandomBytes = 9;

// Writes the part file's name for the file finalName into out (kOutputPathBytes) for a folder
// whose path is folderLength bytes long: "." and as much of finalName as fits (at most 200
// bytes), then ".vorn-" and the random characters. When the whole path (folder, separator, name)
// must stay within limit bytes, the final name gives way first, then the ".vorn-" mark, then
// random characters down to eight. false when even that does not fit.
bool PartFileName(size_t folderLength, const char* finalName, size_t limit,
                  const unsigned char (&random)[kPartRandomBytes], char* out);

}  // namespace platform
