// UTF-8 and UTF-16, as the packer converts texts between the command line and a program's
// resources, which Windows keeps in UTF-16.
#pragma once

#include <string>

namespace pe {

// text must be valid UTF-8 (format::IsValidUtf8).
std::u16string Utf16FromUtf8(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);

}  // namespace pe
