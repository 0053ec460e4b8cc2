// The branding options of "vorn pack" for a Windows self-extractor (--icon, --product-name,
// --product-version, --company, --description, --copyright, --elevate, --title), read and
// checked before anything is written, each refusal naming its option.
#pragma once

#include <optional>
#include <string>

#include "pe/stub_branding.h"
#include "tools/options.h"

namespace tool {

// Sets branding to what the options ask of the stub's resources (nullopt when they ask nothing),
// after checking every value, the icon file, and that the stub at stubPath can carry them;
// outPath names the self-extractor, whose file name becomes the version information's
// OriginalFilename. Prints the failure and returns false.
bool LoadBranding(const Options& options, const std::optional<std::string>& stubPath,
                  const std::string& outPath, std::optional<pe::StubBranding>& branding);

}  // namespace tool
