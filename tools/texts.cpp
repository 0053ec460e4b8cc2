// Texts for statuses, attributes, names and sizes.
#include "tools/texts.h"

#include <cinttypes>
#include <cstdio>

#include "archive/vorn.h"
#include "format/utf8.h"

namespace tool {

std::string StatusText(uint32_t status) {
    const char* text = vorn_GetErrorString(static_cast<int>(status));
    std::string result = text ? text : "Unknown <?>";
    if (status > 12) result += " (status " + std::to_string(status) + ")";
    return result;
}

std::string EntryFailureText(uint32_t status, bool encrypted, bool passwordGiven) {
    if (encrypted && passwordGiven && status == VORN_E_CRC) return "wrong password";
    if (encrypted && passwordGiven && status == VORN_E_CORRUPT) {
        return "wrong password or damaged data (" + StatusText(status) + ")";
    }
    if (encrypted && status == VORN_E_PASSWORD_NEEDED) {
        return "needs a password (" + StatusText(status) + ")";
    }
    return StatusText(status);
}

std::string AttributeText(uint32_t attributes) {
    std::string text;
    text += (attributes & 0x01) ? 'R' : '.';
    text += (attributes & 0x02) ? 'H' : '.';
    text += (attributes & 0x04) ? 'S' : '.';
    text += (attributes & 0x20) ? 'A' : '.';
    text += (attributes & VORN_ATTR_ENCRYPTED) ? '*' : ' ';
    return text;
}

std::string Shown(const std::string& name) {
    std::string shown;
    const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
    for (size_t at = 0; at < name.size();) {
        size_t length = format::Utf8SequenceLength(bytes + at, name.size() - at);
        if (length == 0) {
            // Not UTF-8, so no terminal shows it as it was meant: the byte's value instead.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", bytes[at]);
            shown += escape;
            ++at;
            continue;
        }
        uint32_t code = format::Utf8CodePoint(bytes + at, length);
        bool control = code < 0x20 || (code >= 0x7f && code < 0xa0);
        shown += control ? std::string("?") : name.substr(at, length);
        at += length;
    }
    return shown;
}

std::string HumanBytes(uint64_t bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    }
    return text;
}

}  // namespace tool
