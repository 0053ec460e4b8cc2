// The program image a self-extractor starts with, made from a stub's file: checked for the
// archive signature, given its built-in destination, its settings and the publisher's branding;
// and the image checksum that the writer completes over the whole output. The writer itself
// takes the finished image as a prefix and knows nothing of program images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "pe/pe_image.h"
#include "pe/stub_branding.h"

namespace pack {

// A Windows program image's checksum (CheckSumMappedFile) over the self-extractor's whole file.
// Windows checks it only for drivers and a few system files, but tools that inspect programs
// report a wrong one.
class ImageChecksum final : public PrefixChecksum {
  public:
    explicit ImageChecksum(size_t field) : field_(field) {}
    size_t Field() const override { return field_; }
    void Update(const uint8_t* bytes, size_t size) override { sum_.Update(bytes, size); }
    uint32_t Finish() const override { return sum_.Finish(); }

  private:
    size_t field_;
    pe::PeChecksum sum_;
};

// The checksum of image when it is a Windows program image, else nothing.
std::optional<ImageChecksum> ImageChecksumOf(const std::vector<uint8_t>& image);

struct SelfExtractorImage {
    std::vector<uint8_t> bytes;
    std::optional<ImageChecksum> checksum;  // set when bytes is a Windows program image
};

// The stub at stubPath made into a self-extractor's image: with builtInDestination, the copy's
// built-in default destination is set to it; settings that are set go into its settings block;
// branding, when given, is written into its resources. The stub must not hold the archive
// signature (see FindArchiveSignature), else a reader would stop there. False with a message
// otherwise.
bool MakeSelfExtractorImage(const std::string& stubPath,
                            const std::optional<std::string>& builtInDestination,
                            const SfxPackSettings& settings,
                            const std::optional<pe::StubBranding>& branding,
                            SelfExtractorImage* image, std::string* error);

}  // namespace pack
