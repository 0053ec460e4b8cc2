// Fuzz target: a sealed archive file through the library, as the tool reads it. Opens it with the
// seeds' password and with none, opens a second handle that takes the first one's key, lists
// every entry with its block kinds (which opens only the segments that hold block headers) and
// decodes every small entry into a sink. A fuzz build bounds the key derivation
// (VORN_FUZZ_SMALL_KDF), so that each input derives its key in microseconds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "archive/extraction.h"
#include "archive/vorn.h"

namespace {

constexpr uint64_t kMaxExtract = 1 << 20;
constexpr uint64_t kMaxEntries = 256;
constexpr const char* kPassword = "secret";

bool Count(void* total, const uint8_t*, uint32_t count) {
    *static_cast<uint64_t*>(total) += count;
    return true;
}

void Exercise(const char* path) {
    void* handle = nullptr;
    if (archive::OpenArchive(&handle, path, nullptr, VORN_OPEN_READONLY) == archive::Status::Ok) {
        vorn_CloseStream(handle);
    }
    if (archive::OpenArchive(&handle, path, kPassword, VORN_OPEN_READONLY) != archive::Status::Ok) {
        if (handle != nullptr) std::abort();
        return;
    }
    void* second = nullptr;
    if (archive::OpenArchiveLike(&second, path, kPassword, VORN_OPEN_READONLY, handle) !=
        archive::Status::Ok) {
        std::abort();  // the same file and password open a second time
    }
    for (uint64_t i = 0; i < vorn_GetNumFiles(handle) && i < kMaxEntries; ++i) {
        VORN_FILEINFO info;
        if (archive::EnumerateEntry(handle, &info, i) != archive::Status::Ok) continue;
        uint32_t types = 0;
        archive::EntryBlockTypes(second, i, &types);
        if (info.qwUnpackedSize > kMaxExtract) continue;
        uint64_t delivered = 0;
        archive::Status status = archive::ExtractToSink(
            handle, i, i % 2 ? kPassword : "other", codec::BlockSink{Count, &delivered}, {}, {});
        if (delivered > info.qwUnpackedSize) std::abort();
        if (status == archive::Status::Ok && delivered != info.qwUnpackedSize) std::abort();
    }
    vorn_CloseStream(second);
    vorn_CloseStream(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char path[64];
    if (!path[0]) std::snprintf(path, sizeof path, "/dev/shm/vorn-fuzz-sealed-%d.bin", getpid());
    int fd = open(path, O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return 0;
    for (size_t done = 0; done < size;) {
        ssize_t put = write(fd, data + done, size - done);
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    close(fd);
    Exercise(path);
    return 0;
}
