// Creating the folder levels an extracted entry needs below the destination.
#pragma once

#include <string>

namespace tool {

// Creates every missing folder level of relativeDir ("a/b") below root, refusing to pass through
// a symbolic link (an existing link could lead outside the destination). false with error on
// failure.
bool MakeFolderLevels(const std::string& root, const std::string& relativeDir, std::string& error);

}  // namespace tool
