// EscapeForDisplay (format/text_bytes.h) for the programs that build their lines as strings: the
// vorn tool and the Linux self-extractor.
#pragma once

#include <string>

#include "format/text_bytes.h"

namespace format {

inline std::string DisplayText(const std::string& text, unsigned flags) {
    std::string shown(EscapeForDisplay(text.data(), text.size(), nullptr, 0, flags), '\0');
    EscapeForDisplay(text.data(), text.size(), shown.data(), shown.size() + 1, flags);
    return shown;
}

}  // namespace format
