// Grouping by kind and extension. The extensions are lower-cased before they are compared.
#include "pack/solid_groups.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace pack {

namespace {

std::string ExtensionOf(const std::string& name) {
    size_t leaf = name.find_last_of("\\/");
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (leaf != std::string::npos && dot < leaf)) return "";
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool OneOf(const std::string& ext, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
}

}  // namespace

FileKind KindOf(const std::string& name) {
    const std::string ext = ExtensionOf(name);
    if (OneOf(ext, {"exe", "dll", "sys", "ocx", "drv", "cpl", "scr", "efi", "mui", "com", "so",
                    "pyd", "node", "dylib", "a", "lib", "o", "obj"})) {
        return FileKind::Program;
    }
    if (OneOf(ext, {"zip", "7z",   "gz",  "tgz", "bz2", "xz",  "zst", "lz4",   "lzma",
                    "rar", "cab",  "msi", "jar", "whl", "apk", "jpg", "jpeg",  "png",
                    "gif", "webp", "mp3", "mp4", "ogg", "avi", "mkv", "woff2", "br"})) {
        return FileKind::Compressed;
    }
    return FileKind::Other;
}

GroupPlan ChooseSolidGroups(const std::vector<GroupCandidate>& files, uint64_t groupBytes) {
    groupBytes = std::min<uint64_t>(groupBytes, format::kSolidWindowBytes);
    GroupPlan plan;
    std::vector<size_t> grouped;
    for (size_t i = 0; i < files.size(); ++i) {
        const GroupCandidate& f = files[i];
        bool alone = f.encrypted || f.size > groupBytes || KindOf(f.name) == FileKind::Compressed;
        (alone ? plan.alone : grouped).push_back(i);
    }
    auto key = [&files](size_t i) {
        return std::make_tuple(KindOf(files[i].name), ExtensionOf(files[i].name), files[i].name);
    };
    std::stable_sort(grouped.begin(), grouped.end(),
                     [&](size_t a, size_t b) { return key(a) < key(b); });
    uint64_t filled = 0;
    FileKind kind = FileKind::Other;
    for (size_t i : grouped) {
        const GroupCandidate& f = files[i];
        const bool kindChanges = !plan.groups.empty() && KindOf(f.name) != kind;
        if (plan.groups.empty() || kindChanges || f.size > groupBytes - filled) {
            plan.groups.emplace_back();
            filled = 0;
            kind = KindOf(f.name);
        }
        plan.groups.back().push_back(i);
        filled += f.size;
    }
    return plan;
}

std::vector<bool> GroupsFindingAhead(const std::vector<uint64_t>& groupBytes, unsigned jobs) {
    uint64_t total = 0;
    for (uint64_t bytes : groupBytes) total += bytes;
    std::vector<bool> ahead;
    for (uint64_t bytes : groupBytes) ahead.push_back(jobs > 1 && bytes * jobs > total);
    return ahead;
}

}  // namespace pack
