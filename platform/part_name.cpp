// Part file names: recognisable by the final name they carry, unguessable by their random part,
// and short enough for the path limit of whoever opens them by path.
#include "platform/part_name.h"

#include <cstring>

#include "platform/output_file.h"

namespace platform {

namespace {

constexpr char kMark[] = ".vorn-";
constexpr size_t kMarkLength = sizeof kMark - 1;
constexpr size_t kRandomCharacters = kPartRandomBytes / 3 * 4;
constexpr size_t kFewestRandomCharacters = 8;  // 48 bits
constexpr size_t kMostOfFinalName = 200;

// 72 random bits as 12 characters that are safe in a file name.
void RandomCharacters(const unsigned char (&bits)[kPartRandomBytes], char* out) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    size_t n = 0;
    for (size_t i = 0; i < kPartRandomBytes; i += 3) {
        unsigned group = (unsigned{bits[i]} << 16) | (unsigned{bits[i + 1]} << 8) | bits[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out[n++] = kDigits[(group >> shift) & 63];
    }
}

}  // namespace

bool PartFileName(size_t folderLength, const char* finalName, size_t limit,
                  const unsigned char (&random)[kPartRandomBytes], char* out) {
    if (limit == 0 || limit > kOutputPathBytes - 1) limit = kOutputPathBytes - 1;
    char characters[kRandomCharacters];
    RandomCharacters(random, characters);
    // What the name may take: the folder and its separator come first, then ".".
    size_t used = folderLength + 2;
    if (used > limit || limit - used < kFewestRandomCharacters) return false;
    size_t room = limit - used;
    size_t n = 0;
    out[n++] = '.';
    if (room >= kMarkLength + kRandomCharacters) {
        size_t keep = strlen(finalName);
        if (keep > kMostOfFinalName) keep = kMostOfFinalName;
        if (keep > room - kMarkLength - kRandomCharacters) {
            keep = room - kMarkLength - kRandomCharacters;
        }
        memcpy(out + n, finalName, keep);
        n += keep;
        memcpy(out + n, kMark, kMarkLength);
        n += kMarkLength;
        room = kRandomCharacters;
    }
    size_t randomKept = room < kRandomCharacters ? room : kRandomCharacters;
    memcpy(out + n, characters, randomKept);
    n += randomKept;
    out[n] = '\0';
    return true;
}

}  // namespace platform
