// Turning entry names into safe relative paths.
#include "tools/entry_path.h"

#include <string>
#include <vector>

namespace tool {

namespace {

std::string Slashed(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

}  // namespace

bool EntryNameToRelativePath(const std::string& name, std::string& relative, std::string& reason) {
    relative.clear();
    if (name.empty()) {
        reason = "empty entry name";
        return false;
    }
    if (name[0] == '\\' || name[0] == '/') {
        reason = "absolute entry name";
        return false;
    }
    // "C:" at the start names a drive on Windows; a colon anywhere else would name a stream there.
    if (name.find(':') != std::string::npos) {
        reason = name.size() >= 2 && name[1] == ':' ? "entry name with a drive"
                                                    : "entry name with a colon";
        return false;
    }
    std::vector<std::string> levels;
    std::string level;
    std::string slashed = Slashed(name);
    for (size_t i = 0; i <= slashed.size(); ++i) {
        if (i == slashed.size() || slashed[i] == '/') {
            if (level == "..") {
                reason = "entry name with a \"..\" level";
                return false;
            }
            if (!level.empty() && level != ".") levels.push_back(level);
            level.clear();
        } else {
            level += slashed[i];
        }
    }
    if (slashed.back() == '/' || levels.empty()) {
        reason = "entry name without a file name";
        return false;
    }
    for (size_t i = 0; i < levels.size(); ++i) {
        if (i) relative += '/';
        relative += levels[i];
    }
    return true;
}

}  // namespace tool
