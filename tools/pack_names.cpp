// Refusing names that readers would refuse or that would collide.
#include "tools/pack_names.h"

#include <cstdio>
#include <map>
#include <string>

#include "format/container.h"
#include "format/utf8.h"
#include "tools/entry_path.h"
#include "tools/texts.h"

namespace tool {

namespace {

using format::kCommentName;
using format::kMaxNameBytes;

// Prints why the file's name cannot be stored and returns false; names stored so far are in
// seen (name -> path), which takes this one when it passes.
bool NameIsStorable(const SourceFile& f, std::map<std::string, std::string>& seen) {
    std::string relative, reason;
    if (f.name.size() > kMaxNameBytes) {
        std::fprintf(stderr, "vorn pack: %s: name of %zu bytes; at most %zu fit\n", f.path.c_str(),
                     f.name.size(), size_t{kMaxNameBytes});
    } else if (!format::IsValidUtf8(f.name.data(), f.name.size())) {
        std::fprintf(stderr,
                     "vorn pack: %s: the name is not valid UTF-8, which archives store names "
                     "as; rename the file\n",
                     Shown(f.path).c_str());
    } else if (f.backslashInName) {
        std::fprintf(stderr,
                     "vorn pack: %s: the name holds a backslash, which readers take for a "
                     "folder level\n",
                     f.path.c_str());
    } else if (!EntryNameToRelativePath(f.name, relative, reason)) {
        std::fprintf(stderr, "vorn pack: %s: %s\n", f.path.c_str(), reason.c_str());
    } else if (f.name == kCommentName) {
        std::fprintf(stderr, "vorn pack: %s: the name %s is kept for the comment\n", f.path.c_str(),
                     kCommentName);
    } else if (auto it = seen.find(f.name); it != seen.end()) {
        std::fprintf(stderr, "vorn pack: %s and %s would both be stored as %s\n",
                     it->second.c_str(), f.path.c_str(), f.name.c_str());
    } else {
        seen[f.name] = f.path;
        return true;
    }
    return false;
}

}  // namespace

bool NamesAreStorable(const std::vector<SourceFile>& files) {
    bool storable = true;
    std::map<std::string, std::string> seen;
    for (const SourceFile& f : files) storable = NameIsStorable(f, seen) && storable;
    return storable;
}

}  // namespace tool
