// "vorn test": decodes every entry without keeping it and checks its CRC-32, on as many threads
// as extraction uses.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/extract_workers.h"
#include "tools/password.h"
#include "tools/progress_bar.h"
#include "tools/system.h"
#include "tools/terminal.h"
#include "tools/texts.h"

namespace tool {

namespace {

// Tests every entry, printing one line for each; returns the failures.
uint64_t TestEntries(Archive& archive, const std::vector<VORN_FILEINFO>& entries,
                     const std::optional<std::string>& archivePassword, const Options& options,
                     ProgressBar& bar) {
    std::vector<PlannedEntry> plan;
    for (const VORN_FILEINFO& e : entries)
        plan.push_back(PlannedEntry{e, "", "", VORN_SUCCESS, ""});
    ExtractJob job{archive,
                   options.operands[0],
                   archivePassword,
                   options.password ? options.password->c_str() : nullptr,
                   "",
                   JobCount(options),
                   options.quiet,
                   true};
    ExtractInParallel(job, plan, bar);
    uint64_t failed = 0;
    for (const PlannedEntry& e : plan) failed += e.status != VORN_SUCCESS;
    return failed;
}

}  // namespace

int RunTest(Options& options) {
    if (options.operands.size() != 1) {
        std::fprintf(stderr, "vorn test: give exactly one archive (see vorn test --help)\n");
        return kExitUsage;
    }
    if (!ResolvePassword(options)) return kExitUsage;
    Archive archive;
    if (!OpenForCommand(archive, options.operands[0], options.password)) return kExitUsage;
    std::vector<VORN_FILEINFO> entries;
    if (!ReadDirectory(archive, entries)) return kExitUsage;

    // The password that opened the archive (if any) opens every worker's handle too.
    const std::optional<std::string> archivePassword = options.password;
    bool anyEncrypted = false;
    uint64_t total = 0;
    for (const VORN_FILEINFO& e : entries) {
        total += e.qwUnpackedSize;
        anyEncrypted = anyEncrypted || IsEncrypted(e);
    }
    AskEntryPasswordIfNeeded(options, anyEncrypted);

    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), total, "Testing");
    uint64_t failed = TestEntries(archive, entries, archivePassword, options, bar);
    bar.Finish();
    if (Interrupted()) {
        std::fprintf(stderr, "vorn: interrupted; not every entry was tested\n");
        return kExitEntriesFailed;
    }
    if (failed) {
        std::fprintf(stderr, "%llu of %zu entries failed\n",
                     static_cast<unsigned long long>(failed), entries.size());
        return kExitEntriesFailed;
    }
    if (!options.quiet) std::printf("All %zu entries are intact\n", entries.size());
    return kExitOk;
}

}  // namespace tool
