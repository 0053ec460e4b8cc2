// POSIX implementation of output_file.h: every step is taken from a folder's descriptor with the
// *at calls, so no path is looked up again after it was checked. Levels are entered with
// O_NOFOLLOW | O_DIRECTORY (a link there fails to open as a folder), part files created with
// O_CREAT | O_EXCL | O_NOFOLLOW, and renameat replaces what stands at the final name, a link
// included, without following it.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "format/container.h"
#include "platform/output_file.h"
#include "platform/part_name.h"

namespace platform {

namespace {

constexpr int kPartNameAttempts = 100;

int RetryOpenAt(int dir, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = openat(dir, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// What stands at name in dir, told apart for a refusal: a link, or something other than a folder.
OutputResult WhyNotAFolder(int dir, const char* name) {
    struct stat st;
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return OutputResult::SystemError;
    if (S_ISLNK(st.st_mode)) return OutputResult::ThroughLink;
    if (!S_ISDIR(st.st_mode)) return OutputResult::NotFolder;
    return OutputResult::SystemError;
}

// Enters the level name below dir, creating it when missing; the new descriptor in *entered.
OutputResult EnterLevel(int dir, const char* name, int* entered) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
    int fd = RetryOpenAt(dir, name, flags);
    if (fd < 0 && errno == ENOENT) {
        if (mkdirat(dir, name, 0777) != 0 && errno != EEXIST) return OutputResult::SystemError;
        fd = RetryOpenAt(dir, name, flags);
    }
    if (fd >= 0) {
        *entered = fd;
        return OutputResult::Ok;
    }
    if (errno == ELOOP || errno == ENOTDIR) return WhyNotAFolder(dir, name);
    return OutputResult::SystemError;
}

bool AppendToPath(OutputFolder* folder, const char* level, size_t length) {
    if (folder->pathLength + 1 + length >= kOutputPathBytes) return false;
    folder->path[folder->pathLength++] = '/';
    memcpy(folder->path + folder->pathLength, level, length);
    folder->pathLength += length;
    folder->path[folder->pathLength] = '\0';
    return true;
}

// Random bits for a part file's name; the process id and a counter where the system has none, as
// the exclusive creation alone keeps the file safe.
void PartRandom(unsigned char (&bits)[kPartRandomBytes]) {
    if (getrandom(bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return;
    static std::atomic<uint32_t> counter{0};
    uint32_t pid = static_cast<uint32_t>(getpid());
    uint32_t count = counter.fetch_add(1);
    for (size_t i = 0; i < 4; ++i) bits[i] = static_cast<unsigned char>(pid >> (8 * i));
    for (size_t i = 0; i < 5; ++i) bits[4 + i] = static_cast<unsigned char>(count >> (8 * i));
}

void ClosePart(PartFile* part) {
    if (part->fd >= 0) close(part->fd);
    part->fd = -1;
}

}  // namespace

OutputResult OpenOutputRoot(const char* path, OutputRoot* root) {
    size_t length = strlen(path);
    while (length > 1 && path[length - 1] == '/') --length;
    if (length >= kOutputPathBytes) return OutputResult::TooLong;
    char copy[kOutputPathBytes];
    memcpy(copy, path, length);
    copy[length] = '\0';
    int fd = RetryOpenAt(AT_FDCWD, length ? copy : ".", O_RDONLY | O_DIRECTORY);
    if (fd < 0) return errno == ENOTDIR ? OutputResult::NotFolder : OutputResult::SystemError;
    root->handle = fd;
    memcpy(root->path, copy, length + 1);
    root->pathLength = length;
    return OutputResult::Ok;
}

void CloseOutputRoot(OutputRoot* root) {
    if (root->handle >= 0) close(static_cast<int>(root->handle));
    root->handle = -1;
}

OutputResult OpenOutputFolder(const OutputRoot& root, const char* relative, OutputFolder* folder) {
    folder->handle = dup(static_cast<int>(root.handle));
    if (folder->handle < 0) return OutputResult::SystemError;
    memcpy(folder->path, root.path, root.pathLength + 1);
    folder->pathLength = root.pathLength;
    folder->levelCount = 0;
    size_t start = 0;
    size_t total = strlen(relative);
    while (start < total) {
        const char* level = relative + start;
        size_t length = strcspn(level, "/");
        char name[kOutputPathBytes];
        OutputResult result = OutputResult::Ok;
        if (length == 0 || (length == 1 && level[0] == '.') ||
            (length == 2 && level[0] == '.' && level[1] == '.') ||
            ++folder->levelCount > kMaxOutputLevels) {
            result = OutputResult::BadLevel;
        } else if (length > format::kMaxNameBytes || !AppendToPath(folder, level, length)) {
            result = OutputResult::TooLong;
        }
        int entered = -1;
        if (result == OutputResult::Ok) {
            memcpy(name, level, length);
            name[length] = '\0';
            result = EnterLevel(static_cast<int>(folder->handle), name, &entered);
        }
        if (result != OutputResult::Ok) {
            int saved = errno;
            CloseOutputFolder(folder);
            errno = saved;
            return result;
        }
        close(static_cast<int>(folder->handle));
        folder->handle = entered;
        start += length + 1;
    }
    return OutputResult::Ok;
}

void CloseOutputFolder(OutputFolder* folder) {
    if (folder->handle >= 0) close(static_cast<int>(folder->handle));
    folder->handle = -1;
}

OutputResult CreatePartFile(const OutputFolder& folder, const char* finalName, size_t maxPathBytes,
                            PartFile* part) {
    size_t finalLength = strlen(finalName);
    if (finalLength == 0 || strchr(finalName, '/') != nullptr) return OutputResult::BadLevel;
    if (folder.pathLength + 1 + finalLength >= kOutputPathBytes) return OutputResult::TooLong;
    part->folder = &folder;
    memcpy(part->finalName, finalName, finalLength + 1);
    for (int attempt = 0; attempt < kPartNameAttempts; ++attempt) {
        unsigned char random[kPartRandomBytes];
        PartRandom(random);
        if (!PartFileName(folder.pathLength, finalName, maxPathBytes, random, part->name)) {
            return OutputResult::TooLong;
        }
        // Read and write bits for all, as open(2) gives a new file; the umask trims them.
        part->fd = RetryOpenAt(static_cast<int>(folder.handle), part->name,
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (part->fd >= 0) {
            memcpy(part->path, folder.path, folder.pathLength);
            part->path[folder.pathLength] = '/';
            strcpy(part->path + folder.pathLength + 1, part->name);
            return OutputResult::Ok;
        }
        if (errno != EEXIST) return OutputResult::SystemError;
    }
    return OutputResult::SystemError;
}

bool SetPartFileTime(PartFile* part, uint64_t fileTime) {
    if (part->fd < 0 || fileTime == 0) return part->fd >= 0;
    // A FILETIME counts 100 ns from 1601; Unix seconds start 11644473600 s later.
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kUnixEpochSeconds = 11644473600;
    timespec times[2];
    times[0].tv_sec =
        static_cast<time_t>(static_cast<int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds);
    times[0].tv_nsec = static_cast<long>(fileTime % kTicksPerSecond * 100);
    times[1] = times[0];
    return futimens(part->fd, times) == 0;
}

bool SetPartFileAttributes(PartFile* part, uint32_t attributes) {
    struct stat st;
    if (part->fd < 0 || fstat(part->fd, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & format::kAttributeReadOnly) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        mode |= S_IWUSR;
    }
    return fchmod(part->fd, mode) == 0;
}

void ReleasePartFileForPath(PartFile* part) {
    ClosePart(part);
}

OutputResult CommitPartFile(PartFile* part) {
    int dir = static_cast<int>(part->folder->handle);
    bool closed = part->fd < 0 || close(part->fd) == 0;
    part->fd = -1;
    // A folder at the final name is refused here, as rename would only replace an empty one.
    struct stat st;
    OutputResult result = OutputResult::Ok;
    if (!closed) {
        result = OutputResult::SystemError;
    } else if (fstatat(dir, part->finalName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        result = OutputResult::NotFolder;
    } else if (renameat(dir, part->name, dir, part->finalName) != 0) {
        result = OutputResult::SystemError;
    }
    if (result != OutputResult::Ok) {
        int saved = errno;
        unlinkat(dir, part->name, 0);
        errno = saved;
    }
    return result;
}

void DiscardPartFile(PartFile* part) {
    ClosePart(part);
    if (part->folder && part->name[0])
        unlinkat(static_cast<int>(part->folder->handle), part->name, 0);
    part->name[0] = '\0';
}

bool SplitOutputPath(const char* path, char* folder, const char** name) {
    const char* slash = strrchr(path, '/');
    const char* leaf = slash ? slash + 1 : path;
    size_t length = slash ? static_cast<size_t>(slash - path) : 0;
    if (*leaf == '\0' || length + 2 > kOutputPathBytes) return false;
    if (!slash) {
        strcpy(folder, ".");
    } else if (length == 0) {
        strcpy(folder, "/");
    } else {
        memcpy(folder, path, length);
        folder[length] = '\0';
    }
    *name = leaf;
    return true;
}

PathKind KindOfPath(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) return errno == ENOENT ? PathKind::Absent : PathKind::Other;
    return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
}

void LastOutputError(char* out, size_t capacity) {
    const char* reason = strerror(errno);
    size_t length = strlen(reason);
    if (length >= capacity) length = capacity - 1;
    memcpy(out, reason, length);
    out[length] = '\0';
}

}  // namespace platform
