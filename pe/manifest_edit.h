// The one change the packer makes to a program's manifest: the execution level it asks Windows
// for (asInvoker, or requireAdministrator for a self-extractor that must write where users may
// not). The manifest is XML; the edit replaces the level attribute's value in place and leaves
// every other byte as it was.
#pragma once

#include <optional>
#include <string>

namespace pe {

// The level attribute's value of the manifest's requestedExecutionLevel element, if it has one.
std::optional<std::string> ManifestExecutionLevel(const std::string& manifest);

// Sets that value; false with a message when the manifest has no such attribute, or more than
// one requestedExecutionLevel element.
bool SetManifestExecutionLevel(std::string& manifest, const std::string& level, std::string* error);

}  // namespace pe
