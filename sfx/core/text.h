// Bounded text building for the front end's 256-byte buffers. A piece that does not fit leaves the
// buffer as it was and reports false, so no caller ever shows or uses a cut path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sfx {

inline bool CopyText(char* out, size_t capacity, const char* text) {
    size_t length = strlen(text);
    if (length >= capacity) return false;
    memcpy(out, text, length + 1);
    return true;
}

inline bool AppendText(char* out, size_t capacity, const char* text) {
    size_t used = strlen(out);
    size_t length = strlen(text);
    if (used + length >= capacity) return false;
    memcpy(out + used, text, length + 1);
    return true;
}

// Unsigned decimal, as "%I64u" prints it.
inline bool AppendDecimal(char* out, size_t capacity, uint64_t value) {
    char digits[24];
    size_t n = sizeof digits;
    digits[--n] = '\0';
    do {
        digits[--n] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return AppendText(out, capacity, digits + n);
}

}  // namespace sfx
