// Entry decoding for the tool: into memory or a drained pipe for "test", into a temporary file
// renamed over the destination for "extract".
#include "tools/entry_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
// The library takes paths of at most this many bytes.
constexpr size_t kLibraryPathLimit = 255;

// A name for the temporary file beside the target: "." and as much of the target's name as fits,
// then ".vorn-" and 72 random bits. The library creates the file under it as it opens it.
// Nothing can stand at a name nobody can guess, and a file created by that open is never
// truncated; opening an existing file with O_TRUNC would make ext4 write it back on close, at a
// cost far beyond that of small files. Empty when the system has no random bytes to give.
std::string TempNameBeside(const std::string& dir, const std::string& leaf) {
    unsigned char bits[9];
    size_t got = 0;
    while (got < sizeof bits) {
        ssize_t n = getrandom(bits + got, sizeof bits - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<size_t>(n);
    }
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string random;
    for (size_t i = 0; i < sizeof bits; i += 3) {
        uint32_t group = (uint32_t{bits[i]} << 16) | (uint32_t{bits[i + 1]} << 8) | bits[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) random += kDigits[(group >> shift) & 63];
    }
    // The name of the target only makes the file recognisable; it gives way to the library's
    // path limit first, then the ".vorn-" mark, then random characters down to eight (48 bits),
    // so that a target whose own path fits gets a temporary file in all but the deepest folders.
    const std::string suffix = ".vorn-" + random;
    size_t fixed = dir.size() + 2 + suffix.size();
    if (fixed <= kLibraryPathLimit) {
        size_t keep = std::min({leaf.size(), size_t{200}, kLibraryPathLimit - fixed});
        return dir + "/." + leaf.substr(0, keep) + suffix;
    }
    size_t room = kLibraryPathLimit - std::min(kLibraryPathLimit, dir.size() + 2);
    constexpr size_t kFewestRandomCharacters = 8;
    // Too deep even for that: the whole name, which the caller reports as too long.
    if (room < kFewestRandomCharacters) return dir + "/." + random;
    return dir + "/." + random.substr(0, std::min(room, random.size()));
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
    const std::string temp = TempNameBeside(dir, leaf);
    if (temp.empty()) {
        error = std::string("cannot name a temporary file: ") + std::strerror(errno);
        return VORN_E_INVALID_ARGUMENT;
    }
    if (temp.size() > kLibraryPathLimit) {
        error = "cannot extract into " + dir + ": the path is longer than the " +
                std::to_string(kLibraryPathLimit) + " bytes the library takes";
        return VORN_E_INVALID_ARGUMENT;
    }
    uint32_t status =
        vorn_DecompressToFile(handle, info.szName, temp.c_str(), ReportEntryProgress, password);
    if (status != VORN_SUCCESS) {
        if (unlink(temp.c_str()) != 0 && errno == ENOENT && status == VORN_E_INVALID_ARGUMENT) {
            // The library creates the file before anything else; status 2 and no file means
            // that creating it failed, and the folder tells why.
            error = "cannot create a file in " + dir;
            if (access(dir.c_str(), W_OK | X_OK) != 0) {
                error += std::string(": ") + std::strerror(errno);
            }
        }
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
