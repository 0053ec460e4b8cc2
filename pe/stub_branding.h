// A publisher's branding of a Windows self-extractor, written into the packer's copy of the stub:
// the program's icon, its version information and the execution level its manifest asks for.
// The stub's resource section is read, changed and rebuilt in place (see pe/pe_image.h); what
// the publisher does not give keeps the stub's own value, and the same inputs give the same bytes
// on every system.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

// The program icon's group, which the stub's dialogs and Explorer show.
constexpr uint16_t kStubIconGroup = 107;
// The longest text a branding option takes, in UTF-8 bytes.
constexpr size_t kMaxBrandingText = 255;

struct StubBranding {
    std::optional<std::vector<uint8_t>> iconFile;  // the bytes of a .ico file
    std::optional<std::string> productName;
    std::optional<std::string> productVersion;  // up to four dot-separated numbers
    std::optional<std::string> company;
    std::optional<std::string> description;
    std::optional<std::string> copyright;
    bool elevate = false;          // ask for administrator rights
    std::string originalFilename;  // the self-extractor's own file name

    // Whether anything here changes the stub's resources.
    bool ChangesResources() const {
        return iconFile || productName || productVersion || company || description || copyright ||
               elevate;
    }
};

// Why text cannot be a version text or title (empty, longer than kMaxBrandingText bytes, not
// UTF-8, a control character), or empty when it can.
std::string BrandingTextProblem(const std::string& text);

// Reads "1", "1.2", "1.2.3" or "1.2.3.4" (each part 0 to 65535, missing parts 0); false with a
// message otherwise.
bool ParseVersionNumbers(const std::string& text, std::array<uint16_t, 4>* version,
                         std::string* error);

// Writes branding into image, a stub's program image (PE32 or PE32+), whose resource section is
// rebuilt and whose sizes, resource directory slot and checksum are set to match. False with a
// message, and image unchanged, when the branding or the stub cannot be used.
bool BrandStub(std::vector<uint8_t>& image, const StubBranding& branding, std::string* error);

// What `vorn list` shows of a self-extractor's resources.
struct StubBrandingFacts {
    std::optional<std::string> productName;
    std::optional<std::string> productVersion;
    std::optional<std::string> executionLevel;  // from the manifest
};
// The facts of image, a Windows program; nothing when it is not one or has no resources.
std::optional<StubBrandingFacts> ReadStubBranding(const std::vector<uint8_t>& image);

}  // namespace pe
