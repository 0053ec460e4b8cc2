// What counts as a control character in the texts an archive carries (entry names, the comment,
// the publisher's texts), and the one way every program shows such a text on a terminal: control
// bytes escaped as "\xNN", so that a name can neither start a line of its own (and fake an
// "extracted ... ok" line) nor drive the terminal (ESC, or the 8-bit CSI 0x9B). Header-only and
// free of the standard library, so that the Windows stub can use it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/utf8.h"

namespace format {

// C0 controls and DEL.
inline bool IsControlByte(uint8_t c) {
    return c < 0x20 || c == 0x7f;
}

// C0 controls, DEL and the C1 controls U+0080..U+009F.
inline bool IsControlCodePoint(uint32_t code) {
    return code < 0x20 || (code >= 0x7f && code < 0xa0);
}

inline bool HasControlByte(const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (IsControlByte(bytes[i])) return true;
    }
    return false;
}

enum DisplayFlags : unsigned {
    kDisplayKeepLayout = 1,  // "\n", "\r" and "\t" stay: a comment's own line ends
    kDisplayUtf8 = 2,        // meant as UTF-8: bytes that are not, and C1 controls, are escaped
};

// Copies text (length bytes) into out (capacity bytes, NUL included) with every byte to escape
// written as "\xNN"; what does not fit is left off whole. Returns the length the whole escaped
// text needs, so a caller can size its buffer and call again.
inline size_t EscapeForDisplay(const char* text, size_t length, char* out, size_t capacity,
                               unsigned flags) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    static const char kDigits[] = "0123456789ABCDEF";
    size_t needed = 0;
    size_t written = 0;
    bool full = capacity == 0;
    auto put = [&](const char* piece, size_t n) {
        if (!full && written + n < capacity) {
            for (size_t i = 0; i < n; ++i) out[written + i] = piece[i];
            written += n;
        } else {
            full = true;  // nothing after a piece left off, so no text is shown cut inside
        }
        needed += n;
    };
    for (size_t at = 0; at < length;) {
        uint8_t c = bytes[at];
        size_t step = (flags & kDisplayUtf8) ? Utf8SequenceLength(bytes + at, length - at) : 1;
        bool layout = (flags & kDisplayKeepLayout) && (c == '\n' || c == '\r' || c == '\t');
        bool escape = step == 0 || (step == 1 && IsControlByte(c) && !layout) ||
                      (step == 2 && IsControlCodePoint(Utf8CodePoint(bytes + at, 2)));
        if (step == 0) step = 1;
        for (size_t i = 0; escape && i < step; ++i) {
            uint8_t b = bytes[at + i];
            const char piece[4] = {'\\', 'x', kDigits[b >> 4], kDigits[b & 15]};
            put(piece, 4);
        }
        if (!escape) put(text + at, step);
        at += step;
    }
    if (capacity != 0) out[written] = '\0';
    return needed;
}

}  // namespace format
