// Self-extractor assembly and the signature check that keeps a stub from hiding its archive.
#include "pack/self_extractor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "format/builtin_destination.h"
#include "format/utf8.h"
#include "pack/archive_layout.h"
#include "pack/archive_writer.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace pack {

namespace {

bool IsSignatureAt(const uint8_t* at) {
    uint32_t magic = 0;
    uint32_t version = 0;
    for (int i = 3; i >= 0; --i) {
        magic = (magic << 8) | at[i];
        version = (version << 8) | at[4 + i];
    }
    return magic == kMagic && (version == kVersionCurrent || version == kVersionOld);
}

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
        if (bytes[p] == 'V' && IsSignatureAt(bytes + p)) return p;
    }
    return std::nullopt;
}

bool StubIsUsable(const std::vector<uint8_t>& stub) {
    // An archive begins with the current signature; a match that starts in the stub's last bytes
    // and runs into the archive would stop the scan too early.
    std::vector<uint8_t> joined = stub;
    uint8_t signature[8];
    PutU32(signature, kMagic);
    PutU32(signature + 4, kVersionCurrent);
    joined.insert(joined.end(), signature, signature + 8);
    return FindArchiveSignature(joined) == stub.size();
}

bool MakeSelfExtractor(const std::string& stubPath, const std::string& archivePath,
                       const std::string& outPath, std::string* error) {
    std::vector<uint8_t> stub;
    if (!ReadWholeFile(stubPath, stub)) return Report(error, "cannot read the stub " + stubPath);
    if (const auto at = FindArchiveSignature(stub)) {
        return Report(error, "the stub " + stubPath + " holds an archive signature at offset " +
                                 std::to_string(*at));
    }
    if (!StubIsUsable(stub)) {
        return Report(error, "the stub " + stubPath + " ends in bytes that would join the " +
                                 "archive's magic into a false signature");
    }

    // Creating the output truncates it: it must be neither input.
    std::error_code ec;
    if (std::filesystem::equivalent(outPath, archivePath, ec) ||
        std::filesystem::equivalent(outPath, stubPath, ec)) {
        return Report(error, "the output " + outPath + " is one of the input files");
    }

    std::FILE* archive = std::fopen(archivePath.c_str(), "rb");
    if (archive == nullptr) return Report(error, "cannot open " + archivePath);
    uint8_t head[8];
    if (std::fread(head, 1, sizeof head, archive) != sizeof head || !IsSignatureAt(head)) {
        std::fclose(archive);
        return Report(error, archivePath + " does not begin with an archive header");
    }

    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(archive);
        return Report(error, "cannot create " + outPath);
    }
    bool ok = std::fwrite(stub.data(), 1, stub.size(), out) == stub.size() &&
              std::fwrite(head, 1, sizeof head, out) == sizeof head;
    std::vector<uint8_t> slice(1 << 20);
    size_t got = 0;
    while (ok && (got = std::fread(slice.data(), 1, slice.size(), archive)) > 0) {
        ok = std::fwrite(slice.data(), 1, got, out) == got;
    }
    const bool readOk = std::ferror(archive) == 0;
    std::fclose(archive);
    ok = std::fclose(out) == 0 && ok;
    if (!ok || !readOk) {
        std::remove(outPath.c_str());
        return Report(error, readOk ? "cannot write " + outPath : "cannot read " + archivePath);
    }
#ifndef _WIN32
    struct stat info;
    if (stat(stubPath.c_str(), &info) == 0) chmod(outPath.c_str(), info.st_mode & 07777);
#endif
    return true;
}

}  // namespace pack
