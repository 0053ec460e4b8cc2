// Self-extractors: a program image (the stub, made ready in pack/stub_image.h) with an archive
// appended, which ArchiveWriter writes. Readers find the archive by scanning the file from its
// start for the magic followed by a recognised version word, so nothing but the concatenation is
// needed, provided the stub itself holds no such 8 bytes. None can start in the stub's last bytes
// and run into the archive: no proper prefix of the signature is also its suffix. The stub's
// built-in destination and its settings block are written here; readers find them with
// format/stub_fields.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/sfx_settings.h"
#include "format/signature_scan.h"

namespace pack {

// The lowest offset at which bytes holds "VORN" followed by a known version word, or nothing: the
// one scan of format/signature_scan.h, as the library runs it when it opens.
inline std::optional<size_t> FindArchiveSignature(const std::vector<uint8_t>& bytes) {
    const size_t at = format::FindSignature(bytes.data(), bytes.size());
    return at == bytes.size() ? std::nullopt : std::optional<size_t>(at);
}

// Why text cannot be a self-extractor's built-in destination (longer than 255 bytes, a control
// character, not UTF-8), or empty when it can.
std::string BuiltInDestinationProblem(const std::string& text);

// Writes text into the built-in destination field of a stub's image (see
// format/builtin_destination.h). False, with a message in *error, when the text cannot be one or
// the image does not hold the field's marker exactly once.
bool SetBuiltInDestination(std::vector<uint8_t>& image, const std::string& text,
                           std::string* error);

// The settings a publisher chooses at packing (see format/sfx_settings.h). Unset ones are not
// written, so a self-extractor without any behaves as the stub does as built.
struct SfxPackSettings {
    std::optional<std::string> run;  // the program line: program (an entry) and its arguments
    bool temporary = false;          // extract into a temporary folder; needs run
    std::optional<format::SfxOverwrite> overwrite;
    std::optional<std::string> title;  // the main dialog's caption
    bool license = false;              // a licence entry is packed and must be accepted
    // The archive kept beside the program: its file name, size and SHA-256 (32 bytes).
    std::optional<std::string> besideName;
    uint64_t besideSize = 0;
    std::vector<uint8_t> besideHash;
};

// Why text cannot be a self-extractor's licence (empty, over format::kMaxLicenseBytes, not UTF-8,
// or holding a zero byte), or empty when it can.
std::string LicenseProblem(const std::string& text);

// Windows starts no program file of 4 GiB or more: a self-extractor of that size must keep its
// archive beside it.
constexpr uint64_t kMaxSelfExtractorBytes = (uint64_t{1} << 32) - 1;
inline bool SelfExtractorTooLarge(uint64_t size) {
    return size > kMaxSelfExtractorBytes;
}

// The settings block's bytes (at most format::kSfxSettingsBytes), or false with a message in *error
// when a value cannot be stored or the whole does not fit.
bool EncodeSfxSettings(const SfxPackSettings& settings, std::vector<uint8_t>& block,
                       std::string* error);

// Writes the settings into the block of a stub's image. False, with a message in *error, when
// they cannot be encoded or the image does not hold the block's marker exactly once.
bool SetSfxSettings(std::vector<uint8_t>& image, const SfxPackSettings& settings,
                    std::string* error);

// What a sealed archive's trailer keeps of the self-extractor it is appended to: the BLAKE2b-256
// digest of the kSfxSettingsBytes behind the first settings marker in image (every byte before
// the archive), or 32 zeros when image holds no settings block. The settings stay readable in the
// stub, which acts on them before it has a password; the digest lets a reader with the password
// refuse settings changed since packing.
void SfxSettingsDigest(const uint8_t* image, size_t size, uint8_t digest[32]);

// The entry a program line names: its first word with "/" turned into "\", or false with a
// message in *error when the line is empty, too long, holds control characters or names nothing.
bool ProgramEntryName(const std::string& line, std::string* name, std::string* error);

}  // namespace pack
