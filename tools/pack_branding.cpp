// Checking and loading the branding options of "vorn pack".
#include "tools/pack_branding.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "pack/byte_sink.h"
#include "pe/icon_file.h"
#include "tools/system.h"

namespace tool {

namespace {

struct TextOption {
    const char* name;
    const std::optional<std::string>* value;
};

bool Refuse(const std::string& option, const std::string& why) {
    std::fprintf(stderr, "vorn pack: %s: %s\n", option.c_str(), why.c_str());
    return false;
}

// The first branding option given, to name in a refusal that concerns them all.
const char* FirstOptionGiven(const Options& o) {
    const TextOption all[] = {{"--icon", &o.icon},
                              {"--product-name", &o.productName},
                              {"--product-version", &o.productVersion},
                              {"--company", &o.company},
                              {"--description", &o.description},
                              {"--copyright", &o.copyright},
                              {"--title", &o.title}};
    for (const TextOption& t : all) {
        if (*t.value) return t.name;
    }
    return o.elevate ? "--elevate" : nullptr;
}

bool CheckTexts(const Options& o) {
    const TextOption texts[] = {
        {"--product-name", &o.productName}, {"--product-version", &o.productVersion},
        {"--company", &o.company},          {"--description", &o.description},
        {"--copyright", &o.copyright},      {"--title", &o.title}};
    for (const TextOption& t : texts) {
        if (!*t.value) continue;
        const std::string problem = pe::BrandingTextProblem(**t.value);
        if (!problem.empty()) return Refuse(t.name, problem);
    }
    std::array<uint16_t, 4> numbers{};
    std::string error;
    if (o.productVersion && !pe::ParseVersionNumbers(*o.productVersion, &numbers, &error)) {
        return Refuse("--product-version", error);
    }
    return true;
}

bool LoadIcon(const std::string& path, std::vector<uint8_t>& file) {
    os::PathFacts facts;
    if (!os::StatPath(path, facts) || facts.kind != os::PathKind::File) {
        return Refuse("--icon " + path, "cannot read the file: " + os::LastErrorText());
    }
    // Refused before it is read: a large file given by mistake is never loaded whole.
    if (facts.size > pe::kMaxIconFileBytes) {
        return Refuse("--icon " + path,
                      "the icon file is " + std::to_string(facts.size) + " bytes long; at most " +
                          std::to_string(pe::kMaxIconFileBytes) + " (4 MiB) are taken");
    }
    if (!pack::ReadWholeFile(path, file)) {
        return Refuse("--icon " + path, "cannot read the file: " + os::LastErrorText());
    }
    std::vector<pe::IconImage> images;
    std::string error;
    if (!pe::ReadIconFile(file, &images, &error)) return Refuse("--icon " + path, error);
    return true;
}

}  // namespace

bool LoadBranding(const Options& options, const std::optional<std::string>& stubPath,
                  const std::string& outPath, std::optional<pe::StubBranding>& branding) {
    branding.reset();
    const char* first = FirstOptionGiven(options);
    if (first == nullptr) return true;
    if (!stubPath || (options.sfxKind && *options.sfxKind == "linux")) {
        std::fprintf(stderr,
                     "vorn pack: %s is for Windows self-extractors (--sfx windows or windows64)\n",
                     first);
        return false;
    }
    if (!CheckTexts(options)) return false;
    pe::StubBranding b;
    if (options.icon) {
        std::vector<uint8_t> file;
        if (!LoadIcon(*options.icon, file)) return false;
        b.iconFile = std::move(file);
    }
    b.productName = options.productName;
    b.productVersion = options.productVersion;
    b.company = options.company;
    b.description = options.description;
    b.copyright = options.copyright;
    b.elevate = options.elevate;
    b.originalFilename = os::TextOf(os::PathOf(outPath).filename());
    if (!b.ChangesResources()) return true;  // --title alone: the settings block only
    // Tried on a copy now, so that a stub that cannot carry it is refused before writing.
    std::vector<uint8_t> image;
    std::string error;
    if (!pack::ReadWholeFile(*stubPath, image) || !pe::BrandStub(image, b, &error)) {
        return Refuse(first, "cannot brand the stub " + *stubPath + ": " +
                                 (error.empty() ? "cannot read it" : error));
    }
    branding = std::move(b);
    return true;
}

}  // namespace tool
