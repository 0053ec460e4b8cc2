// Self-extractors: a program image (the stub) with an archive appended, which ArchiveWriter writes
// (OpenWithStub). Readers find the archive by scanning the file from its start for the magic
// followed by a recognised version word, so nothing but the concatenation is needed, provided the
// stub itself holds no such 8 bytes. None can start in the stub's last bytes and run into the
// archive: no proper prefix of the signature is also its suffix. The stub's built-in destination
// is read and written here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pack {

// The lowest offset at which bytes holds "VORN" followed by the version word 0x8f000001 or
// 0x8f000002 (little-endian), or nothing.
std::optional<size_t> FindArchiveSignature(const uint8_t* bytes, size_t size);
inline std::optional<size_t> FindArchiveSignature(const std::vector<uint8_t>& bytes) {
    return FindArchiveSignature(bytes.data(), bytes.size());
}

// Why text cannot be a self-extractor's built-in destination (longer than 255 bytes, a control
// character, not UTF-8), or empty when it can.
std::string BuiltInDestinationProblem(const std::string& text);

// Writes text into the built-in destination field of a stub's image (see
// format/builtin_destination.h). False, with a message in *error, when the text cannot be one or
// the image does not hold the field's marker exactly once.
bool SetBuiltInDestination(std::vector<uint8_t>& image, const std::string& text,
                           std::string* error);

// The built-in destination of the self-extractor or stub at path, read from the part before its
// archive: nullopt when that part holds no such field, an empty text when the field is empty.
std::optional<std::string> ReadBuiltInDestination(const std::string& path);

}  // namespace pack
