// Entry names and the local file system. Names carry "\" between folder levels; here they become
// relative paths with "/". A name that could reach outside the destination folder (absolute,
// with a drive, a leading separator or a ".." level) is refused, both when extracting and when
// packing, so that the tool never writes such an archive and never follows one.
#pragma once

#include <string>

namespace tool {

// On success fills relative (levels joined with "/") and returns true; otherwise fills reason.
bool EntryNameToRelativePath(const std::string& name, std::string& relative, std::string& reason);

}  // namespace tool
