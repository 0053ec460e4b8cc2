// Entry decoding for the tool: into memory or a drained pipe for "test", into a temporary file
// renamed over the destination for "extract".
#include "tools/entry_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace tool {

namespace {

thread_local ProgressTarget* t_progress = nullptr;

// Entries up to this size are tested in memory; larger ones stream through a pipe.
constexpr uint64_t kInMemoryTestLimit = 256u << 20;

std::atomic<unsigned> g_drainCounter{0};
std::atomic<uint64_t> g_tempCounter{0};

// Tries of different names before giving up on a folder where every name tried exists.
constexpr int kTempNameTries = 64;

// Creates an empty temporary file beside path, named ".<leaf>.vorn-<pid>-<n>", with the usual
// permissions of a new file (umask applies); returns its name, or an empty string with error
// set. O_EXCL and O_NOFOLLOW make the open fail rather than reuse or follow anything that
// already stands at the name, so no other file can be written through it.
std::string CreateTempBeside(const std::string& dir, const std::string& leaf, std::string& error) {
    const std::string stem =
        dir + "/." + leaf.substr(0, 200) + ".vorn-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
        std::string name = stem + std::to_string(g_tempCounter.fetch_add(1));
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return name;
        }
        if (errno != EEXIST) break;
    }
    error = "cannot create a file in " + dir + ": " + std::strerror(errno);
    return {};
}

uint32_t DecodeThroughPipe(void* handle, const VORN_FILEINFO& info, const char* password,
                           const std::string& scratchDir) {
    std::string fifo = scratchDir + "/drain-" + std::to_string(getpid()) + "-" +
                       std::to_string(g_drainCounter.fetch_add(1));
    if (mkfifo(fifo.c_str(), 0600) != 0) return VORN_E_INVALID_ARGUMENT;
    // Opened before the library opens its end, without blocking; reads see end-of-file only
    // while no writer holds the pipe, so the drain stops once the run is over.
    int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        unlink(fifo.c_str());
        return VORN_E_INVALID_ARGUMENT;
    }
    std::atomic<bool> done{false};
    std::thread drain([&] {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 50);
            ssize_t n = read(fd, buffer.data(), buffer.size());
            if (n > 0) continue;
            if (done.load()) break;
            if (n == 0 || errno == EAGAIN) usleep(1000);
        }
    });
    uint32_t status =
        vorn_DecompressToFile(handle, info.szName, fifo.c_str(), ReportEntryProgress, password);
    done.store(true);
    drain.join();
    close(fd);
    unlink(fifo.c_str());
    return status;
}

}  // namespace

ScopedProgress::ScopedProgress(ProgressTarget* target) {
    t_progress = target;
}
ScopedProgress::~ScopedProgress() {
    if (t_progress && t_progress->bar) t_progress->bar->SetPartial(t_progress->slot, 0);
    t_progress = nullptr;
}

void ReportEntryProgress(int percent) {
    ProgressTarget* target = t_progress;
    if (!target || !target->bar) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    target->bar->SetPartial(target->slot,
                            target->entryBytes / 100 * static_cast<uint64_t>(percent));
}

uint32_t DecodeToNowhere(void* handle, const VORN_FILEINFO& info, const char* password,
                         const std::string& scratchDir) {
    if (info.qwUnpackedSize > kInMemoryTestLimit) {
        return DecodeThroughPipe(handle, info, password, scratchDir);
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(info.qwUnpackedSize) + 16);
    return vorn_DecompressToPtr(handle, info.szName, buffer.data(), ReportEntryProgress, password);
}

uint32_t ExtractToPath(void* handle, const VORN_FILEINFO& info, const char* password,
                       const std::string& path, std::string& error) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp = CreateTempBeside(dir, leaf, error);
    if (temp.empty()) return VORN_E_INVALID_ARGUMENT;
    uint32_t status =
        vorn_DecompressToFile(handle, info.szName, temp.c_str(), ReportEntryProgress, password);
    if (status != VORN_SUCCESS) {
        unlink(temp.c_str());
        return status;
    }
    if (info.qwFileTime != 0) {
        int64_t seconds, nanoseconds;
        UnixFromFileTime(info.qwFileTime, seconds, nanoseconds);
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
        times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(nanoseconds);
        utimensat(AT_FDCWD, temp.c_str(), times, 0);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return VORN_E_INVALID_ARGUMENT;
    }
    return VORN_SUCCESS;
}

bool MakeFolderLevels(const std::string& root, const std::string& relativeDir, std::string& error) {
    std::string path = root;
    size_t start = 0;
    while (start < relativeDir.size()) {
        size_t end = relativeDir.find('/', start);
        if (end == std::string::npos) end = relativeDir.size();
        path += '/';
        path.append(relativeDir, start, end - start);
        start = end + 1;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode)) {
                error = path + " is a symbolic link; not following it";
                return false;
            }
            if (!S_ISDIR(st.st_mode)) {
                error = path + " exists and is not a folder";
                return false;
            }
            continue;
        }
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create folder " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace tool
