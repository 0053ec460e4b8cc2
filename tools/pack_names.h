// The names "vorn pack" stores, all checked before the first byte is written, so that a refused
// name leaves no half-made archive behind.
#pragma once

#include <vector>

#include "tools/pack_sources.h"

namespace tool {

// Whether every file's name can be stored and read back: not too long, UTF-8, no backslash in a
// level, no way out of a destination, not the comment's name, no two files under one name.
// Prints a line for every refused name and returns false when there is any.
bool NamesAreStorable(const std::vector<SourceFile>& files);

}  // namespace tool
