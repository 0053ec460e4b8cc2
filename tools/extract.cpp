// "vorn extract": writes the archive's entries (or those matching the given names and patterns)
// below one folder. A plan is made first on one thread: names are checked, every overwrite
// question is asked, the password is settled. Then workers, each with its own archive handle,
// extract the planned entries in parallel. Last, entries that failed for want of the right
// password get another chance on a terminal, and every failure and the totals are reported.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "format/container.h"
#include "format/entry_name.h"
#include "format/status.h"
#include "platform/output_file.h"
#include "tools/archive_session.h"
#include "tools/entry_workers.h"
#include "tools/options.h"
#include "tools/output.h"
#include "tools/system.h"

namespace tool {

namespace {

struct ExtractPlan {
    std::vector<PlannedEntry> entries;  // in directory order; of equal targets, the one that wins
    uint64_t failed = 0;   // entries refused while planning, and patterns that match nothing
    uint64_t skipped = 0;  // existing files kept
};

// The path below the destination of a name the rule accepts: its levels joined with "/", the "."
// and empty ones left out.
std::string RelativePathOf(const std::string& name) {
    std::string relative, level;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !format::IsEntrySeparator(name[i])) {
            level += name[i];
            continue;
        }
        if (!level.empty() && level != ".") relative += (relative.empty() ? "" : "/") + level;
        level.clear();
    }
    return relative;
}

enum class Answer { Yes, No, All, Never, Quit };

Answer AskOverwrite(const std::string& target) {
    for (;;) {
        char c = AskChoice(target + " exists. Overwrite? [y]es, [n]o, [a]ll, n[e]ver, [q]uit: ");
        switch (c) {
            case 'y':
                return Answer::Yes;
            case 'n':
                return Answer::No;
            case 'a':
                return Answer::All;
            case 'e':
                return Answer::Never;
            case 'q':
            case 0:
                return Answer::Quit;
            default:
                break;
        }
    }
}

// What becomes of an entry whose target exists.
enum class Existing { Overwrite, Keep, Refuse, Quit };

class Planner {
  public:
    Planner(const std::vector<std::string>& patterns, const std::string& root,
            format::SfxOverwrite policy, bool interactive, bool quiet,
            const std::vector<uint64_t>& unreadableNames, bool skipLicense)
        : patterns_(patterns),
          unreadableNames_(unreadableNames.begin(), unreadableNames.end()),
          patternUsed_(patterns.size(), false),
          root_(root),
          policy_(policy),
          interactive_(interactive),
          quiet_(quiet),
          skipLicense_(skipLicense) {}

    // Plans one entry of the directory; false once the user chose to quit.
    bool Consider(uint64_t index, const DirectoryEntry& info);
    ExtractPlan Finish();

  private:
    bool Selected(const std::string& name);
    Existing DecideAboutExisting(const std::string& target);
    Existing Ask(const std::string& target);

    bool RefusedUnread(uint64_t index);

    const std::vector<std::string>& patterns_;
    const std::set<uint64_t> unreadableNames_;
    std::vector<bool> patternUsed_;
    const std::string& root_;
    format::SfxOverwrite policy_;
    const bool interactive_;
    const bool quiet_;
    const bool skipLicense_;  // a self-extractor's packed licence is no file
    std::vector<PlannedEntry> entries_;
    std::vector<bool> superseded_;            // a later entry of the same target replaces it
    std::map<std::string, size_t> byTarget_;  // target -> index in entries_
    uint64_t failed_ = 0;
    uint64_t skipped_ = 0;
    bool quit_ = false;
};

// Every pattern that matches counts as used, even when an earlier one selected the entry.
bool Planner::Selected(const std::string& name) {
    if (patterns_.empty()) return true;
    bool selected = false;
    for (size_t i = 0; i < patterns_.size(); ++i) {
        if (EntryMatchesPattern(name, patterns_[i])) {
            patternUsed_[i] = true;
            selected = true;
        }
    }
    return selected;
}

Existing Planner::Ask(const std::string& target) {
    switch (AskOverwrite(target)) {
        case Answer::Yes:
            return Existing::Overwrite;
        case Answer::No:
            return Existing::Keep;
        case Answer::All:
            policy_ = format::SfxOverwrite::Always;
            return Existing::Overwrite;
        case Answer::Never:
            policy_ = format::SfxOverwrite::Never;
            return Existing::Keep;
        case Answer::Quit:
            break;
    }
    return Existing::Quit;
}

Existing Planner::DecideAboutExisting(const std::string& target) {
    if (policy_ == format::SfxOverwrite::Always) return Existing::Overwrite;
    if (policy_ == format::SfxOverwrite::Never) return Existing::Keep;
    if (interactive_) return Ask(target);
    std::fprintf(stderr, "vorn: %s exists; not overwritten (use --overwrite or --skip-existing)\n",
                 target.c_str());
    return Existing::Refuse;
}

// An entry whose name could not be read matches no pattern; without patterns it is refused
// alone, by its index, and the others are extracted.
bool Planner::RefusedUnread(uint64_t index) {
    if (unreadableNames_.count(index) == 0) return false;
    if (patterns_.empty()) {
        std::fprintf(stderr,
                     "vorn: refused entry %llu: its name is longer than 255 bytes or cut short\n",
                     static_cast<unsigned long long>(index));
        ++failed_;
    }
    return true;
}

bool Planner::Consider(uint64_t index, const DirectoryEntry& info) {
    if (RefusedUnread(index)) return true;
    std::string name = info.name;
    if (name == format::kCommentName || !Selected(name)) return true;
    if (skipLicense_ && name == format::kLicenseName) return true;
    PlannedEntry entry{&info, index, {}, 0, {}};
    format::EntryNameVerdict verdict = format::CheckEntryName(info.name, format::kNativeNameRules);
    if (verdict != format::EntryNameVerdict::Safe) {
        std::fprintf(stderr, "vorn: refused %s: %s\n", Shown(name).c_str(),
                     RefusedNameText(verdict).c_str());
        ++failed_;
        return true;
    }
    entry.target = root_ + "/" + RelativePathOf(name);
    entry.relativeStart = root_.size() + 1;
    auto earlier = byTarget_.find(entry.target);
    os::PathFacts facts;
    bool onDisk = earlier == byTarget_.end() && os::StatPathItself(entry.target, facts);
    if (onDisk && facts.kind == os::PathKind::Folder) {
        std::fprintf(stderr, "vorn: %s: a folder of that name exists at %s\n", Shown(name).c_str(),
                     Shown(entry.target).c_str());
        ++failed_;
        return true;
    }
    if (onDisk || earlier != byTarget_.end()) {
        Existing decision = DecideAboutExisting(entry.target);
        if (decision == Existing::Quit) {
            quit_ = true;
            return false;
        }
        if (decision == Existing::Refuse) ++failed_;
        if (decision == Existing::Keep) {
            if (!quiet_) std::printf("skipped %s\n", Shown(name).c_str());
            ++skipped_;
        }
        if (decision != Existing::Overwrite) return true;
        if (earlier != byTarget_.end()) superseded_[earlier->second] = true;
    }
    byTarget_[entry.target] = entries_.size();
    entries_.push_back(entry);
    superseded_.push_back(false);
    return true;
}

ExtractPlan Planner::Finish() {
    ExtractPlan plan;
    for (size_t i = 0; i < patterns_.size() && !quit_; ++i) {
        if (!patternUsed_[i]) {
            std::fprintf(stderr, "vorn: no entry matches %s\n", patterns_[i].c_str());
            ++failed_;
        }
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!superseded_[i]) plan.entries.push_back(entries_[i]);
    }
    plan.failed = failed_;
    plan.skipped = skipped_;
    return plan;
}

// Plans the extraction of entries below root, printing a line for every entry refused or
// skipped. When the user chooses to quit at an overwrite question, the plan holds what was
// planned before.
ExtractPlan MakeExtractPlan(const std::vector<DirectoryEntry>& entries,
                            const std::vector<uint64_t>& unreadableNames,
                            const std::vector<std::string>& patterns, const std::string& root,
                            format::SfxOverwrite policy, bool interactive, bool quiet,
                            bool skipLicense) {
    Planner planner(patterns, root, policy, interactive, quiet, unreadableNames, skipLicense);
    for (uint64_t i = 0; i < entries.size(); ++i) {
        if (!planner.Consider(i, entries[i])) break;
    }
    return planner.Finish();
}

// A failure a different password may mend: the library's answer about an enciphered entry.
bool IsPasswordFailure(const EntryOutcome& outcome, bool encrypted) {
    using format::Status;
    return encrypted && outcome.failure == ToolFailure::None &&
           (format::MeansWrongPassword(outcome.status) || outcome.status == Status::PasswordNeeded);
}

// Creates the destination folder as needed and opens it for the run; root receives it without
// trailing slashes. Prints the failure and returns false.
bool PrepareDestination(const std::string& outputDir, std::string& root,
                        platform::OutputRoot& output) {
    std::error_code ec;
    std::filesystem::create_directories(os::PathOf(outputDir), ec);
    os::PathFacts facts;
    if (!os::StatPath(outputDir, facts) || facts.kind != os::PathKind::Folder ||
        platform::OpenOutputRoot(outputDir.c_str(), &output) != platform::OutputResult::Ok) {
        std::fprintf(stderr, "vorn: cannot use %s as destination folder\n", outputDir.c_str());
        return false;
    }
    root = outputDir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return true;
}

void ExecutePlan(ExtractPlan& plan, Archive& archive, const std::string& archivePath,
                 const std::optional<std::string>& archivePassword,
                 const std::optional<std::string>& entryPassword, const Options& options,
                 const std::string& root, const platform::OutputRoot& output) {
    uint64_t total = 0;
    for (const PlannedEntry& e : plan.entries) total += e.info->unpackedSize;
    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), total, "Extracting");
    ExtractJob job{archive,           archivePath,   archivePassword, entryPassword, root,
                   JobCount(options), options.quiet, false,           &output};
    ExtractInParallel(job, plan.entries, bar);
    bar.Finish();
}

// On a terminal a wrong or missing password gets another chance, entry by entry. A password
// that works is kept for the messages about later entries.
void RetryWithTypedPasswords(PlannedEntry& e, Archive& archive,
                             std::optional<std::string>& password, const Options& options,
                             const platform::OutputRoot& output) {
    bool encrypted = IsEncrypted(*e.info);
    while (os::StdinIsTerminal() && IsPasswordFailure(e.outcome, encrypted)) {
        std::fprintf(stderr, "%s: %s\n", Shown(e.info->name).c_str(),
                     OutcomeText(e.outcome, encrypted, password.has_value()).c_str());
        std::optional<std::string> again =
            ReadHiddenLine("Password for " + Shown(e.info->name) + " (empty to skip): ");
        PasswordWiper wipeAgain(again);
        if (!again || again->empty()) break;
        e.outcome =
            ExtractToPath(output, archive.handle(), e, again->c_str(), nullptr, JobCount(options));
        if (e.outcome.Succeeded()) {
            if (!options.quiet) std::printf("extracted %s\n", Shown(e.info->name).c_str());
            password = *again;
        }
    }
}

void ReportFailure(const PlannedEntry& e, bool passwordGiven) {
    bool encrypted = IsEncrypted(*e.info);
    bool noPassword = encrypted && e.outcome.failure == ToolFailure::None &&
                      e.outcome.status == format::Status::PasswordNeeded && !passwordGiven;
    std::string why = noPassword ? "needs a password (give -p or --password-file)"
                                 : OutcomeText(e.outcome, encrypted, passwordGiven);
    std::fprintf(stderr, "vorn: %s: %s\n", Shown(e.info->name).c_str(), why.c_str());
}

int ReportOutcome(ExtractPlan& plan, Archive& archive, std::optional<std::string>& password,
                  const Options& options, const std::string& root,
                  const platform::OutputRoot& output) {
    uint64_t extracted = 0, failed = plan.failed;
    for (PlannedEntry& e : plan.entries) {
        RetryWithTypedPasswords(e, archive, password, options, output);
        if (e.outcome.Succeeded()) {
            ++extracted;
            continue;
        }
        ++failed;
        ReportFailure(e, password.has_value());
    }
    if (!options.quiet) {
        std::printf("%llu file%s extracted to %s", static_cast<unsigned long long>(extracted),
                    extracted == 1 ? "" : "s", root.c_str());
        if (plan.skipped) {
            std::printf(", %llu skipped", static_cast<unsigned long long>(plan.skipped));
        }
        if (failed) std::printf(", %llu failed", static_cast<unsigned long long>(failed));
        std::printf("\n");
    }
    return failed ? kExitEntriesFailed : kExitOk;
}

}  // namespace

int RunExtract(const Options& options) {
    if (options.operands.empty()) {
        std::fprintf(stderr, "vorn extract: give an archive (see vorn extract --help)\n");
        return kExitUsage;
    }
    // The password given, typed, or found to work on a retry: the command's own, never the
    // options'.
    std::optional<std::string> password;
    PasswordWiper wipePassword(password);
    if (!GivenPassword(options, password)) return kExitUsage;
    const std::string archivePath = options.operands[0];
    std::vector<std::string> patterns(options.operands.begin() + 1, options.operands.end());

    Archive archive;
    if (!OpenForCommand(archive, archivePath, password)) return kExitUsage;
    // The password that opened the archive (if any) opens every worker's handle too.
    std::optional<std::string> archivePassword = password;
    PasswordWiper wipeArchivePassword(archivePassword);
    Directory directory;
    std::vector<uint64_t> unreadableNames;
    if (!ReadDirectory(archive, directory, &unreadableNames)) return kExitUsage;
    std::string root;
    // Closed when the command returns: every entry's folder is entered from it.
    platform::OutputRoot output;
    struct RootCloser {
        platform::OutputRoot& root;
        ~RootCloser() { platform::CloseOutputRoot(&root); }
    } closer{output};
    if (!PrepareDestination(options.outputDir, root, output)) return kExitUsage;

    ExtractPlan plan =
        MakeExtractPlan(directory.entries, unreadableNames, patterns, root, options.overwrite,
                        os::StdinIsTerminal(), options.quiet, PacksLicense(archivePath));
    AskEntryPasswordIfNeeded(
        password, std::any_of(plan.entries.begin(), plan.entries.end(),
                              [](const PlannedEntry& e) { return IsEncrypted(*e.info); }));
    ExecutePlan(plan, archive, archivePath, archivePassword, password, options, root, output);
    if (Interrupted()) {
        std::fprintf(stderr, "vorn: interrupted; unfinished files removed\n");
        return kExitEntriesFailed;
    }
    return ReportOutcome(plan, archive, password, options, root, output);
}

}  // namespace tool
