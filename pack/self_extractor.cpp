// The signature search that keeps a stub from hiding its archive, and the stub's built-in
// destination.
#include "pack/self_extractor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "format/builtin_destination.h"
#include "format/container.h"
#include "format/utf8.h"
#include "pack/byte_sink.h"

namespace pack {

namespace {

bool Report(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

// Where the marker of the built-in destination stands in bytes, or size when it is not there.
size_t FindMarker(const uint8_t* bytes, size_t size, size_t from = 0) {
    const auto* marker = reinterpret_cast<const uint8_t*>(VORN_BUILTIN_DESTINATION_MARKER);
    const uint8_t* end = bytes + size;
    const uint8_t* at =
        std::search(bytes + from, end, marker, marker + format::kBuiltInDestinationMarkerBytes);
    return static_cast<size_t>(at - bytes);
}

}  // namespace

std::string BuiltInDestinationProblem(const std::string& text) {
    if (text.size() > format::kMaxBuiltInDestinationLength) {
        return "the default folder is " + std::to_string(text.size()) + " bytes long; at most " +
               std::to_string(format::kMaxBuiltInDestinationLength) + " fit";
    }
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return "the default folder holds a control character";
    }
    if (!format::IsValidUtf8(text.data(), text.size())) {
        return "the default folder is not valid UTF-8";
    }
    return "";
}

bool SetBuiltInDestination(std::vector<uint8_t>& image, const std::string& text,
                           std::string* error) {
    std::string problem = BuiltInDestinationProblem(text);
    if (!problem.empty()) return Report(error, problem);
    const size_t marker = FindMarker(image.data(), image.size());
    const size_t field = marker + format::kBuiltInDestinationMarkerBytes;
    if (marker == image.size() || image.size() - field < format::kBuiltInDestinationBytes) {
        return Report(error, "the stub has no field for a default folder");
    }
    if (FindMarker(image.data(), image.size(), marker + 1) != image.size()) {
        return Report(error, "the stub holds the default folder's marker more than once");
    }
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(field),
                format::kBuiltInDestinationBytes, 0);
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(field));
    return true;
}

std::optional<std::string> ReadBuiltInDestination(const std::string& path) {
    // Stubs are small; an image this large before the archive is not one of ours.
    constexpr size_t kMaxImage = 64u << 20;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> image;
    std::vector<char> slice(1 << 20);
    while (in && image.size() < kMaxImage) {
        // A signature may straddle two slices: each search starts 7 bytes before the new one.
        const size_t from = image.size() > 7 ? image.size() - 7 : 0;
        in.read(slice.data(), static_cast<std::streamsize>(slice.size()));
        image.insert(image.end(), slice.begin(), slice.begin() + in.gcount());
        if (const auto at = FindArchiveSignature(image.data() + from, image.size() - from)) {
            image.resize(from + *at);
            break;
        }
    }
    const size_t marker = FindMarker(image.data(), image.size());
    const size_t field = marker + format::kBuiltInDestinationMarkerBytes;
    if (marker == image.size() || image.size() - field < format::kBuiltInDestinationBytes) {
        return std::nullopt;
    }
    const char* text = reinterpret_cast<const char*>(image.data() + field);
    return std::string(text, strnlen(text, format::kMaxBuiltInDestinationLength));
}

std::optional<size_t> FindArchiveSignature(const uint8_t* bytes, size_t size) {
    for (size_t p = 0; p + 8 <= size; ++p) {
        if (bytes[p] == 'V' && format::IsArchiveSignature(bytes + p)) return p;
    }
    return std::nullopt;
}

}  // namespace pack
