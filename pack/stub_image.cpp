// Making a self-extractor's image from a stub's file, in the order that keeps each step's
// message true: read, checked for the signature, destination, settings, branding.
#include "pack/stub_image.h"

#include "pack/byte_sink.h"

namespace pack {

namespace {

bool Refuse(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

}  // namespace

std::optional<ImageChecksum> ImageChecksumOf(const std::vector<uint8_t>& image) {
    const std::optional<size_t> field = pe::FindPeChecksumField(image.data(), image.size());
    if (!field) return std::nullopt;
    return ImageChecksum(*field);
}

bool MakeSelfExtractorImage(const std::string& stubPath,
                            const std::optional<std::string>& builtInDestination,
                            const SfxPackSettings& settings,
                            const std::optional<pe::StubBranding>& branding,
                            SelfExtractorImage* image, std::string* error) {
    std::vector<uint8_t> stub;
    if (!ReadWholeFile(stubPath, stub)) return Refuse(error, "cannot read the stub " + stubPath);
    if (const auto at = FindArchiveSignature(stub)) {
        return Refuse(error, "the stub " + stubPath + " holds an archive signature at offset " +
                                 std::to_string(*at) + "; a reader would take it for the archive");
    }
    std::string problem;
    if (builtInDestination && !SetBuiltInDestination(stub, *builtInDestination, &problem)) {
        return Refuse(error, stubPath + ": " + problem);
    }
    const bool anySetting = settings.run || settings.temporary || settings.overwrite ||
                            settings.title || settings.license || settings.besideName;
    if (anySetting && !SetSfxSettings(stub, settings, &problem)) {
        return Refuse(error, stubPath + ": " + problem);
    }
    if (branding && !pe::BrandStub(stub, *branding, &problem)) {
        return Refuse(error, "cannot brand the stub " + stubPath + ": " + problem);
    }
    image->checksum = ImageChecksumOf(stub);
    image->bytes = std::move(stub);
    return true;
}

}  // namespace pack
