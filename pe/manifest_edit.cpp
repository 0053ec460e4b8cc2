// Finding and changing the requested execution level in a manifest's text.
#include "pe/manifest_edit.h"

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

// The element's start at or after from, passing over any inside comments.
size_t FindElement(const std::string& manifest, size_t from) {
    for (size_t at = manifest.find(kElement, from); at != std::string::npos;
         at = manifest.find(kElement, at + 1)) {
        const size_t comment = manifest.rfind("<!--", at);
        if (comment == std::string::npos || manifest.find("-->", comment) < at) return at;
    }
    return std::string::npos;
}

}  // namespace

std::optional<std::string> ManifestExecutionLevel(const std::string& manifest) {
    const size_t element = FindElement(manifest, 0);
    size_t begin = 0, end = 0;
    if (element == std::string::npos || !FindLevelValue(manifest, element, &begin, &end)) {
        return std::nullopt;
    }
    return manifest.substr(begin, end - begin);
}

bool SetManifestExecutionLevel(std::string& manifest, const std::string& level,
                               std::string* error) {
    const size_t element = FindElement(manifest, 0);
    size_t begin = 0, end = 0;
    if (element == std::string::npos || !FindLevelValue(manifest, element, &begin, &end)) {
        if (error != nullptr) *error = "the stub's manifest asks for no execution level";
        return false;
    }
    if (FindElement(manifest, element + 1) != std::string::npos) {
        if (error != nullptr) *error = "the stub's manifest asks for an execution level twice";
        return false;
    }
    manifest.replace(begin, end - begin, level);
    return true;
}

}  // namespace pe
