// "vorn pack": makes an archive, or a self-extractor, from files and folders. Every name is
// checked before anything is written, so a refused name leaves no half-made archive behind; the
// archive is written beside its final name and renamed into place only when complete.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "format/utf8.h"
#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "tools/cli_support.h"
#include "tools/commands.h"
#include "tools/entry_path.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

using format::kMaxNameBytes;

// The unfinished archive, removed when the user interrupts the packing.
char g_partialPath[4096];

void RemovePartialAndExit(int) {
    if (g_partialPath[0]) unlink(g_partialPath);
    _exit(130);
}

struct SourceFile {
    std::string path;  // on disk
    std::string name;  // in the archive, "\" between levels
    uint64_t size = 0;
    uint64_t fileTime = 0;
    uint16_t attributes = 0x20;
    bool backslashInName = false;  // a level of the local name holds "\"
};

bool StatSource(const std::string& path, const std::string& name, SourceFile& out,
                std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    out.path = path;
    out.name = name;
    out.size = static_cast<uint64_t>(st.st_size);
    out.fileTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    out.attributes = 0x20;
    if (!(st.st_mode & S_IWUSR)) out.attributes |= 0x01;
    return true;
}

// Collects the files below root (a folder given on the command line) in name order.
bool CollectFolder(const fs::path& root, const std::string& prefix, std::vector<SourceFile>& files,
                   const std::string& skipPath) {
    std::error_code ec;
    std::vector<fs::path> found;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
    if (ec) {
        std::fprintf(stderr, "vorn: %s: %s\n", root.c_str(), ec.message().c_str());
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            std::fprintf(stderr, "vorn: %s: %s\n", root.c_str(), ec.message().c_str());
            return false;
        }
        std::error_code typeError;
        auto status = it->status(typeError);  // follows links to files, not into folders
        if (it->is_symlink() && fs::is_directory(status)) continue;
        if (!fs::is_regular_file(status)) continue;
        found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    for (const fs::path& p : found) {
        std::error_code same;
        if (!skipPath.empty() && fs::equivalent(p, skipPath, same)) continue;
        std::string relative = fs::relative(p, root).generic_string();
        bool backslash = relative.find('\\') != std::string::npos;
        std::string name = prefix;
        for (char c : relative) name += c == '/' ? '\\' : c;
        SourceFile file;
        std::string error;
        if (!StatSource(p.string(), name, file, error)) {
            std::fprintf(stderr, "vorn: %s\n", error.c_str());
            return false;
        }
        // prefix is the folder's own name and the separator that ends it.
        file.backslashInName = backslash || prefix.find('\\') + 1 < prefix.size();
        files.push_back(file);
    }
    return true;
}

std::string OwnDirectory(const std::string& selfPath) {
    std::error_code ec;
    fs::path self = fs::canonical("/proc/self/exe", ec);
    if (ec) self = fs::absolute(selfPath, ec);
    return self.parent_path().string();
}

// Where the stub of a kind lives: VORN_STUB_DIR first, then the build trees beside the one this
// program was built in (build/<preset>/tools/vorn next to build/win32/sfx/vornsfx.exe).
std::optional<std::string> FindStub(const std::string& kind, const std::string& selfPath,
                                    std::vector<std::string>& tried) {
    std::vector<std::string> candidates;
    const char* leaf = kind == "windows"     ? "vornsfx.exe"
                       : kind == "windows64" ? "vornsfx64.exe"
                                             : "vornsfx";
    const char* preset = kind == "windows" ? "win32" : "win64";
    if (const char* dir = std::getenv("VORN_STUB_DIR"); dir && *dir) {
        candidates.push_back(std::string(dir) + "/" + leaf);
        if (kind != "linux") {
            candidates.push_back(std::string(dir) + "/" + preset + "/vornsfx.exe");
        }
    }
    fs::path tree = fs::path(OwnDirectory(selfPath)).parent_path();  // build/<preset>
    if (kind == "linux") {
        candidates.push_back((tree / "sfx" / "vornsfx").string());
        candidates.push_back((tree / "sfx" / "console" / "vornsfx").string());
        candidates.push_back((fs::path(OwnDirectory(selfPath)) / "vornsfx").string());
    } else {
        candidates.push_back((tree.parent_path() / preset / "sfx" / "vornsfx.exe").string());
        candidates.push_back((fs::path(OwnDirectory(selfPath)) / leaf).string());
    }
    for (const std::string& c : candidates) {
        tried.push_back(c);
        if (access(c.c_str(), R_OK) == 0) return c;
    }
    return std::nullopt;
}

bool ReadTextFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

}  // namespace

int RunPack(Options& options, const std::string& selfPath) {
    if (options.operands.size() < 2) {
        std::fprintf(stderr,
                     "vorn pack: give the archive to write and what to put in it "
                     "(see vorn pack --help)\n");
        return kExitUsage;
    }
    if (!ResolvePassword(options)) return kExitUsage;
    if (!options.encryptOnly.empty() && !options.password) {
        std::fprintf(stderr, "vorn pack: --encrypt-only needs a password (--password)\n");
        return kExitUsage;
    }
    if (options.encryptNames && !options.password) {
        std::fprintf(stderr, "vorn pack: --encrypt-names needs a password (--password)\n");
        return kExitUsage;
    }
    if (options.sfxKind && *options.sfxKind != "windows" && *options.sfxKind != "windows64" &&
        *options.sfxKind != "linux") {
        std::fprintf(stderr, "vorn pack: --sfx takes windows, windows64 or linux\n");
        return kExitUsage;
    }
    if (options.defaultDir) {
        if (!options.sfxKind && !options.sfxStub) {
            std::fprintf(stderr, "vorn pack: --default-dir is for self-extractors (--sfx)\n");
            return kExitUsage;
        }
        std::string problem = pack::BuiltInDestinationProblem(*options.defaultDir);
        if (!problem.empty()) {
            std::fprintf(stderr, "vorn pack: --default-dir: %s\n", problem.c_str());
            return kExitUsage;
        }
    }
    std::optional<std::string> comment = options.comment;
    if (options.commentFile) {
        std::string text;
        if (!ReadTextFile(*options.commentFile, text)) {
            std::fprintf(stderr, "vorn pack: cannot read comment file %s\n",
                         options.commentFile->c_str());
            return kExitUsage;
        }
        comment = text;
    }
    std::optional<std::string> stub = options.sfxStub;
    if (!stub && options.sfxKind) {
        std::vector<std::string> tried;
        stub = FindStub(*options.sfxKind, selfPath, tried);
        if (!stub) {
            std::fprintf(stderr, "vorn pack: no %s self-extractor stub found; looked at:\n",
                         options.sfxKind->c_str());
            for (const std::string& t : tried) std::fprintf(stderr, "  %s\n", t.c_str());
            std::fprintf(stderr, "build it (cmake --preset %s) or set VORN_STUB_DIR\n",
                         *options.sfxKind == "windows"     ? "win32"
                         : *options.sfxKind == "windows64" ? "win64"
                                                           : "release");
            return kExitUsage;
        }
    }
    if (stub && access(stub->c_str(), R_OK) != 0) {
        std::fprintf(stderr, "vorn pack: cannot read stub %s: %s\n", stub->c_str(),
                     std::strerror(errno));
        return kExitUsage;
    }

    const std::string outPath = options.operands[0];
    std::vector<SourceFile> files;
    for (size_t i = 1; i < options.operands.size(); ++i) {
        std::string operand = options.operands[i];
        while (operand.size() > 1 && operand.back() == '/') operand.pop_back();
        struct stat st;
        if (stat(operand.c_str(), &st) != 0) {
            std::fprintf(stderr, "vorn pack: %s: %s\n", operand.c_str(), std::strerror(errno));
            return kExitUsage;
        }
        fs::path p(operand);
        std::string top = p.filename().string();
        if (top == "." || top == ".." || top == "/" || top.empty()) top.clear();
        if (S_ISDIR(st.st_mode)) {
            if (!CollectFolder(p, top.empty() ? "" : top + "\\", files, outPath)) return kExitUsage;
        } else if (S_ISREG(st.st_mode)) {
            SourceFile file;
            std::string error;
            if (!StatSource(operand, top, file, error)) {
                std::fprintf(stderr, "vorn pack: %s\n", error.c_str());
                return kExitUsage;
            }
            file.backslashInName = top.find('\\') != std::string::npos;
            files.push_back(file);
        } else {
            std::fprintf(stderr, "vorn pack: %s: not a file or folder\n", operand.c_str());
            return kExitUsage;
        }
    }

    // Every name is checked before the first byte is written.
    bool refused = false;
    std::map<std::string, std::string> seen;
    for (const SourceFile& f : files) {
        std::string relative, reason;
        if (f.name.size() > kMaxNameBytes) {
            std::fprintf(stderr, "vorn pack: %s: name of %zu bytes; at most %zu fit\n",
                         f.path.c_str(), f.name.size(), size_t{kMaxNameBytes});
            refused = true;
        } else if (!format::IsValidUtf8(f.name.data(), f.name.size())) {
            std::fprintf(stderr,
                         "vorn pack: %s: the name is not valid UTF-8, which archives store names "
                         "as; rename the file\n",
                         Shown(f.path).c_str());
            refused = true;
        } else if (f.backslashInName) {
            std::fprintf(stderr,
                         "vorn pack: %s: the name holds a backslash, which readers take for a "
                         "folder level\n",
                         f.path.c_str());
            refused = true;
        } else if (!EntryNameToRelativePath(f.name, relative, reason)) {
            std::fprintf(stderr, "vorn pack: %s: %s\n", f.path.c_str(), reason.c_str());
            refused = true;
        } else if (f.name == kCommentName) {
            std::fprintf(stderr, "vorn pack: %s: the name %s is kept for the comment\n",
                         f.path.c_str(), kCommentName);
            refused = true;
        } else if (auto it = seen.find(f.name); it != seen.end()) {
            std::fprintf(stderr, "vorn pack: %s and %s would both be stored as %s\n",
                         it->second.c_str(), f.path.c_str(), f.name.c_str());
            refused = true;
        } else {
            seen[f.name] = f.path;
        }
    }
    if (refused) {
        std::fprintf(stderr, "vorn pack: nothing written\n");
        return kExitUsage;
    }

    std::string temp = outPath + ".partial-" + std::to_string(getpid());
    if (temp.size() < sizeof g_partialPath) {
        std::memcpy(g_partialPath, temp.c_str(), temp.size() + 1);
        signal(SIGINT, RemovePartialAndExit);
        signal(SIGTERM, RemovePartialAndExit);
    }
    pack::ArchiveWriter writer;
    bool ok = (stub ? writer.OpenWithStub(temp, *stub, options.defaultDir) : writer.Open(temp)) ==
              pack::Status::Ok;
    uint64_t total = 0;
    for (const SourceFile& f : files) total += f.size;
    ProgressBar bar(!options.quiet && StderrIsTerminal(), total, "Packing");
    writer.SetProgress([&bar](uint64_t done) { bar.SetPartial(0, done); });

    pack::EntryOptions entry;
    entry.method = options.store ? pack::Method::Stored : pack::Method::Best;
    entry.encoder.level = options.level;
    entry.password = options.password;
    for (size_t i = 0; ok && i < files.size(); ++i) {
        entry.attributes = files[i].attributes;
        entry.fileTime = files[i].fileTime;
        entry.password = options.password;
        if (!options.encryptOnly.empty()) {
            bool selected = false;
            for (const std::string& pattern : options.encryptOnly) {
                selected = selected || EntryMatchesPattern(files[i].name, pattern);
            }
            if (!selected) entry.password.reset();
        }
        ok = writer.AddFile(files[i].name, files[i].path, entry) == pack::Status::Ok;
    }
    if (ok) {
        ok = writer.Finish(comment, options.encryptNames ? options.password : std::nullopt) ==
             pack::Status::Ok;
    }
    bar.Finish();
    if (!ok) {
        std::fprintf(stderr, "vorn pack: %s\n", writer.Error().c_str());
        unlink(temp.c_str());
        return kExitUsage;
    }
    if (stub) {
        // A self-extractor is run as a program.
        struct stat st;
        if (stat(temp.c_str(), &st) == 0) chmod(temp.c_str(), st.st_mode | 0111);
    }
    if (rename(temp.c_str(), outPath.c_str()) != 0) {
        std::fprintf(stderr, "vorn pack: cannot write %s: %s\n", outPath.c_str(),
                     std::strerror(errno));
        unlink(temp.c_str());
        return kExitUsage;
    }
    if (!options.quiet) {
        struct stat st;
        uint64_t written = stat(outPath.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        std::printf("%zu file%s, %s, packed into %s (%s)\n", files.size(),
                    files.size() == 1 ? "" : "s", HumanBytes(total).c_str(), outPath.c_str(),
                    HumanBytes(written).c_str());
    }
    return kExitOk;
}

}  // namespace tool
