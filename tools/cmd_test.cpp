// "vorn test": decodes every entry without keeping it and checks its CRC-32.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tools/cli_support.h"
#include "tools/commands.h"
#include "tools/entry_io.h"

namespace tool {

namespace {

// A private folder for the pipes of large entries, removed on return.
class ScratchDir {
  public:
    ScratchDir() {
        std::string base = std::filesystem::temp_directory_path().string() + "/vorn-test-XXXXXX";
        std::vector<char> templ(base.begin(), base.end());
        templ.push_back(0);
        if (mkdtemp(templ.data())) path_ = templ.data();
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

int RunTest(Options& options) {
    if (options.operands.size() != 1) {
        std::fprintf(stderr, "vorn test: give exactly one archive (see vorn test --help)\n");
        return kExitUsage;
    }
    if (!ResolvePassword(options)) return kExitUsage;
    const std::string& path = options.operands[0];
    Archive archive;
    if (!OpenForCommand(archive, path, options.password, options.quiet)) return kExitUsage;
    std::vector<VORN_FILEINFO> entries;
    if (!ReadDirectory(archive, entries)) return kExitUsage;

    bool needPassword = false;
    uint64_t total = 0;
    for (const VORN_FILEINFO& e : entries) {
        total += e.qwUnpackedSize;
        if (e.dwAttributes & VORN_ATTR_ENCRYPTED) needPassword = true;
    }
    if (needPassword && !options.password && StdinIsTerminal()) {
        options.password = ReadHiddenLine("Password for the enciphered entries: ");
    }

    ScratchDir scratch;
    ProgressBar bar(!options.quiet && StderrIsTerminal(), total, "Testing");
    uint64_t failed = 0;
    for (const VORN_FILEINFO& e : entries) {
        bool encrypted = (e.dwAttributes & VORN_ATTR_ENCRYPTED) != 0;
        ProgressTarget target{&bar, 0, e.qwUnpackedSize};
        uint32_t status;
        {
            ScopedProgress scope(&target);
            status = DecodeToNowhere(archive.handle(), e,
                                     options.password ? options.password->c_str() : nullptr,
                                     scratch.path());
        }
        bar.Add(e.qwUnpackedSize);
        if (status == VORN_SUCCESS) {
            if (!options.quiet) bar.Print("OK      " + Shown(e.szName), stdout);
        } else {
            ++failed;
            bar.Print("FAILED  " + Shown(e.szName) + ": " +
                      EntryFailureText(status, encrypted, options.password.has_value()));
        }
    }
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
