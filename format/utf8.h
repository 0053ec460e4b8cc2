// Entry names, comments and the built-in destination are stored as UTF-8. This is the one test of
// what that means, shared by the writer (which refuses anything else), the self-extractor (which
// reads anything else in the system's own code page) and the tool (which shows and escapes it).
// Header-only and free of the standard library, so that the Windows stub can use it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace format {

// The length of the well-formed UTF-8 sequence at text (at most available bytes), or 0 when none
// starts there: a stray continuation byte, an overlong form, a surrogate, a value past U+10FFFF,
// or a sequence cut short.
inline size_t Utf8SequenceLength(const uint8_t* text, size_t available) {
    if (available == 0) return 0;
    uint8_t lead = text[0];
    if (lead < 0x80) return 1;
    size_t length;
    uint8_t low = 0x80;  // bounds of the second byte, which rule out the bad forms
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (available < length) return 0;
    if (text[1] < low || text[1] > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF) return 0;
    }
    return length;
}

inline bool IsValidUtf8(const char* text, size_t length) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    for (size_t at = 0; at < length;) {
        size_t step = Utf8SequenceLength(bytes + at, length - at);
        if (step == 0) return false;
        at += step;
    }
    return true;
}

// The code point of a well-formed sequence of the given length.
inline uint32_t Utf8CodePoint(const uint8_t* text, size_t length) {
    if (length == 1) return text[0];
    uint32_t value = text[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) value = (value << 6) | (text[i] & 0x3F);
    return value;
}

}  // namespace format
