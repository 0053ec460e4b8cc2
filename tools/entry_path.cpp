// Turning entry names into safe relative paths, and matching them against wildcard patterns.
#include "tools/entry_path.h"

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

namespace {

// Whether the bracket set at pattern[at] ("[a-c]", "[!x]") holds c; *end receives the position
// after it. A "[" without its "]" is a plain character.
bool InSet(const std::string& pattern, size_t at, char c, size_t* end) {
    size_t i = at + 1;
    bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) ++i;
    bool found = false;
    for (size_t first = i; i < pattern.size() && (pattern[i] != ']' || i == first); ++i) {
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            found = found || (c >= pattern[i] && c <= pattern[i + 2]);
            i += 2;
        } else {
            found = found || c == pattern[i];
        }
    }
    if (i >= pattern.size()) {
        *end = at + 1;
        return c == '[';
    }
    *end = i + 1;
    return found != negated;
}

// "*" any run, "?" any one character, "[...]" one of a set; "/" is a character like any other.
// A "*" that fails to match is retried one character further, from the last one seen.
bool WildcardMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, starAt = std::string::npos, starText = 0;
    while (t < text.size()) {
        size_t next = p + 1;
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starText = t;
            continue;
        }
        if (p < pattern.size() &&
            (pattern[p] == '?' ||
             (pattern[p] == '[' ? InSet(pattern, p, text[t], &next) : pattern[p] == text[t]))) {
            p = next;
            ++t;
            continue;
        }
        if (starAt == std::string::npos) return false;
        p = starAt + 1;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool EntryMatchesPattern(const std::string& name, const std::string& pattern) {
    std::string n = Slashed(name);
    std::string p = Slashed(pattern);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (WildcardMatch(p, n)) return true;
    // A folder selects what lies below it.
    return WildcardMatch(p + "/*", n);
}

}  // namespace tool
