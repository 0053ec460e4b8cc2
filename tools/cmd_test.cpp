// "vorn test": decodes every entry without keeping it and checks its CRC-32.
#include <cstdio>
#include <vector>

#include "archive/extraction.h"
#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/entry_io.h"
#include "tools/password.h"
#include "tools/progress_bar.h"
#include "tools/system.h"
#include "tools/texts.h"

namespace tool {

namespace {

// Tests every entry in directory order, printing one line for each; returns the failures.
uint64_t TestEntries(Archive& archive, const std::vector<VORN_FILEINFO>& entries,
                     const Options& options, ProgressBar& bar) {
    const char* password = options.password ? options.password->c_str() : nullptr;
    uint64_t failed = 0;
    for (const VORN_FILEINFO& e : entries) {
        ProgressTarget target{&bar, 0, e.qwUnpackedSize};
        format::Status status = DecodeAndCheck(archive.handle(), e, password, &target);
        bar.Add(e.qwUnpackedSize);
        if (status == format::Status::Ok) {
            if (!options.quiet) bar.Print("OK      " + Shown(e.szName), stdout);
            continue;
        }
        ++failed;
        bar.Print(
            "FAILED  " + Shown(e.szName) + ": " +
            EntryFailureText(archive::PublicCode(status), IsEncrypted(e), password != nullptr));
    }
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

    bool anyEncrypted = false;
    uint64_t total = 0;
    for (const VORN_FILEINFO& e : entries) {
        total += e.qwUnpackedSize;
        anyEncrypted = anyEncrypted || IsEncrypted(e);
    }
    AskEntryPasswordIfNeeded(options, anyEncrypted);

    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), total, "Testing");
    uint64_t failed = TestEntries(archive, entries, options, bar);
    bar.Finish();
    if (failed) {
        std::fprintf(stderr, "%llu of %zu entries failed\n",
                     static_cast<unsigned long long>(failed), entries.size());
        return kExitEntriesFailed;
    }
    if (!options.quiet) std::printf("All %zu entries are intact\n", entries.size());
    return kExitOk;
}

}  // namespace tool
