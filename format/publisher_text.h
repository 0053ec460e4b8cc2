// The texts a publisher gives at packing that a self-extractor shows or uses (a branding text,
// the built-in destination, the program line): each has a cap in bytes, holds no control
// characters and is UTF-8, and only some may be empty. The one check of that, and the writer's
// message for what it finds, shared by the writer (pack/) and the stub branding (pe/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/text_bytes.h"
#include "format/utf8.h"

namespace format {

struct PublisherTextRule {
    size_t maxBytes;
    bool mayBeEmpty;
};

enum class PublisherTextFault { None, Empty, TooLong, ControlCharacter, NotUtf8 };

// The first fault of text (length bytes) under rule, looked for in the order of the enum.
inline PublisherTextFault CheckPublisherText(const char* text, size_t length,
                                             PublisherTextRule rule) {
    if (length == 0 && !rule.mayBeEmpty) return PublisherTextFault::Empty;
    if (length > rule.maxBytes) return PublisherTextFault::TooLong;
    if (HasControlByte(reinterpret_cast<const uint8_t*>(text), length)) {
        return PublisherTextFault::ControlCharacter;
    }
    if (!IsValidUtf8(text, length)) return PublisherTextFault::NotUtf8;
    return PublisherTextFault::None;
}

// Why text, which the message calls what ("the program line"), cannot be stored, or empty when it
// can.
inline std::string PublisherTextProblem(const std::string& text, const std::string& what,
                                        PublisherTextRule rule) {
    switch (CheckPublisherText(text.data(), text.size(), rule)) {
        case PublisherTextFault::None:
            return "";
        case PublisherTextFault::Empty:
            return what + " is empty";
        case PublisherTextFault::TooLong:
            return what + " is " + std::to_string(text.size()) + " bytes long; at most " +
                   std::to_string(rule.maxBytes) + " fit";
        case PublisherTextFault::ControlCharacter:
            return what + " holds a control character";
        case PublisherTextFault::NotUtf8:
            return what + " is not valid UTF-8";
    }
    return "";
}

}  // namespace format
