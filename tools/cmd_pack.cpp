// "vorn pack": makes an archive, or a self-extractor, from files and folders. Everything is
// settled before anything is written: the options, the comment, the stub, the files and their
// names, so a refusal leaves no half-made archive behind. The archive is then written beside its
// final name and renamed into place only when complete.
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "tools/commands.h"
#include "tools/entry_path.h"
#include "tools/pack_names.h"
#include "tools/pack_sources.h"
#include "tools/password.h"
#include "tools/progress_bar.h"
#include "tools/stub_lookup.h"
#include "tools/system.h"
#include "tools/texts.h"

namespace tool {

namespace {

// What a pack writes, settled before the first byte.
struct PackPlan {
    std::string outPath;
    std::optional<std::string> comment;
    std::optional<std::string> stub;
    std::vector<SourceFile> files;
    uint64_t totalBytes = 0;
};

// The options that only make sense together, and the values only some may take. Prints the
// failure and returns false.
bool OptionsFitTogether(const Options& options) {
    if (!options.encryptOnly.empty() && !options.password) {
        std::fprintf(stderr, "vorn pack: --encrypt-only needs a password (--password)\n");
        return false;
    }
    if (options.encryptNames && !options.password) {
        std::fprintf(stderr, "vorn pack: --encrypt-names needs a password (--password)\n");
        return false;
    }
    if (options.sfxKind && *options.sfxKind != "windows" && *options.sfxKind != "windows64" &&
        *options.sfxKind != "linux") {
        std::fprintf(stderr, "vorn pack: --sfx takes windows, windows64 or linux\n");
        return false;
    }
    if (!options.defaultDir) return true;
    if (!options.sfxKind && !options.sfxStub) {
        std::fprintf(stderr, "vorn pack: --default-dir is for self-extractors (--sfx)\n");
        return false;
    }
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

bool MakePackPlan(const Options& options, const std::string& selfPath, PackPlan& plan) {
    if (!OptionsFitTogether(options) || !LoadComment(options, plan.comment) ||
        !ResolveStub(options, selfPath, plan.stub)) {
        return false;
    }
    plan.outPath = options.operands[0];
    std::vector<std::string> sources(options.operands.begin() + 1, options.operands.end());
    if (!GatherSources(sources, plan.outPath, plan.files)) return false;
    if (!NamesAreStorable(plan.files)) {
        std::fprintf(stderr, "vorn pack: nothing written\n");
        return false;
    }
    for (const SourceFile& f : plan.files) plan.totalBytes += f.size;
    return true;
}

pack::EntryOptions EntryOptionsFor(const SourceFile& file, const Options& options) {
    pack::EntryOptions entry;
    entry.method = options.store ? pack::Method::Stored : pack::Method::Best;
    entry.encoder.level = options.level;
    entry.attributes = file.attributes;
    entry.fileTime = file.fileTime;
    entry.password = options.password;
    if (!options.encryptOnly.empty()) {
        bool selected = false;
        for (const std::string& pattern : options.encryptOnly) {
            selected = selected || EntryMatchesPattern(file.name, pattern);
        }
        if (!selected) entry.password.reset();
    }
    return entry;
}

// Writes the whole archive into temp; prints the failure and returns false.
bool WriteArchive(const PackPlan& plan, const Options& options, const std::string& temp) {
    pack::ArchiveWriter writer;
    bool ok = (plan.stub ? writer.OpenWithStub(temp, *plan.stub, options.defaultDir)
                         : writer.Open(temp)) == pack::Status::Ok;
    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), plan.totalBytes, "Packing");
    writer.SetProgress([&bar](uint64_t done) { bar.SetPartial(0, done); });
    std::vector<pack::ArchiveWriter::FileEntry> entries;
    for (const SourceFile& file : plan.files) {
        entries.push_back({file.name, file.path, EntryOptionsFor(file, options)});
    }
    ok = ok && writer.AddFiles(entries, JobCount(options)) == pack::Status::Ok;
    if (ok) {
        ok = writer.Finish(plan.comment, options.encryptNames ? options.password : std::nullopt) ==
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

int RunPack(Options& options, const std::string& selfPath) {
    if (options.operands.size() < 2) {
        std::fprintf(stderr,
                     "vorn pack: give the archive to write and what to put in it "
                     "(see vorn pack --help)\n");
        return kExitUsage;
    }
    if (!ResolvePassword(options)) return kExitUsage;
    PackPlan plan;
    if (!MakePackPlan(options, selfPath, plan)) return kExitUsage;
    if (!WriteInPlace(plan, options)) return kExitUsage;
    if (!options.quiet) ReportPacked(plan);
    return kExitOk;
}

}  // namespace tool
