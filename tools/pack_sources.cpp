// Finding the files to pack and reading their facts.
#include "tools/pack_sources.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tools/system.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

bool StatSource(const std::string& path, const std::string& name, SourceFile& out,
                std::string& error) {
    os::PathFacts facts;
    if (!os::StatPath(path, facts)) {
        error = path + ": " + os::LastErrorText();
        return false;
    }
    out.path = path;
    out.name = name;
    out.size = facts.size;
    out.fileTime = facts.fileTime;
    out.attributes = facts.attributes;
    return true;
}

// The regular files below root, and files that links lead to, in name order; links to folders
// are not followed.
bool FindFilesBelow(const fs::path& root, std::vector<fs::path>& found) {
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
    if (ec) {
        std::fprintf(stderr, "vorn: %s: %s\n", os::TextOf(root).c_str(), ec.message().c_str());
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            std::fprintf(stderr, "vorn: %s: %s\n", os::TextOf(root).c_str(), ec.message().c_str());
            return false;
        }
        std::error_code typeError;
        auto status = it->status(typeError);  // follows links to files, not into folders
        if (it->is_symlink() && fs::is_directory(status)) continue;
        if (!fs::is_regular_file(status)) continue;
        found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return true;
}

// Collects the files below root (a folder given on the command line) in name order.
bool CollectFolder(const fs::path& root, const std::string& prefix, std::vector<SourceFile>& files,
                   const std::string& skipPath) {
    std::vector<fs::path> found;
    if (!FindFilesBelow(root, found)) return false;
    for (const fs::path& p : found) {
        std::error_code same;
        if (!skipPath.empty() && fs::equivalent(p, os::PathOf(skipPath), same)) continue;
        std::string relative = os::GenericTextOf(fs::relative(p, root));
        bool backslash = relative.find('\\') != std::string::npos;
        std::string name = prefix;
        for (char c : relative) name += c == '/' ? '\\' : c;
        SourceFile file;
        std::string error;
        if (!StatSource(os::TextOf(p), name, file, error)) {
            std::fprintf(stderr, "vorn: %s\n", error.c_str());
            return false;
        }
        // prefix is the folder's own name and the separator that ends it.
        file.backslashInName = backslash || prefix.find('\\') + 1 < prefix.size();
        files.push_back(file);
    }
    return true;
}

bool GatherOperand(std::string operand, const std::string& outPath,
                   std::vector<SourceFile>& files) {
    while (operand.size() > 1 && os::IsPathSeparator(operand.back())) operand.pop_back();
    os::PathFacts facts;
    if (!os::StatPath(operand, facts)) {
        std::fprintf(stderr, "vorn pack: %s: %s\n", operand.c_str(), os::LastErrorText().c_str());
        return false;
    }
    fs::path p = os::PathOf(operand);
    std::string top = os::TextOf(p.filename());
    if (top == "." || top == ".." || top == "/" || top.empty()) top.clear();
    if (facts.kind == os::PathKind::Folder) {
        return CollectFolder(p, top.empty() ? "" : top + "\\", files, outPath);
    }
    if (facts.kind != os::PathKind::File) {
        std::fprintf(stderr, "vorn pack: %s: not a file or folder\n", operand.c_str());
        return false;
    }
    SourceFile file;
    std::string error;
    if (!StatSource(operand, top, file, error)) {
        std::fprintf(stderr, "vorn pack: %s\n", error.c_str());
        return false;
    }
    file.backslashInName = top.find('\\') != std::string::npos;
    files.push_back(file);
    return true;
}

}  // namespace

bool GatherSources(const std::vector<std::string>& operands, const std::string& outPath,
                   std::vector<SourceFile>& files) {
    for (const std::string& operand : operands) {
        if (!GatherOperand(operand, outPath, files)) return false;
    }
    return true;
}

}  // namespace tool
