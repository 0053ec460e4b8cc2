// "vorn extract": writes the archive's entries (or those matching the given names and patterns)
// below one folder. A plan is made first on one thread: names are checked, every overwrite
// question is asked, the password is settled. Then workers, each with its own archive handle,
// extract the planned entries in parallel.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/cli_support.h"
#include "tools/commands.h"
#include "tools/entry_io.h"
#include "tools/entry_path.h"
#include "tools/extract_schedule.h"

namespace tool {

namespace {

struct PlannedEntry {
    VORN_FILEINFO info;
    std::string relative;
    std::string target;
    bool superseded = false;  // a later entry of the same name replaces it
    uint32_t status = VORN_SUCCESS;
    std::string error;
};

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

bool IsEncrypted(const VORN_FILEINFO& info) {
    return (info.dwAttributes & VORN_ATTR_ENCRYPTED) != 0;
}

bool IsPasswordFailure(uint32_t status, bool encrypted) {
    return encrypted &&
           (status == VORN_E_CRC || status == VORN_E_CORRUPT || status == VORN_E_PASSWORD_NEEDED);
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
    if (!OpenForCommand(archive, archivePath, options.password, options.quiet)) return kExitUsage;
    // The password that opened the archive (if any) opens every worker's handle too.
    const std::optional<std::string> archivePassword = options.password;
    std::vector<VORN_FILEINFO> entries;
    if (!ReadDirectory(archive, entries)) return kExitUsage;

    std::error_code ec;
    std::filesystem::create_directories(options.outputDir, ec);
    struct stat rootStat;
    if (stat(options.outputDir.c_str(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode)) {
        std::fprintf(stderr, "vorn: cannot use %s as destination folder\n",
                     options.outputDir.c_str());
        return kExitUsage;
    }
    std::string root = options.outputDir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    const bool interactive = StdinIsTerminal();
    OverwritePolicy policy = options.overwrite;
    uint64_t failed = 0, skipped = 0;
    std::vector<PlannedEntry> plan;
    std::map<std::string, size_t> planned;  // target -> index in plan
    std::vector<bool> patternUsed(patterns.size(), false);
    bool quit = false;

    for (const VORN_FILEINFO& info : entries) {
        std::string name = info.szName;
        if (name == kCommentName) continue;
        if (!patterns.empty()) {
            bool selected = false;
            for (size_t i = 0; i < patterns.size(); ++i) {
                if (EntryMatchesPattern(name, patterns[i])) {
                    patternUsed[i] = true;
                    selected = true;
                }
            }
            if (!selected) continue;
        }
        PlannedEntry entry{info, {}, {}, false, VORN_SUCCESS, {}};
        std::string reason;
        if (!EntryNameToRelativePath(name, entry.relative, reason)) {
            std::fprintf(stderr, "vorn: refused %s: %s; nothing written\n", Shown(name).c_str(),
                         reason.c_str());
            ++failed;
            continue;
        }
        entry.target = root + "/" + entry.relative;

        auto earlier = planned.find(entry.target);
        struct stat st;
        bool exists = earlier != planned.end() || lstat(entry.target.c_str(), &st) == 0;
        if (exists && earlier == planned.end() && S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "vorn: %s: a folder of that name exists at %s\n",
                         Shown(name).c_str(), Shown(entry.target).c_str());
            ++failed;
            continue;
        }
        if (exists) {
            bool overwrite = false;
            if (policy == OverwritePolicy::Always) {
                overwrite = true;
            } else if (policy == OverwritePolicy::Never) {
                overwrite = false;
            } else if (!interactive) {
                std::fprintf(stderr,
                             "vorn: %s exists; not overwritten (use --overwrite or "
                             "--skip-existing)\n",
                             entry.target.c_str());
                ++failed;
                continue;
            } else {
                switch (AskOverwrite(entry.target)) {
                    case Answer::Yes:
                        overwrite = true;
                        break;
                    case Answer::No:
                        break;
                    case Answer::All:
                        policy = OverwritePolicy::Always;
                        overwrite = true;
                        break;
                    case Answer::Never:
                        policy = OverwritePolicy::Never;
                        break;
                    case Answer::Quit:
                        quit = true;
                        break;
                }
            }
            if (quit) break;
            if (!overwrite) {
                if (!options.quiet) std::printf("skipped %s\n", Shown(name).c_str());
                ++skipped;
                continue;
            }
            if (earlier != planned.end()) plan[earlier->second].superseded = true;
        }
        planned[entry.target] = plan.size();
        plan.push_back(entry);
    }
    for (size_t i = 0; i < patterns.size() && !quit; ++i) {
        if (!patternUsed[i]) {
            std::fprintf(stderr, "vorn: no entry matches %s\n", patterns[i].c_str());
            ++failed;
        }
    }
    plan.erase(std::remove_if(plan.begin(), plan.end(),
                              [](const PlannedEntry& e) { return e.superseded; }),
               plan.end());

    bool anyEncrypted = std::any_of(plan.begin(), plan.end(),
                                    [](const PlannedEntry& e) { return IsEncrypted(e.info); });
    if (anyEncrypted && !options.password && interactive) {
        options.password = ReadHiddenLine("Password for the enciphered entries: ");
    }
    const char* entryPassword = options.password ? options.password->c_str() : nullptr;

    uint64_t total = 0;
    for (const PlannedEntry& e : plan) total += e.info.qwUnpackedSize;
    ProgressBar bar(!options.quiet && StderrIsTerminal(), total, "Extracting");

    unsigned jobs = options.jobs > 0 ? static_cast<unsigned>(options.jobs)
                                     : std::max(1u, std::thread::hardware_concurrency());
    jobs = std::min<unsigned>(jobs, ProgressBar::kSlots);
    jobs = std::max<unsigned>(1, std::min<unsigned>(jobs, static_cast<unsigned>(plan.size())));

    // Workers share one queue. With several, the costliest entries go first, so that no large
    // entry starts last and keeps one worker busy while the others have nothing left; one
    // worker keeps the directory order, which its listing then follows.
    std::vector<size_t> queue(plan.size());
    if (jobs > 1) {
        std::vector<uint64_t> work(plan.size());
        for (size_t i = 0; i < plan.size(); ++i) {
            work[i] =
                EstimatedExtractionWork(plan[i].info.qwUnpackedSize, plan[i].info.qwStoredSize);
        }
        queue = CostliestFirst(work);
    } else {
        for (size_t i = 0; i < plan.size(); ++i) queue[i] = i;
    }

    // Ctrl-C cancels the entries in progress (their unfinished files are removed) and starts
    // no more; a watcher passes it to the library, which stops within one block. The watcher
    // is woken as soon as the workers are done, so it never holds up the end of the command.
    CatchInterrupt();
    std::mutex handlesLock;
    std::vector<void*> handles;
    bool workersDone = false;  // under handlesLock
    std::condition_variable workersDoneSignal;
    std::thread watcher([&] {
        std::unique_lock<std::mutex> lock(handlesLock);
        while (!workersDone) {
            if (Interrupted()) {
                for (void* h : handles) vorn_CancelOperation(h);
            }
            workersDoneSignal.wait_for(lock, std::chrono::milliseconds(50));
        }
    });

    std::atomic<size_t> next{0};
    auto worker = [&](int slot) {
        // The first worker uses the handle the plan was made with; opening an archive scans
        // and walks it, which only the other workers need to do again for their own handles.
        Archive own;
        void* handle = archive.handle();
        uint32_t openStatus = VORN_SUCCESS;
        if (slot != 0) {
            openStatus =
                own.Open(archivePath, archivePassword ? archivePassword->c_str() : nullptr);
            handle = own.handle();
        }
        if (openStatus == VORN_SUCCESS) {
            std::lock_guard<std::mutex> lock(handlesLock);
            handles.push_back(handle);
        }
        for (;;) {
            if (Interrupted()) break;
            size_t q = next.fetch_add(1);
            if (q >= queue.size()) break;
            PlannedEntry& e = plan[queue[q]];
            if (openStatus != VORN_SUCCESS) {
                e.status = openStatus;
                continue;
            }
            if (IsEncrypted(e.info) && !entryPassword) {
                e.status = VORN_E_PASSWORD_NEEDED;
                continue;
            }
            size_t slash = e.relative.rfind('/');
            if (slash != std::string::npos &&
                !MakeFolderLevels(root, e.relative.substr(0, slash), e.error)) {
                e.status = VORN_E_INVALID_ARGUMENT;
                continue;
            }
            ProgressTarget target{&bar, slot, e.info.qwUnpackedSize};
            {
                ScopedProgress scope(&target);
                e.status = ExtractToPath(handle, e.info, entryPassword, e.target, e.error);
            }
            bar.Add(e.info.qwUnpackedSize);
            if (e.status == VORN_SUCCESS && !options.quiet) {
                bar.Print("extracted " + Shown(e.info.szName), stdout);
            }
        }
        std::lock_guard<std::mutex> lock(handlesLock);
        handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
    };
    if (jobs == 1) {
        worker(0);
    } else {
        std::vector<std::thread> threads;
        for (unsigned j = 0; j < jobs; ++j) threads.emplace_back(worker, static_cast<int>(j));
        for (auto& t : threads) t.join();
    }
    {
        std::lock_guard<std::mutex> lock(handlesLock);
        workersDone = true;
    }
    workersDoneSignal.notify_one();
    watcher.join();
    bar.Finish();
    if (Interrupted()) {
        std::fprintf(stderr, "vorn: interrupted; unfinished files removed\n");
        return kExitEntriesFailed;
    }

    uint64_t extracted = 0;
    for (PlannedEntry& e : plan) {
        bool encrypted = IsEncrypted(e.info);
        // On a terminal a wrong or missing password gets another chance, entry by entry.
        while (e.status != VORN_SUCCESS && e.error.empty() && interactive &&
               IsPasswordFailure(e.status, encrypted)) {
            std::fprintf(stderr, "%s: %s\n", Shown(e.info.szName).c_str(),
                         EntryFailureText(e.status, encrypted, entryPassword != nullptr).c_str());
            std::optional<std::string> again =
                ReadHiddenLine("Password for " + Shown(e.info.szName) + " (empty to skip): ");
            if (!again || again->empty()) break;
            e.status = ExtractToPath(archive.handle(), e.info, again->c_str(), e.target, e.error);
            if (e.status == VORN_SUCCESS) {
                if (!options.quiet) std::printf("extracted %s\n", Shown(e.info.szName).c_str());
                options.password = *again;  // named in the messages about later entries
                entryPassword = options.password->c_str();
            }
        }
        if (e.status == VORN_SUCCESS) {
            ++extracted;
            continue;
        }
        ++failed;
        std::string why = !e.error.empty() ? e.error
                          : (encrypted && e.status == VORN_E_PASSWORD_NEEDED && !entryPassword)
                              ? "needs a password (give -p or --password-file)"
                              : EntryFailureText(e.status, encrypted, entryPassword != nullptr);
        std::fprintf(stderr, "vorn: %s: %s\n", Shown(e.info.szName).c_str(), why.c_str());
    }

    if (!options.quiet) {
        std::printf("%llu file%s extracted to %s", static_cast<unsigned long long>(extracted),
                    extracted == 1 ? "" : "s", root.c_str());
        if (skipped) std::printf(", %llu skipped", static_cast<unsigned long long>(skipped));
        if (failed) std::printf(", %llu failed", static_cast<unsigned long long>(failed));
        std::printf("\n");
    }
    return failed ? kExitEntriesFailed : kExitOk;
}

}  // namespace tool
