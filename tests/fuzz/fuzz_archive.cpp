// Fuzz target: a whole archive file through the public API. Opens it with and without a password,
// enumerates every index, looks each name up, and extracts every small entry to memory and, as
// the tool decodes, into a sink that must never get more than the record's unpacked size, nor
// less when the run succeeds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/extraction.h"
#include "archive/vorn.h"

namespace {

// A small unpacked size keeps each input fast; bigger entries are still looked up.
constexpr uint64_t kMaxExtract = 1 << 20;
constexpr uint64_t kMaxEntries = 512;

bool Count(void* total, const uint8_t*, uint32_t count) {
    *static_cast<uint64_t*>(total) += count;
    return true;
}

void DecodeIntoSink(void* handle, uint64_t index, const VORN_FILEINFO& info, const char* password) {
    uint64_t delivered = 0;
    archive::Status status = archive::ExtractToSink(handle, index, password,
                                                    codec::BlockSink{Count, &delivered}, {}, {});
    if (delivered > info.qwUnpackedSize) std::abort();
    if (status == archive::Status::Ok && delivered != info.qwUnpackedSize) std::abort();
}

const char* ScratchPath() {
    static char path[64];
    if (!path[0]) std::snprintf(path, sizeof path, "/dev/shm/vorn-fuzz-%d.bin", getpid());
    return path;
}

void Exercise(const char* path, const char* password) {
    void* handle = nullptr;
    uint32_t status = vorn_OpenStream(&handle, path, password, VORN_OPEN_READONLY);
    if (status != VORN_SUCCESS) {
        if (handle != nullptr) std::abort();  // a failed open leaves no handle behind
        return;
    }
    uint64_t count = vorn_GetNumFiles(handle);
    for (uint64_t i = 0; i < count && i < kMaxEntries; ++i) {
        VORN_FILEINFO info;
        if (vorn_EnumerateFiles(handle, &info, i) != VORN_SUCCESS) continue;
        if (std::memchr(info.szName, 0, sizeof info.szName) == nullptr) std::abort();
        VORN_FILEINFO byName;
        if (vorn_GetFileInfo(handle, &byName, info.szName) != VORN_SUCCESS) continue;
        // The extraction finds the first entry carrying the name, as the lookup does: its size,
        // not this index's, is the one a caller provides room for.
        if (byName.qwUnpackedSize > kMaxExtract) continue;
        // Exactly the claimed size, so a write one byte past it is caught.
        size_t size = static_cast<size_t>(byName.qwUnpackedSize);
        auto* buffer = static_cast<unsigned char*>(std::malloc(size ? size : 1));
        if (buffer == nullptr) std::abort();
        uint32_t result = vorn_DecompressToPtr(handle, info.szName, buffer, nullptr, password);
        std::free(buffer);
        if (result > VORN_E_OLD_FORMAT) std::abort();  // every answer is a known status
        if (info.qwUnpackedSize <= kMaxExtract) DecodeIntoSink(handle, i, info, password);
    }
    vorn_GetErrorString(static_cast<int>(status));
    if (vorn_CloseStream(handle) != VORN_SUCCESS) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = ScratchPath();
    int fd = open(path, O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t put = write(fd, data + done, size - done);
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    close(fd);
    Exercise(path, nullptr);
    Exercise(path, "secret");
    return 0;
}
