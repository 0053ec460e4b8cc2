// The fields a packer fills in its copy of a stub, the built-in destination and the settings
// block, found as a reader finds them: in the program image before the archive, behind the first
// occurrence of their marker. Plain functions over bytes, free of the standard library, beside the
// layouts they read (format/builtin_destination.h, format/sfx_settings.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/builtin_destination.h"
#include "format/sfx_settings.h"

namespace format {

// The fieldBytes behind the first marker (markerBytes long, its NUL included) in image, or null
// when image holds no marker or the field does not fit behind the first one.
inline const uint8_t* FindStubField(const uint8_t* image, size_t size, const char* marker,
                                    size_t markerBytes, size_t fieldBytes) {
    for (size_t at = 0; size >= markerBytes && at <= size - markerBytes; ++at) {
        size_t same = 0;
        while (same < markerBytes && image[at + same] == static_cast<uint8_t>(marker[same])) {
            ++same;
        }
        if (same < markerBytes) continue;
        return size - at - markerBytes >= fieldBytes ? image + at + markerBytes : nullptr;
    }
    return nullptr;
}

// The built-in destination's field (kBuiltInDestinationBytes), or null.
inline const uint8_t* FindBuiltInDestinationField(const uint8_t* image, size_t size) {
    return FindStubField(image, size, VORN_BUILTIN_DESTINATION_MARKER,
                         kBuiltInDestinationMarkerBytes, kBuiltInDestinationBytes);
}

// The length of the built-in destination's text in its field: up to its first zero byte.
inline size_t BuiltInDestinationLength(const uint8_t* field) {
    size_t length = 0;
    while (length < kMaxBuiltInDestinationLength && field[length] != 0) ++length;
    return length;
}

// The settings block as stored (kSfxSettingsBytes), or null.
inline const uint8_t* FindSfxSettingsBlock(const uint8_t* image, size_t size) {
    return FindStubField(image, size, VORN_SFX_SETTINGS_MARKER, kSfxSettingsMarkerBytes,
                         kSfxSettingsBytes);
}

}  // namespace format
