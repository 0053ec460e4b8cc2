// Naming temporary files. The library creates the file under the name as it opens it. Nothing can
// stand at a name nobody can guess, and a file created by that open is never truncated; opening
// an existing file with O_TRUNC would make ext4 write it back on close, at a cost far beyond that
// of small files.
#include "tools/temp_name.h"

#include <algorithm>
#include <cstdint>

#include "tools/system.h"

namespace tool {

namespace {

// 72 random bits as 12 characters that are safe in a file name.
std::string RandomCharacters() {
    unsigned char bits[9];
    if (!os::RandomBytes(bits, sizeof bits)) return {};
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string random;
    for (size_t i = 0; i < sizeof bits; i += 3) {
        uint32_t group = (uint32_t{bits[i]} << 16) | (uint32_t{bits[i + 1]} << 8) | bits[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) random += kDigits[(group >> shift) & 63];
    }
    return random;
}

}  // namespace

std::string TempNameBeside(const std::string& dir, const std::string& leaf) {
    const std::string random = RandomCharacters();
    if (random.empty()) return {};
    // The name of the target only makes the file recognisable; it gives way to the library's
    // path limit first, then the ".vorn-" mark, then random characters down to eight (48 bits),
    // so that a target whose own path fits gets a temporary file in all but the deepest folders.
    const std::string suffix = ".vorn-" + random;
    size_t fixed = dir.size() + 2 + suffix.size();
    if (fixed <= kLibraryPathLimit) {
        size_t keep = std::min({leaf.size(), size_t{200}, kLibraryPathLimit - fixed});
        return dir + "/." + leaf.substr(0, keep) + suffix;
    }
    size_t room = kLibraryPathLimit - std::min(kLibraryPathLimit, dir.size() + 2);
    constexpr size_t kFewestRandomCharacters = 8;
    // Too deep even for that: the whole name, which the caller reports as too long.
    if (room < kFewestRandomCharacters) return dir + "/." + random;
    return dir + "/." + random.substr(0, std::min(room, random.size()));
}

}  // namespace tool
