// Which self-extractor stub "vorn pack" puts before the archive: the one --sfx-stub names, or the
// one of the --sfx kind found in $VORN_STUB_DIR or the build trees.
#pragma once

#include <optional>
#include <string>

#include "tools/options.h"

namespace tool {

// Sets stub to the stub to use (nullopt for a plain archive). selfPath is how this program was
// started. Prints the failure (with the places looked at) and returns false.
bool ResolveStub(const Options& options, const std::string& selfPath,
                 std::optional<std::string>& stub);

}  // namespace tool
