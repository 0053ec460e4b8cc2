// Finding a self-extractor stub of a kind, and checking that the chosen stub can be read.
#include "tools/stub_lookup.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tools/system.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

std::string OwnDirectory(const std::string& selfPath) {
    std::string own = os::OwnProgramPath();
    std::error_code ec;
    fs::path self = own.empty() ? fs::absolute(os::PathOf(selfPath), ec) : os::PathOf(own);
    return os::TextOf(self.parent_path());
}

// The places a stub of a kind may lie: VORN_STUB_DIR first; then where an installation puts it,
// found from this program's own place so that a moved installation still finds it (bin/vorn
// and lib/vorn/ under one prefix, or the stubs beside vorn.exe); then the build trees beside the
// one this program was built in (build/<preset>/tools/vorn next to build/win32/sfx/vornsfx.exe).
std::vector<std::string> StubCandidates(const std::string& kind, const std::string& selfPath) {
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
    fs::path own = os::PathOf(OwnDirectory(selfPath));
    fs::path prefix = own.parent_path();  // the installation's prefix, or build/<preset>
    candidates.push_back(os::TextOf(prefix / "lib" / "vorn" / leaf));
    candidates.push_back(os::TextOf(own / leaf));
    if (kind == "linux") {
        candidates.push_back(os::TextOf(prefix / "sfx" / "vornsfx"));
        candidates.push_back(os::TextOf(prefix / "sfx" / "console" / "vornsfx"));
    } else {
        candidates.push_back(os::TextOf(prefix.parent_path() / preset / "sfx" / "vornsfx.exe"));
    }
    return candidates;
}

std::optional<std::string> FindStub(const std::string& kind, const std::string& selfPath,
                                    std::vector<std::string>& tried) {
    for (const std::string& c : StubCandidates(kind, selfPath)) {
        tried.push_back(c);
        if (os::CanRead(c)) return c;
    }
    return std::nullopt;
}

void ReportMissingStub(const std::string& kind, const std::vector<std::string>& tried) {
    std::fprintf(stderr, "vorn pack: no %s self-extractor stub found; looked at:\n", kind.c_str());
    for (const std::string& t : tried) std::fprintf(stderr, "  %s\n", t.c_str());
    std::fprintf(stderr, "build it (cmake --preset %s) or set VORN_STUB_DIR\n",
                 kind == "windows"     ? "win32"
                 : kind == "windows64" ? "win64"
                                       : "release");
}

}  // namespace

bool ResolveStub(const Options& options, const std::string& selfPath,
                 std::optional<std::string>& stub) {
    stub = options.sfxStub;
    if (!stub && options.sfxKind) {
        std::vector<std::string> tried;
        stub = FindStub(*options.sfxKind, selfPath, tried);
        if (!stub) {
            ReportMissingStub(*options.sfxKind, tried);
            return false;
        }
    }
    if (stub && !os::CanRead(*stub)) {
        std::fprintf(stderr, "vorn pack: cannot read stub %s: %s\n", stub->c_str(),
                     os::LastErrorText().c_str());
        return false;
    }
    return true;
}

}  // namespace tool
