// The self-extractor's built-in default destination: a 256-byte field in the stub's initialised
// data, right behind a marker that occurs nowhere else in the image. The stub reads the field's
// text up to its first zero byte; the packer finds the marker in a copy of the stub and writes a
// publisher's folder there, so that the stub itself never needs rebuilding. As built, the field
// holds a zero byte, three question marks and zeros: empty.
#pragma once

#include <cstddef>

namespace format {

// The marker's bytes, its closing NUL included. Nothing else in a stub may hold them.
#define VORN_BUILTIN_DESTINATION_MARKER "vorn:built-in-destination:5e0c93a7"
constexpr size_t kBuiltInDestinationMarkerBytes = sizeof VORN_BUILTIN_DESTINATION_MARKER;
constexpr size_t kBuiltInDestinationBytes = 256;  // 255 bytes of text and the NUL
constexpr size_t kMaxBuiltInDestinationLength = kBuiltInDestinationBytes - 1;

}  // namespace format
