// Text as a JSON string, for "vorn list --json".
#pragma once

#include <string>

namespace tool {

// The text quoted and escaped; always valid UTF-8, whatever bytes the text holds.
std::string JsonString(const std::string& text);

}  // namespace tool
