// The signature search that keeps a stub from hiding its archive, the stub's built-in
// destination and its settings block.
#include "pack/self_extractor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "crypto/blake2b.h"
#include "format/builtin_destination.h"
#include "format/container.h"
#include "format/publisher_text.h"
#include "format/sfx_settings.h"
#include "format/stub_fields.h"
#include "format/utf8.h"

namespace pack {

namespace {

bool Report(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

// Where a marker stands in bytes, or size when it is not there.
size_t FindMarker(const uint8_t* bytes, size_t size, const char* text, size_t markerBytes,
                  size_t from = 0) {
    const auto* marker = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = bytes + size;
    const uint8_t* at = std::search(bytes + from, end, marker, marker + markerBytes);
    return static_cast<size_t>(at - bytes);
}

// Where the field of fieldBytes behind a marker starts in image, which must hold the marker
// exactly once; false with a message otherwise.
bool FindField(const std::vector<uint8_t>& image, const char* marker, size_t markerBytes,
               size_t fieldBytes, const char* what, size_t* field, std::string* error) {
    const size_t at = FindMarker(image.data(), image.size(), marker, markerBytes);
    *field = at + markerBytes;
    if (at == image.size() || image.size() - *field < fieldBytes) {
        return Report(error, std::string("the stub has no field for ") + what);
    }
    if (FindMarker(image.data(), image.size(), marker, markerBytes, at + 1) != image.size()) {
        return Report(error,
                      std::string("the stub holds the marker of ") + what + " more than once");
    }
    return true;
}

}  // namespace

std::string BuiltInDestinationProblem(const std::string& text) {
    return format::PublisherTextProblem(text, "the default folder",
                                        {format::kMaxBuiltInDestinationLength, true});
}

bool SetBuiltInDestination(std::vector<uint8_t>& image, const std::string& text,
                           std::string* error) {
    std::string problem = BuiltInDestinationProblem(text);
    if (!problem.empty()) return Report(error, problem);
    size_t field = 0;
    if (!FindField(image, VORN_BUILTIN_DESTINATION_MARKER, format::kBuiltInDestinationMarkerBytes,
                   format::kBuiltInDestinationBytes, "a default folder", &field, error)) {
        return false;
    }
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(field),
                format::kBuiltInDestinationBytes, 0);
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(field));
    return true;
}

std::string LicenseProblem(const std::string& text) {
    if (text.empty()) return "the licence file is empty";
    if (text.size() > format::kMaxLicenseBytes) {
        return "the licence file is larger than 1 MiB (" +
               std::to_string(format::kMaxLicenseBytes) + " bytes)";
    }
    if (!format::IsValidUtf8(text.data(), text.size())) {
        return "the licence file is not UTF-8 text";
    }
    if (text.find('\0') != std::string::npos) return "the licence file holds a zero byte";
    return "";
}

void SfxSettingsDigest(const uint8_t* image, size_t size, uint8_t digest[32]) {
    std::fill_n(digest, 32, 0);
    const uint8_t* block = format::FindSfxSettingsBlock(image, size);
    if (block != nullptr) Blake2bHash(digest, 32, block, format::kSfxSettingsBytes);
}

bool ProgramEntryName(const std::string& line, std::string* name, std::string* error) {
    const std::string problem = format::PublisherTextProblem(line, "the program line",
                                                             {format::kMaxSfxRunLineBytes, false});
    if (!problem.empty()) return Report(error, problem);
    std::string word(line.size() + 1, '\0');
    size_t offset = 0;
    if (!format::NextProgramWord(line.data(), line.size(), &offset, word.data(), word.size()) ||
        word[0] == '\0') {
        return Report(error, "the program line names no program");
    }
    word.resize(strlen(word.c_str()));
    std::replace(word.begin(), word.end(), '/', '\\');
    *name = word;
    return true;
}

bool EncodeSfxSettings(const SfxPackSettings& settings, std::vector<uint8_t>& block,
                       std::string* error) {
    block.clear();
    if (settings.temporary && !settings.run) {
        return Report(error, "a temporary folder is only for a program to run");
    }
    format::SfxSettings decoded;
    if (settings.run) {
        std::string name;
        if (!ProgramEntryName(*settings.run, &name, error)) return false;
        decoded.run = settings.run->data();
        decoded.runLength = settings.run->size();
    }
    decoded.temporary = settings.temporary;
    decoded.license = settings.license;
    decoded.overwriteStored = settings.overwrite.has_value();
    decoded.overwrite = settings.overwrite.value_or(format::SfxOverwrite::Ask);
    if (settings.title) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(settings.title->data());
        if (!format::IsSfxTitle(bytes, settings.title->size()) ||
            !format::IsValidUtf8(settings.title->data(), settings.title->size())) {
            return Report(error, "the title must be 1 to " +
                                     std::to_string(format::kMaxSfxTitleBytes) +
                                     " bytes of UTF-8 without control characters");
        }
        decoded.title = settings.title->data();
        decoded.titleLength = settings.title->size();
    }
    if (settings.besideName) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(settings.besideName->data());
        if (!format::IsSfxBesideName(bytes, settings.besideName->size()) ||
            settings.besideHash.size() != format::kSfxBesideHashBytes) {
            return Report(error,
                          "the archive's name beside the program must be a plain file "
                          "name of at most 255 bytes");
        }
        decoded.besideName = settings.besideName->data();
        decoded.besideNameLength = settings.besideName->size();
        decoded.besideSize = settings.besideSize;
        decoded.besideHash = settings.besideHash.data();
    }
    block.resize(format::kSfxSettingsBytes);
    size_t length = format::WriteSfxSettings(decoded, block.data(), block.size());
    if (length > format::kSfxSettingsBytes) {
        return Report(error, "the self-extractor's settings take " + std::to_string(length) +
                                 " bytes; at most " + std::to_string(format::kSfxSettingsBytes) +
                                 " fit");
    }
    block.resize(length);
    return true;
}

bool SetSfxSettings(std::vector<uint8_t>& image, const SfxPackSettings& settings,
                    std::string* error) {
    std::vector<uint8_t> block;
    if (!EncodeSfxSettings(settings, block, error)) return false;
    size_t field = 0;
    if (!FindField(image, VORN_SFX_SETTINGS_MARKER, format::kSfxSettingsMarkerBytes,
                   format::kSfxSettingsBytes, "settings", &field, error)) {
        return false;
    }
    auto at = image.begin() + static_cast<std::ptrdiff_t>(field);
    std::fill_n(at, format::kSfxSettingsBytes, 0);
    std::copy(block.begin(), block.end(), at);
    return true;
}

}  // namespace pack
