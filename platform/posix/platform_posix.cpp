// POSIX implementation of the platform layer: open(2)/read(2) I/O, and pread(2) for reads at an
// offset, with off_t positions (64-bit, the build sets _FILE_OFFSET_BITS where needed), statvfs for
// free space, chmod for the read-only bit, mmap for the large areas and an atomic flag for the
// cancel event.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "format/container.h"
#include "platform/platform.h"

namespace platform {

int FileOpen(const char* path, int flags, int permission) {
    int posixFlags = (flags & kOpenReadWrite) ? O_RDWR : O_RDONLY;
    if (flags & kOpenCreate) posixFlags |= O_CREAT;
    if (flags & kOpenTruncate) posixFlags |= O_TRUNC;
    posixFlags |= O_CLOEXEC;
    mode_t mode = 0;
    if (permission & 0x100) mode |= S_IRUSR | S_IRGRP | S_IROTH;
    if (permission & 0x080) mode |= S_IWUSR | S_IWGRP | S_IWOTH;  // umask trims group and others
    // A file without any write bit is read-only for everyone, as with the Windows attribute:
    // root, which the kernel lets write anywhere, is refused here too.
    struct stat st;
    if ((flags & kOpenReadWrite) && stat(path, &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = EACCES;
        return -1;
    }
    int fd;
    do {
        fd = open(path, posixFlags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? -1 : fd;
}

namespace {

// The huge page of x86-64 and of arm64 with 4 KiB pages. Where it is larger, fewer areas
// qualify for the advice, which is all a wrong guess costs.
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

// Reads until count bytes or end of file: step(done) reads into the rest and answers what
// read(2) would. Bytes read, or -1 when an error came before any.
template <typename Step>
int64_t ReadWhole(uint32_t count, Step step) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t got = step(done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? done : -1;
        }
        if (got == 0) break;
        done += static_cast<uint32_t>(got);
    }
    return done;
}

}  // namespace

int64_t FileRead(int fd, void* buffer, uint32_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    return ReadWhole(count, [&](uint32_t done) { return read(fd, bytes + done, count - done); });
}

// One call instead of a seek and a read: an extraction of many small entries makes one per entry.
int64_t FileReadAt(int fd, uint64_t offset, void* buffer, uint32_t count) {
    if (offset > static_cast<uint64_t>(INT64_MAX) - count) return -1;
    auto* bytes = static_cast<unsigned char*>(buffer);
    return ReadWhole(count, [&](uint32_t done) {
        return pread(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
    });
}

int64_t FileWrite(int fd, const void* buffer, uint32_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t put = write(fd, bytes + done, count - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? done : -1;
        }
        if (put == 0) break;
        done += static_cast<uint32_t>(put);
    }
    return done;
}

int64_t FileSeek(int fd, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
    off_t pos = lseek(fd, static_cast<off_t>(offset), SEEK_SET);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t FileLength(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int FileClose(int fd) {
    return close(fd);
}

bool FreeSpaceOfFolder(const char* folder, uint64_t* bytes) {
    struct statvfs vfs;
    if (statvfs(folder[0] ? folder : ".", &vfs) != 0) return false;
    *bytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
    return true;
}

bool SetAttributes(const char* path, uint32_t attributes) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & format::kAttributeReadOnly) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        mode |= S_IWUSR;
    }
    return chmod(path, mode) == 0;
}

void* PageAlloc(size_t bytes) {
    // Areas of a huge page or more are aligned to one and asked to be backed by huge pages: the
    // read buffer and staging area of a large entry are touched from end to end, and every small
    // page's first touch is a fault, which costs microseconds on a virtual machine. Where the
    // system keeps huge pages for those who ask (or has none), the advice changes nothing.
    constexpr size_t kPage = 4096;
    if (bytes < kHugePage) {
        void* memory =
            mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return memory == MAP_FAILED ? nullptr : memory;
    }
    size_t rounded = (bytes + kPage - 1) & ~(kPage - 1);
    if (rounded < bytes || rounded > SIZE_MAX - kHugePage) return nullptr;
    size_t span = rounded + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<uintptr_t>(kHugePage - 1);
    size_t head = aligned - start;
    size_t tail = span - head - rounded;
    if (head != 0) munmap(raw, head);
    if (tail != 0) munmap(reinterpret_cast<void*>(aligned + rounded), tail);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void PageFree(void* memory, size_t bytes) {
    if (memory) munmap(memory, bytes);
}

void PrepareForWriting(void* start, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    // Not a static: the library links into C programs, which have no guard for one.
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(page - 1);
#ifdef MADV_HUGEPAGE
    // Whole 2 MiB pages inside the range may come as huge pages: each is mapped at once, where
    // mapping its 512 small pages one by one cost about five times as long.
    const uintptr_t hugeFirst = (first + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t hugeEnd = end & ~(kHugePage - 1);
    if (hugeEnd > hugeFirst) {
        madvise(reinterpret_cast<void*>(hugeFirst), hugeEnd - hugeFirst, MADV_HUGEPAGE);
    }
#endif
    // Older kernels refuse the advice (EINVAL): the pages then fault in as they are written.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)bytes;
#endif
}

struct CancelEvent {
    std::atomic<bool> signalled{false};
};

CancelEvent* EventCreate() {
    void* memory = std::malloc(sizeof(CancelEvent));
    return memory ? new (memory) CancelEvent : nullptr;
}

void EventSet(CancelEvent* event) {
    event->signalled.store(true, std::memory_order_release);
}
void EventReset(CancelEvent* event) {
    event->signalled.store(false, std::memory_order_release);
}

bool EventPollAndClear(CancelEvent* event) {
    return event->signalled.exchange(false, std::memory_order_acq_rel);
}

void EventClose(CancelEvent* event) {
    if (!event) return;
    event->~CancelEvent();
    std::free(event);
}

}  // namespace platform
