// Finding and changing the requested execution level in a manifest's text.
#include "pe/manifest_edit.h"

#include <vector>

namespace pe {

namespace {

constexpr const char* kElement = "<requestedExecutionLevel";

// Where the level attribute's value starts and ends inside the element at element.
bool FindLevelValue(const std::string& manifest, size_t element, size_t* begin, size_t* end) {
    const size_t close = manifest.find('>', element);
    if (close == std::string::npos) return false;
    for (size_t at = element; (at = manifest.find("level", at)) < close; at += 5) {
        // An attribute's name stands after white space; "uiAccess" or "trustLevel" do not count.
        if (manifest[at - 1] != ' ' && manifest[at - 1] != '\t' && manifest[at - 1] != '\n' &&
            manifest[at - 1] != '\r') {
            continue;
        }
        size_t p = at + 5;
        while (p < close && (manifest[p] == ' ' || manifest[p] == '\t')) ++p;
        if (p >= close || manifest[p] != '=') continue;
        ++p;
        while (p < close && (manifest[p] == ' ' || manifest[p] == '\t')) ++p;
        if (p >= close || (manifest[p] != '"' && manifest[p] != '\'')) return false;
        const size_t quoteEnd = manifest.find(manifest[p], p + 1);
        if (quoteEnd == std::string::npos || quoteEnd > close) return false;
        *begin = p + 1;
        *end = quoteEnd;
        return true;
    }
    return false;
}

// The starts of the first count elements outside comments, in order. One pass: the next element,
// comment opening and comment end are each searched for from where the last one was found, so a
// manifest of many elements or comments costs no more than its length.
std::vector<size_t> FindElements(const std::string& manifest, size_t count) {
    std::vector<size_t> found;
    size_t element = manifest.find(kElement);
    size_t comment = manifest.find("<!--");
    while (element != std::string::npos && found.size() < count) {
        if (comment > element) {
            found.push_back(element);
            element = manifest.find(kElement, element + 1);
            continue;
        }
        // An element inside the comment does not count; a comment never closed hides the rest.
        const size_t close = manifest.find("-->", comment);
        if (close == std::string::npos) break;
        if (element < close + 3) element = manifest.find(kElement, close + 3);
        comment = manifest.find("<!--", close + 3);
    }
    return found;
}

}  // namespace

std::optional<std::string> ManifestExecutionLevel(const std::string& manifest) {
    const std::vector<size_t> elements = FindElements(manifest, 1);
    size_t begin = 0, end = 0;
    if (elements.empty() || !FindLevelValue(manifest, elements[0], &begin, &end)) {
        return std::nullopt;
    }
    return manifest.substr(begin, end - begin);
}

bool SetManifestExecutionLevel(std::string& manifest, const std::string& level,
                               std::string* error) {
    const std::vector<size_t> elements = FindElements(manifest, 2);
    size_t begin = 0, end = 0;
    if (elements.empty() || !FindLevelValue(manifest, elements[0], &begin, &end)) {
        if (error != nullptr) *error = "the stub's manifest asks for no execution level";
        return false;
    }
    if (elements.size() > 1) {
        if (error != nullptr) *error = "the stub's manifest asks for an execution level twice";
        return false;
    }
    manifest.replace(begin, end - begin, level);
    return true;
}

}  // namespace pe
