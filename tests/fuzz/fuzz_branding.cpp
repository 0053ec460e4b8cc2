// Fuzz target: the icon file reader and the stub's resource writer. Byte 0 chooses what the rest
// is: even, an icon file, read and (when it reads) branded into a small sound stub; odd, a stub
// image, branded with a sound icon, every text and the elevation. Checked: a read icon's images
// are slices of the file; a branding that succeeds gives an image whose headers read, whose
// resource section is last and rebuildable again, whose facts are the ones given and whose
// checksum is right; one that fails leaves the image as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pe/icon_file.h"
#include "pe/pe_image.h"
#include "pe/stub_branding.h"
#include "test_pe.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The failed line is printed, as every check of a branding shares one inlined call site.
void Check(bool condition, int line = __builtin_LINE()) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_branding: check failed on line %d\n", line);
    std::abort();
}

pe::StubBranding FullBranding(const Bytes& icon) {
    pe::StubBranding b;
    b.iconFile = icon;
    b.productName = "Fuzz";
    b.productVersion = "1.2.3.4";
    b.company = "Fuzz Co";
    b.description = "Fuzzed";
    b.copyright = "none";
    b.elevate = true;
    b.originalFilename = "fuzz.exe";
    return b;
}

void CheckBranded(const Bytes& before, const Bytes& after, bool branded) {
    if (!branded) {
        Check(after == before);
        return;
    }
    pe::PeLayout layout;
    size_t index = 0;
    Check(pe::ReadPeLayout(after.data(), after.size(), &layout, nullptr));
    Check(pe::FindRebuildableResources(after.data(), after.size(), layout, &index, nullptr));
    Check(pe::ComputePeChecksum(after.data(), after.size(), layout.checksumField) ==
          (after[layout.checksumField] | after[layout.checksumField + 1] << 8 |
           after[layout.checksumField + 2] << 16 |
           static_cast<uint32_t>(after[layout.checksumField + 3]) << 24));
    const auto facts = pe::ReadStubBranding(after);
    Check(facts && facts->productName == std::optional<std::string>("Fuzz") &&
          facts->executionLevel == std::optional<std::string>("requireAdministrator"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const Bytes input(data + 1, data + size);
    if ((data[0] & 1) == 0) {
        std::vector<pe::IconImage> images;
        if (!pe::ReadIconFile(input, &images, nullptr)) return 0;
        size_t total = 0;
        for (const pe::IconImage& image : images) total += image.data.size();
        Check(!images.empty() && images.size() <= pe::kMaxIconImages && total <= input.size());
        static const Bytes stub = vorntest::BuildTestStub();
        Bytes image = stub;
        CheckBranded(stub, image, pe::BrandStub(image, FullBranding(input), nullptr));
        return 0;
    }
    static const Bytes icon = vorntest::BuildTestIcon({{16, 4}, {32, 32, true}});
    Bytes image = input;
    CheckBranded(input, image, pe::BrandStub(image, FullBranding(icon), nullptr));
    pe::ReadStubBranding(input);
    return 0;
}
