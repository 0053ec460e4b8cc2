// Quoting text for JSON output.
#include "tools/json.h"

#include <cstdint>
#include <cstdio>

#include "format/utf8.h"

namespace tool {

namespace {

void AppendJsonAscii(std::string& out, unsigned char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
    }
}

}  // namespace

std::string JsonString(const std::string& text) {
    // Names are UTF-8 and pass as they are. A byte that is not part of a UTF-8 sequence (a name
    // an older writer stored in a Windows code page) becomes the character of the same number, its
    // Latin-1 reading, so the output is always valid UTF-8.
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t at = 0; at < text.size();) {
        size_t length = format::Utf8SequenceLength(bytes + at, text.size() - at);
        if (length == 0) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", bytes[at]);
            out += escape;
            ++at;
        } else if (length == 1) {
            AppendJsonAscii(out, bytes[at++]);
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out + "\"";
}

}  // namespace tool
