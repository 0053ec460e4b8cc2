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

#include "format/batch_argument.h"
#include "format/container.h"
#include "format/entry_name.h"
#include "format/utf8.h"
#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "pack/solid_groups.h"
#include "pack/stub_image.h"
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
bool NameIsStorable(const SourceFile& f, format::NameRules rules,
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

// Whether every file's name can be stored and read back: not too long, UTF-8, no backslash in a
// level, none that readers following rules refuse, not the comment's name, no two files under one
// name. Prints a line for every refused name and returns false when there is any.
bool NamesAreStorable(const std::vector<SourceFile>& files, format::NameRules rules) {
    bool storable = true;
    std::map<std::string, std::string> seen;
    for (const SourceFile& f : files) storable = NameIsStorable(f, rules, seen) && storable;
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
    std::optional<std::string> password;  // -p or the password file's
    std::optional<pe::StubBranding> branding;
    std::optional<uint64_t> latestFileTime;  // SOURCE_DATE_EPOCH as a FILETIME
    std::vector<SourceFile> files;
    uint64_t totalBytes = 0;
};

// The options that only make sense together, and the values only some may take. Prints the
// failure and returns false.
bool OptionsFitTogether(const Options& options) {
    const bool password = options.password || options.passwordFile;
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
          std::pair{options.sfxOverwrite.has_value(), "--sfx-overwrite"}}) {
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
        !ResolveStub(options, selfPath, plan.stub)) {
        return false;
    }
    plan.outPath = options.operands[0];
    if (!ReadSourceDate(plan.latestFileTime)) return false;
    if (!LoadBranding(options, plan.stub, plan.outPath, plan.branding)) return false;
    plan.settings.title = options.title;
    std::vector<std::string> sources(options.operands.begin() + 1, options.operands.end());
    if (!GatherSources(sources, plan.outPath, plan.files)) return false;
    if (!NamesAreStorable(plan.files, NameRulesFor(options))) {
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
    if (!options.encryptOnly.empty()) {
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

// Writes the whole archive into temp; prints the failure and returns false.
bool WriteArchive(const PackPlan& plan, const Options& options, const std::string& temp) {
    pack::SelfExtractorImage image;
    std::string error;
    if (plan.stub && !pack::MakeSelfExtractorImage(*plan.stub, options.defaultDir, plan.settings,
                                                   plan.branding, &image, &error)) {
        std::fprintf(stderr, "vorn pack: %s\n", error.c_str());
        return false;
    }
    pack::ArchiveWriter writer;
    bool ok = writer.Open(temp, image.bytes, image.checksum ? &*image.checksum : nullptr) ==
              pack::Status::Ok;
    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), plan.totalBytes, "Packing");
    writer.SetProgress([&bar](uint64_t done) { bar.SetPartial(0, done); });
    std::vector<pack::ArchiveWriter::FileEntry> entries;
    for (const SourceFile& file : plan.files) {
        entries.push_back({file.name, file.path, EntryOptionsFor(file, plan, options)});
    }
    ok = ok && AddEntries(writer, entries, plan, PacksSolid(options), JobCount(options));
    if (ok) {
        ok = writer.Finish(plan.comment, options.encryptNames ? plan.password : std::nullopt) ==
             pack::Status::Ok;
    }
    bar.Finish();
    if (!ok) std::fprintf(stderr, "vorn pack: %s\n", writer.Error().c_str());
    return ok;
}

// Writes the archive beside its final name and renames it into place; an interrupt removes the
// unfinished file. Prints the failure and returns false.
bool WriteInPlace(const PackPlan& plan, const Options& options) {
    std::string temp = plan.outPath + ".partial-" + std::to_string(os::ProcessId());
    os::RemoveOnInterrupt(temp);
    if (!WriteArchive(plan, options, temp)) {
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
    if (!GivenPassword(options, plan.password) || !MakePackPlan(options, selfPath, plan)) {
        return kExitUsage;
    }
    if (!WriteInPlace(plan, options)) return kExitUsage;
    if (!options.quiet) ReportPacked(plan);
    return kExitOk;
}

}  // namespace tool
