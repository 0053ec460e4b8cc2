// "vorn extract": writes the archive's entries (or those matching the given names and patterns)
// below one folder. A plan is made first on one thread: names are checked, every overwrite
// question is asked, the password is settled. Then workers, each with its own archive handle,
// extract the planned entries in parallel. Last, entries that failed for want of the right
// password get another chance on a terminal, and every failure and the totals are reported.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/entry_io.h"
#include "tools/extract_plan.h"
#include "tools/extract_workers.h"
#include "tools/password.h"
#include "tools/progress_bar.h"
#include "tools/system.h"
#include "tools/terminal.h"
#include "tools/texts.h"

namespace tool {

namespace {

bool IsPasswordFailure(uint32_t status, bool encrypted) {
    return encrypted &&
           (status == VORN_E_CRC || status == VORN_E_CORRUPT || status == VORN_E_PASSWORD_NEEDED);
}

// Creates the destination folder as needed; root receives it without trailing slashes. Prints
// the failure and returns false.
bool PrepareDestination(const std::string& outputDir, std::string& root) {
    std::error_code ec;
    std::filesystem::create_directories(os::PathOf(outputDir), ec);
    os::PathFacts facts;
    if (!os::StatPath(outputDir, facts) || facts.kind != os::PathKind::Folder) {
        std::fprintf(stderr, "vorn: cannot use %s as destination folder\n", outputDir.c_str());
        return false;
    }
    root = outputDir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return true;
}

void ExecutePlan(ExtractPlan& plan, Archive& archive, const std::string& archivePath,
                 const std::optional<std::string>& archivePassword, const Options& options,
                 const std::string& root) {
    uint64_t total = 0;
    for (const PlannedEntry& e : plan.entries) total += e.info.qwUnpackedSize;
    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), total, "Extracting");
    ExtractJob job{archive,
                   archivePath,
                   archivePassword,
                   options.password ? options.password->c_str() : nullptr,
                   root,
                   JobCount(options),
                   options.quiet};
    ExtractInParallel(job, plan.entries, bar);
    bar.Finish();
}

// On a terminal a wrong or missing password gets another chance, entry by entry. A password
// that works is kept for the messages about later entries.
void RetryWithTypedPasswords(PlannedEntry& e, Archive& archive, Options& options) {
    bool encrypted = IsEncrypted(e.info);
    while (e.status != VORN_SUCCESS && e.error.empty() && os::StdinIsTerminal() &&
           IsPasswordFailure(e.status, encrypted)) {
        std::fprintf(stderr, "%s: %s\n", Shown(e.info.szName).c_str(),
                     EntryFailureText(e.status, encrypted, options.password.has_value()).c_str());
        std::optional<std::string> again =
            ReadHiddenLine("Password for " + Shown(e.info.szName) + " (empty to skip): ");
        if (!again || again->empty()) break;
        e.status = ExtractToPath(archive.handle(), e.info, again->c_str(), e.target, nullptr,
                                 JobCount(options), e.error);
        if (e.status == VORN_SUCCESS) {
            if (!options.quiet) std::printf("extracted %s\n", Shown(e.info.szName).c_str());
            options.password = *again;
        }
    }
}

void ReportFailure(const PlannedEntry& e, bool passwordGiven) {
    bool encrypted = IsEncrypted(e.info);
    std::string why = !e.error.empty() ? e.error
                      : (encrypted && e.status == VORN_E_PASSWORD_NEEDED && !passwordGiven)
                          ? "needs a password (give -p or --password-file)"
                          : EntryFailureText(e.status, encrypted, passwordGiven);
    std::fprintf(stderr, "vorn: %s: %s\n", Shown(e.info.szName).c_str(), why.c_str());
}

int ReportOutcome(ExtractPlan& plan, Archive& archive, Options& options, const std::string& root) {
    uint64_t extracted = 0, failed = plan.failed;
    for (PlannedEntry& e : plan.entries) {
        RetryWithTypedPasswords(e, archive, options);
        if (e.status == VORN_SUCCESS) {
            ++extracted;
            continue;
        }
        ++failed;
        ReportFailure(e, options.password.has_value());
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

int RunExtract(Options& options) {
    if (options.operands.empty()) {
        std::fprintf(stderr, "vorn extract: give an archive (see vorn extract --help)\n");
        return kExitUsage;
    }
    if (!ResolvePassword(options)) return kExitUsage;
    const std::string archivePath = options.operands[0];
    std::vector<std::string> patterns(options.operands.begin() + 1, options.operands.end());

    Archive archive;
    if (!OpenForCommand(archive, archivePath, options.password)) return kExitUsage;
    // The password that opened the archive (if any) opens every worker's handle too.
    const std::optional<std::string> archivePassword = options.password;
    std::vector<VORN_FILEINFO> entries;
    if (!ReadDirectory(archive, entries)) return kExitUsage;
    std::string root;
    if (!PrepareDestination(options.outputDir, root)) return kExitUsage;

    ExtractPlan plan = MakeExtractPlan(entries, patterns, root, options.overwrite,
                                       os::StdinIsTerminal(), options.quiet);
    AskEntryPasswordIfNeeded(
        options, std::any_of(plan.entries.begin(), plan.entries.end(),
                             [](const PlannedEntry& e) { return IsEncrypted(e.info); }));
    ExecutePlan(plan, archive, archivePath, archivePassword, options, root);
    if (Interrupted()) {
        std::fprintf(stderr, "vorn: interrupted; unfinished files removed\n");
        return kExitEntriesFailed;
    }
    return ReportOutcome(plan, archive, options, root);
}

}  // namespace tool
