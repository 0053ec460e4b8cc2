// "vorn pack": makes an archive, or a self-extractor, from files and folders. Everything is
// settled before anything is written: the options, the comment, the stub, the files and their
// names, so a refusal leaves no half-made archive behind. The archive is then written beside its
// final name and renamed into place only when complete.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/secure_memory.h"
#include "crypto/sha256.h"
#include "format/batch_argument.h"
#include "format/byte_order.h"
#include "format/container.h"
#include "format/entry_name.h"
#include "format/known_folder.h"
#include "format/utf8.h"
#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "pack/solid_groups.h"
#include "pack/stub_image.h"
#include "pe/pe_image.h"
#include "tools/archive_session.h"
#include "tools/options.h"
#include "tools/output.h"
#include "tools/pack_branding.h"
#include "tools/system.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

using format::kCommentName;
using format::kMaxNameBytes;

// The files: found on disk, each with the name it gets in the archive and the facts its record
// keeps.

struct SourceFile {
    std::string path;  // on disk
    std::string name;  // in the archive, "\" between levels
    uint64_t size = 0;
    uint64_t fileTime = 0;
    uint16_t attributes = format::kAttributeArchive;
    bool backslashInName = false;  // a level of the local name holds "\"
};

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
        // The name the walk found, never what a link leads to: fs::relative resolves links (a
        // link to a file beside it would take that file's name) and costs a dozen calls a file.
        std::string relative = os::GenericTextOf(p.lexically_relative(root));
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

// The files of the operands (files, or folders stored under their own name; "." stores its
// contents), leaving out the archive being written at outPath. Prints the failure and returns
// false.
bool GatherSources(const std::vector<std::string>& operands, const std::string& outPath,
                   std::vector<SourceFile>& files) {
    for (const std::string& operand : operands) {
        if (!GatherOperand(operand, outPath, files)) return false;
    }
    return true;
}

// The names, all checked before the first byte is written, so that a refused name leaves no
// half-made archive behind.

// Prints why the file's name cannot be stored and returns false; names stored so far are in
// seen (name -> path), which takes this one when it passes.
bool NameIsStorable(const SourceFile& f, format::NameRules rules, bool license,
                    std::map<std::string, std::string>& seen) {
    format::EntryNameVerdict verdict = format::CheckEntryName(f.name.c_str(), rules);
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
    } else if (verdict != format::EntryNameVerdict::Safe) {
        std::fprintf(stderr, "vorn pack: %s: %s; readers refuse it\n", f.path.c_str(),
                     format::EntryNameReason(verdict));
    } else if (f.name == kCommentName || (license && f.name == format::kLicenseName)) {
        std::fprintf(stderr, "vorn pack: %s: the name %s is kept for the %s\n", f.path.c_str(),
                     f.name.c_str(), f.name == kCommentName ? "comment" : "licence");
    } else if (auto it = seen.find(f.name); it != seen.end()) {
        std::fprintf(stderr, "vorn pack: %s and %s would both be stored as %s\n",
                     it->second.c_str(), f.path.c_str(), f.name.c_str());
    } else {
        seen[f.name] = f.path;
        return true;
    }
    return false;
}

// Whether every file's name can be stored and read back: not too long, UTF-8, no backslash in a
// level, none that readers following rules refuse, not the comment's name (nor the licence's, when
// one is packed), no two files under one name. Prints a line for every refused name and returns
// false when there is any.
bool NamesAreStorable(const std::vector<SourceFile>& files, format::NameRules rules, bool license) {
    bool storable = true;
    std::map<std::string, std::string> seen;
    for (const SourceFile& f : files) {
        storable = NameIsStorable(f, rules, license, seen) && storable;
    }
    return storable;
}

// The rule of the readers an archive is for: Windows's for a Windows self-extractor and for
// whatever vorn.exe packs; the portable one for a Linux self-extractor and a plain archive made
// on Linux, whose files (an "aux.c", say) may well be meant for Linux alone.
format::NameRules NameRulesFor(const Options& options) {
    bool forWindows = options.sfxKind && options.sfxKind->rfind("windows", 0) == 0;
    return forWindows ? format::NameRules::Windows : format::kNativeNameRules;
}

// The stub: the one --sfx-stub names, or the one of the --sfx kind found in $VORN_STUB_DIR,
// beside the tool or in the build trees.

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

// Sets stub to the stub to use (nullopt for a plain archive). selfPath is how this program was
// started. Prints the failure (with the places looked at) and returns false.
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

// The archive: planned, written beside its final name and renamed into place.

// What a pack writes, settled before the first byte.
struct PackPlan {
    std::string outPath;
    std::optional<std::string> comment;
    std::optional<std::string> stub;
    pack::SfxPackSettings settings;       // the self-extractor's settings chosen at packing
    std::optional<std::string> license;   // --license: the text of the licence entry
    std::optional<std::string> password;  // -p or the password file's
    std::optional<pe::StubBranding> branding;
    std::optional<uint64_t> latestFileTime;  // SOURCE_DATE_EPOCH as a FILETIME
    std::vector<SourceFile> files;
    uint64_t totalBytes = 0;
};

bool Sealed(const Options& options) {
    return options.cipher.value_or("chacha20") == "chacha20";
}

// A sealed archive has every entry sealed, so it cannot keep some plain as --encrypt-only asks:
// sealing them all would give the caller more than asked, but a file meant to be readable without
// the password would then not be; the first scheme still does what was asked. Prints the failure.
bool CipherFits(const Options& options, bool password) {
    if (options.cipher && !password) {
        std::fprintf(stderr, "vorn pack: --cipher needs a password (--password)\n");
        return false;
    }
    if (!options.encryptOnly.empty() && password && Sealed(options)) {
        std::fprintf(stderr,
                     "vorn pack: --encrypt-only leaves entries plain, which a sealed archive "
                     "never holds; seal them all (leave --encrypt-only out) or add --cipher "
                     "blowfish for the first scheme\n");
        return false;
    }
    return true;
}

// The password a pack uses: never empty, which would be the first guess of anyone. Prints why.
bool PackPasswordUsable(const std::optional<std::string>& password) {
    if (!password || !password->empty()) return true;
    std::fprintf(stderr, "vorn pack: the password is empty; give one or leave --password out\n");
    return false;
}

// The options that only make sense together, and the values only some may take. Prints the
// failure and returns false.
bool OptionsFitTogether(const Options& options) {
    const bool password = options.password || options.askPassword || options.passwordFile;
    if (!CipherFits(options, password)) return false;
    if (!options.encryptOnly.empty() && !password) {
        std::fprintf(stderr, "vorn pack: --encrypt-only needs a password (--password)\n");
        return false;
    }
    if (options.encryptNames && !password) {
        std::fprintf(stderr, "vorn pack: --encrypt-names needs a password (--password)\n");
        return false;
    }
    if (options.sfxKind && *options.sfxKind != "windows" && *options.sfxKind != "windows64" &&
        *options.sfxKind != "linux") {
        std::fprintf(stderr, "vorn pack: --sfx takes windows, windows64 or linux\n");
        return false;
    }
    const bool sfx = options.sfxKind || options.sfxStub;
    for (const auto& [given, name] :
         {std::pair{options.defaultDir.has_value(), "--default-dir"},
          std::pair{options.sfxRun.has_value(), "--run"},
          std::pair{options.sfxTemporary, "--temporary"},
          std::pair{options.sfxOverwrite.has_value(), "--sfx-overwrite"},
          std::pair{options.licenseFile.has_value(), "--license"},
          std::pair{options.payloadBeside, "--payload-beside"}}) {
        if (given && !sfx) {
            std::fprintf(stderr, "vorn pack: %s is for self-extractors (--sfx)\n", name);
            return false;
        }
    }
    if (options.solid.value_or(false) && (options.store || options.level.value_or(3) < 3)) {
        std::fprintf(stderr,
                     "vorn pack: --solid packs at level 3; it takes no --store or "
                     "lower --level\n");
        return false;
    }
    if (options.sfxTemporary && !options.sfxRun) {
        std::fprintf(stderr, "vorn pack: --temporary needs a program to run (--run)\n");
        return false;
    }
    if (!options.defaultDir) return true;
    std::string problem = pack::BuiltInDestinationProblem(*options.defaultDir);
    if (!problem.empty()) {
        std::fprintf(stderr, "vorn pack: --default-dir: %s\n", problem.c_str());
        return false;
    }
    return true;
}

// The system whose self-extractor reads the built-in destination: the kind's, or for a stub
// given by path, Windows when it is a program image ("MZ").
format::FolderSystem StubSystem(const Options& options, const std::string& stub) {
    if (options.sfxKind) {
        return *options.sfxKind == "linux" ? format::FolderSystem::Posix
                                           : format::FolderSystem::Windows;
    }
    std::ifstream in(os::PathOf(stub), std::ios::binary);
    char head[2] = {};
    in.read(head, 2);
    return head[0] == 'M' && head[1] == 'Z' ? format::FolderSystem::Windows
                                            : format::FolderSystem::Posix;
}

// A known folder at the start of --default-dir must be one the self-extractor's system has
// (format/known_folder.h). Prints the failure and returns false.
bool DefaultDirFolderIsKnown(const Options& options, const std::string& stub) {
    if (!options.defaultDir) return true;
    const std::string& text = *options.defaultDir;
    const bool windows = StubSystem(options, stub) == format::FolderSystem::Windows;
    format::KnownFolderPrefix prefix;
    switch (format::ParseKnownFolder(
        text.data(), text.size(),
        windows ? format::FolderSystem::Windows : format::FolderSystem::Posix, &prefix)) {
        case format::KnownFolderParse::Literal:
        case format::KnownFolderParse::Known:
            return true;
        case format::KnownFolderParse::NoSeparator:
            std::fprintf(stderr,
                         "vorn pack: --default-dir: %s: a known folder must be followed by a "
                         "separator or nothing\n",
                         text.c_str());
            return false;
        case format::KnownFolderParse::Unknown:
            break;
    }
    std::fprintf(stderr,
                 "vorn pack: --default-dir: %s does not start with a known folder of a %s "
                 "self-extractor; known are %s\n",
                 text.c_str(), windows ? "Windows" : "Linux",
                 windows ? "%ProgramFiles%, %ProgramFiles(x86)%, %LocalAppData%, %AppData%, "
                           "%UserProfile%, %Temp%"
                         : "~, $HOME, $XDG_DATA_HOME");
    return false;
}

bool ReadTextFile(const std::string& path, std::string& text) {
    std::ifstream in(os::PathOf(path), std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

bool LoadComment(const Options& options, std::optional<std::string>& comment) {
    comment = options.comment;
    if (!options.commentFile) return true;
    std::string text;
    if (!ReadTextFile(*options.commentFile, text)) {
        std::fprintf(stderr, "vorn pack: cannot read comment file %s\n",
                     options.commentFile->c_str());
        return false;
    }
    comment = text;
    return true;
}

// The licence a self-extractor has accepted first: UTF-8 text of 1 byte to 1 MiB, checked here so
// that a refusal writes nothing. Prints the failure and returns false.
bool LoadLicense(const Options& options, PackPlan& plan) {
    if (!options.licenseFile) return true;
    std::string text;
    os::PathFacts facts;
    // A file far too large is refused by its size alone, before it is read into memory.
    bool tooLarge =
        os::StatPath(*options.licenseFile, facts) && facts.size > format::kMaxLicenseBytes;
    if (tooLarge) text.assign(format::kMaxLicenseBytes + 1, ' ');
    if (!tooLarge && !ReadTextFile(*options.licenseFile, text)) {
        std::fprintf(stderr, "vorn pack: cannot read licence file %s\n",
                     options.licenseFile->c_str());
        return false;
    }
    std::string problem = pack::LicenseProblem(text);
    if (!problem.empty()) {
        std::fprintf(stderr, "vorn pack: --license %s: %s\n", Shown(*options.licenseFile).c_str(),
                     problem.c_str());
        return false;
    }
    plan.license = std::move(text);
    plan.settings.license = true;
    return true;
}

// Reproducible builds set SOURCE_DATE_EPOCH (seconds since 1970) to the time of their sources; no
// stored file time is then later than it, so packing the same files gives the same bytes however
// recently they were touched. Prints the failure and returns false.
bool ReadSourceDate(std::optional<uint64_t>& latest) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') return true;
    int64_t seconds = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || seconds > (int64_t{1} << 40)) {
            std::fprintf(stderr, "vorn pack: SOURCE_DATE_EPOCH is not a number of seconds: %s\n",
                         text);
            return false;
        }
        seconds = seconds * 10 + (*c - '0');
    }
    latest = FileTimeFromUnix(seconds, 0);
    return true;
}

// A batch program runs through cmd.exe, which would read some characters of its arguments as
// commands of their own (format/batch_argument.h): such a line is refused. Prints why.
bool BatchRunLineIsSafe(const std::string& line, const std::string& program) {
    if (!format::IsBatchProgram(program.c_str())) return true;
    std::vector<char> word(line.size() + 1);
    size_t offset = 0;
    if (!format::NextProgramWord(line.data(), line.size(), &offset, word.data(), word.size()) ||
        format::BatchLineIsSafe(line.data(), line.size(), offset)) {
        return true;
    }
    std::fprintf(stderr,
                 "vorn pack: --run: %s is a batch file, run by cmd.exe, and its arguments hold a "
                 "character cmd.exe reads for itself (%s, or a quote left open)\n",
                 program.c_str(), format::kBatchCharacters);
    return false;
}

// The settings block: the program must be an entry of this archive whose name stays inside the
// extraction folder. Prints the failure and returns false.
bool SettleSfxSettings(const Options& options, PackPlan& plan) {
    pack::SfxPackSettings& settings = plan.settings;
    settings.temporary = options.sfxTemporary;
    settings.overwrite = options.sfxOverwrite;
    if (!options.sfxRun) return true;
    std::string name, error;
    if (!pack::ProgramEntryName(*options.sfxRun, &name, &error)) {
        std::fprintf(stderr, "vorn pack: --run: %s\n", error.c_str());
        return false;
    }
    format::EntryNameVerdict verdict =
        format::CheckEntryName(name.c_str(), format::NameRules::Portable);
    if (verdict != format::EntryNameVerdict::Safe) {
        std::fprintf(stderr, "vorn pack: --run: %s could lead outside the folder (%s)\n",
                     name.c_str(), format::EntryNameReason(verdict));
        return false;
    }
    if (!BatchRunLineIsSafe(*options.sfxRun, name)) return false;
    bool found = false;
    for (const SourceFile& f : plan.files) found = found || f.name == name;
    if (!found) {
        std::fprintf(stderr, "vorn pack: --run: no entry is named %s\n", name.c_str());
        return false;
    }
    settings.run = *options.sfxRun;
    std::vector<uint8_t> block;
    if (!pack::EncodeSfxSettings(settings, block, &error)) {
        std::fprintf(stderr, "vorn pack: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool MakePackPlan(const Options& options, const std::string& selfPath, PackPlan& plan) {
    if (!OptionsFitTogether(options) || !LoadComment(options, plan.comment) ||
        !ResolveStub(options, selfPath, plan.stub) || !LoadLicense(options, plan)) {
        return false;
    }
    plan.outPath = options.operands[0];
    if (plan.stub && !DefaultDirFolderIsKnown(options, *plan.stub)) return false;
    if (!ReadSourceDate(plan.latestFileTime)) return false;
    if (!LoadBranding(options, plan.stub, plan.outPath, plan.branding)) return false;
    plan.settings.title = options.title;
    std::vector<std::string> sources(options.operands.begin() + 1, options.operands.end());
    if (!GatherSources(sources, plan.outPath, plan.files)) return false;
    if (!NamesAreStorable(plan.files, NameRulesFor(options), plan.license.has_value())) {
        std::fprintf(stderr, "vorn pack: nothing written\n");
        return false;
    }
    for (const SourceFile& f : plan.files) plan.totalBytes += f.size;
    return SettleSfxSettings(options, plan);
}

pack::EntryOptions EntryOptionsFor(const SourceFile& file, const PackPlan& plan,
                                   const Options& options) {
    pack::EntryOptions entry;
    entry.method = options.store ? pack::Method::Stored : pack::Method::Best;
    // A self-extractor's own stub reads LZ blocks; a plain archive may meet an older reader, and
    // a stub given by path may be an older one.
    entry.encoder.level =
        options.level.value_or(options.sfxKind || PacksSolid(options) ? encoder::kLzLevel : 2);
    entry.attributes = file.attributes;
    entry.fileTime =
        plan.latestFileTime ? std::min(file.fileTime, *plan.latestFileTime) : file.fileTime;
    entry.password = plan.password;
    if (!options.encryptOnly.empty() && !Sealed(options)) {
        bool selected = false;
        for (const std::string& pattern : options.encryptOnly) {
            selected = selected || EntryMatchesPattern(file.name, pattern);
        }
        if (!selected) entry.password.reset();
    }
    return entry;
}

// The entries as they are, or, solid, the ones that stand alone first and then the groups.
bool AddEntries(pack::ArchiveWriter& writer,
                const std::vector<pack::ArchiveWriter::FileEntry>& entries, const PackPlan& plan,
                bool solid, unsigned jobs) {
    if (!solid) return writer.AddFiles(entries, jobs) == pack::Status::Ok;
    std::vector<pack::GroupCandidate> candidates;
    for (size_t i = 0; i < entries.size(); ++i) {
        candidates.push_back(
            {entries[i].name, plan.files[i].size, entries[i].options.password.has_value()});
    }
    pack::GroupPlan groups = pack::ChooseSolidGroups(candidates);
    std::vector<pack::ArchiveWriter::FileEntry> alone;
    for (size_t i : groups.alone) alone.push_back(entries[i]);
    std::vector<std::vector<pack::ArchiveWriter::FileEntry>> grouped;
    for (const std::vector<size_t>& group : groups.groups) {
        grouped.emplace_back();
        for (size_t i : group) grouped.back().push_back(entries[i]);
    }
    return writer.AddFiles(alone, jobs) == pack::Status::Ok &&
           writer.AddSolidGroups(grouped, jobs) == pack::Status::Ok;
}

// Writes the whole archive into temp, behind the self-extractor's program unless the archive
// goes beside it; prints the failure and returns false.
bool WriteArchive(const PackPlan& plan, const Options& options, const std::string& temp) {
    pack::SelfExtractorImage image;
    std::string error;
    const bool program = plan.stub && !options.payloadBeside;
    if (program && !pack::MakeSelfExtractorImage(*plan.stub, options.defaultDir, plan.settings,
                                                 plan.branding, &image, &error)) {
        std::fprintf(stderr, "vorn pack: %s\n", error.c_str());
        return false;
    }
    pack::ArchiveWriter writer;
    if (plan.password && Sealed(options)) {
        pack::SealOptions seal;  // the default parameters and a fresh salt
        seal.password = *plan.password;
        writer.SetSealing(std::move(seal));
    }
    bool ok = writer.Open(temp, image.bytes, image.checksum ? &*image.checksum : nullptr) ==
              pack::Status::Ok;
    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), plan.totalBytes, "Packing");
    writer.SetProgress([&bar](uint64_t done) { bar.SetPartial(0, done); });
    std::vector<pack::ArchiveWriter::FileEntry> entries;
    for (const SourceFile& file : plan.files) {
        entries.push_back({file.name, file.path, EntryOptionsFor(file, plan, options)});
    }
    ok = ok && AddEntries(writer, entries, plan, PacksSolid(options) && !plan.password,
                          JobCount(options));
    if (ok && plan.license) {
        // Never enciphered: the licence is shown before any password is asked for.
        pack::EntryOptions text;
        text.method = options.store ? pack::Method::Stored : pack::Method::Best;
        text.encoder.level = options.level.value_or(encoder::kLzLevel);
        text.fileTime = plan.latestFileTime.value_or(0);
        const std::vector<uint8_t> bytes(plan.license->begin(), plan.license->end());
        ok = writer.AddEntry(format::kLicenseName, bytes, text) == pack::Status::Ok;
    }
    if (ok) {
        ok = writer.Finish(plan.comment, options.encryptNames ? plan.password : std::nullopt) ==
             pack::Status::Ok;
    }
    bar.Finish();
    if (!ok) std::fprintf(stderr, "vorn pack: %s\n", writer.Error().c_str());
    return ok;
}

// Windows starts no program file of 4 GiB or more; one rule for every kind keeps a package the
// same shape whichever system it is for. Prints the failure and returns false.
bool FitsOneProgramFile(const PackPlan& plan, const std::string& temp) {
    os::PathFacts written;
    if (!plan.stub || !os::StatPath(temp, written) || !pack::SelfExtractorTooLarge(written.size)) {
        return true;
    }
    std::fprintf(stderr,
                 "vorn pack: the self-extractor would be %s; a program file must stay under "
                 "4 GiB, so nothing was written: keep the archive beside it with "
                 "--payload-beside\n",
                 HumanBytes(written.size).c_str());
    return false;
}

// Writes the archive beside its final name and renames it into place; an interrupt removes the
// unfinished file. Prints the failure and returns false.
bool WriteInPlace(const PackPlan& plan, const Options& options) {
    std::string temp = plan.outPath + ".partial-" + std::to_string(os::ProcessId());
    os::RemoveOnInterrupt(temp);
    if (!WriteArchive(plan, options, temp) || !FitsOneProgramFile(plan, temp)) {
        os::RemoveFile(temp);
        return false;
    }
    if (plan.stub) os::MakeExecutable(temp);  // a self-extractor is run as a program
    if (!os::RenameFile(temp, plan.outPath)) {
        std::fprintf(stderr, "vorn pack: cannot write %s: %s\n", plan.outPath.c_str(),
                     os::LastErrorText().c_str());
        os::RemoveFile(temp);
        return false;
    }
    return true;
}

// The archive's file beside the program: the program's name with ".vorn" for its extension.
std::string BesidePath(const std::string& outPath) {
    fs::path path = os::PathOf(outPath);
    path.replace_extension(".vorn");
    return os::TextOf(path);
}

// The size and SHA-256 of the archive written at path, read back in slices of bounded size.
bool HashArchive(const std::string& path, pack::SfxPackSettings& settings) {
    std::ifstream in(os::PathOf(path), std::ios::binary);
    std::vector<char> slice(1 << 20);
    Sha256 sha;
    settings.besideSize = 0;
    while (in) {
        in.read(slice.data(), static_cast<std::streamsize>(slice.size()));
        const auto got = static_cast<size_t>(in.gcount());
        sha.Update(slice.data(), got);
        settings.besideSize += got;
    }
    if (!in.eof()) return false;
    settings.besideHash.assign(kSha256Bytes, 0);
    sha.Final(settings.besideHash.data());
    return true;
}

// The program alone, its settings naming the archive beside it, with its image checksum.
bool WriteBesideProgram(const PackPlan& plan, const Options& options,
                        const pack::SfxPackSettings& settings, const std::string& temp) {
    pack::SelfExtractorImage image;
    std::string error;
    if (!pack::MakeSelfExtractorImage(*plan.stub, options.defaultDir, settings, plan.branding,
                                      &image, &error)) {
        std::fprintf(stderr, "vorn pack: %s\n", error.c_str());
        return false;
    }
    if (image.checksum) {
        const size_t field = image.checksum->Field();
        format::StoreLE32(image.bytes.data() + field,
                          pe::ComputePeChecksum(image.bytes.data(), image.bytes.size(), field));
    }
    std::ofstream out(os::PathOf(temp), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.bytes.data()),
              static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) std::fprintf(stderr, "vorn pack: cannot write %s\n", temp.c_str());
    return static_cast<bool>(out);
}

// --payload-beside: the archive into OUT.vorn, then the program into OUT holding its size and
// SHA-256; both written beside their final names and renamed into place, the archive first.
bool WriteBeside(const PackPlan& plan, const Options& options) {
    const std::string archivePath = BesidePath(plan.outPath);
    if (archivePath == plan.outPath) {
        std::fprintf(stderr,
                     "vorn pack: --payload-beside: %s already ends in .vorn, the "
                     "archive's name beside it\n",
                     plan.outPath.c_str());
        return false;
    }
    const std::string suffix = ".partial-" + std::to_string(os::ProcessId());
    const std::string archiveTemp = archivePath + suffix, programTemp = plan.outPath + suffix;
    os::RemoveOnInterrupt(archiveTemp);
    pack::SfxPackSettings settings = plan.settings;
    settings.besideName = os::TextOf(os::PathOf(archivePath).filename());
    bool ok = WriteArchive(plan, options, archiveTemp) && HashArchive(archiveTemp, settings) &&
              WriteBesideProgram(plan, options, settings, programTemp);
    if (ok) os::MakeExecutable(programTemp);
    for (const auto& [temp, path] :
         {std::pair{archiveTemp, archivePath}, std::pair{programTemp, plan.outPath}}) {
        if (ok && !os::RenameFile(temp, path)) {
            std::fprintf(stderr, "vorn pack: cannot write %s: %s\n", path.c_str(),
                         os::LastErrorText().c_str());
            ok = false;
        }
        if (!ok) os::RemoveFile(temp);
    }
    return ok;
}

void ReportPacked(const PackPlan& plan) {
    os::PathFacts written;
    uint64_t writtenBytes = os::StatPath(plan.outPath, written) ? written.size : 0;
    std::printf("%zu file%s, %s, packed into %s (%s)\n", plan.files.size(),
                plan.files.size() == 1 ? "" : "s", HumanBytes(plan.totalBytes).c_str(),
                plan.outPath.c_str(), HumanBytes(writtenBytes).c_str());
}

}  // namespace

int RunPack(const Options& options, const std::string& selfPath) {
    if (options.operands.size() < 2) {
        std::fprintf(stderr,
                     "vorn pack: give the archive to write and what to put in it "
                     "(see vorn pack --help)\n");
        return kExitUsage;
    }
    PackPlan plan;
    PasswordWiper wipePassword(plan.password);
    if (!GivenPassword(options, plan.password, true) || !PackPasswordUsable(plan.password) ||
        !MakePackPlan(options, selfPath, plan)) {
        return kExitUsage;
    }
    if (plan.password && !Sealed(options)) {
        std::fprintf(stderr,
                     "vorn pack: warning: --cipher blowfish hides the contents from a casual look "
                     "but does not resist password guessing, and sizes, times and checksums stay "
                     "readable\n");
    }
    const bool written =
        options.payloadBeside ? WriteBeside(plan, options) : WriteInPlace(plan, options);
    if (!written) return kExitUsage;
    if (!options.quiet) ReportPacked(plan);
    return kExitOk;
}

}  // namespace tool
