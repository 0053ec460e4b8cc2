// Win32 implementation of the platform layer: the Windows runtime's descriptor I/O with 64-bit
// seeks, GetDiskFreeSpaceExA, SetFileAttributesA, VirtualAlloc and an auto-reset event.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/platform.h"

namespace platform {

int FileOpen(const char* path, int flags, int permission) {
    int fd = _open(path, flags, permission);
    return fd < 0 ? -1 : fd;
}

int64_t FileRead(int fd, void* buffer, uint32_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        // _read takes an unsigned int count; keep each call well inside it.
        uint32_t chunk = count - done;
        if (chunk > 0x40000000u) chunk = 0x40000000u;
        int got = _read(fd, bytes + done, chunk);
        if (got < 0) return done > 0 ? done : -1;
        if (got == 0) break;
        done += static_cast<uint32_t>(got);
    }
    return done;
}

// The runtime's descriptors keep their own idea of the file position, which a positioned ReadFile
// on the underlying handle would leave stale; a seek through the runtime keeps them agreed.
int64_t FileReadAt(int fd, uint64_t offset, void* buffer, uint32_t count) {
    if (FileSeek(fd, offset) != static_cast<int64_t>(offset)) return -1;
    return FileRead(fd, buffer, count);
}

int64_t FileWrite(int fd, const void* buffer, uint32_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        uint32_t chunk = count - done;
        if (chunk > 0x40000000u) chunk = 0x40000000u;
        int put = _write(fd, bytes + done, chunk);
        if (put < 0) return done > 0 ? done : -1;
        if (put == 0) break;
        done += static_cast<uint32_t>(put);
    }
    return done;
}

int64_t FileSeek(int fd, uint64_t offset) {
    if (offset > 0x7FFFFFFFFFFFFFFFull) return -1;
    __int64 pos = _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t FileLength(int fd) {
    __int64 length = _filelengthi64(fd);
    return length < 0 ? -1 : static_cast<int64_t>(length);
}

int FileClose(int fd) {
    return _close(fd);
}

bool FreeSpaceOfFolder(const char* folder, uint64_t* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder[0] ? folder : nullptr, &available, nullptr, nullptr)) {
        return false;
    }
    *bytes = available.QuadPart;
    return true;
}

bool SetAttributes(const char* path, uint32_t attributes) {
    return SetFileAttributesA(path, attributes) != 0;
}

void* PageAlloc(size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void PageFree(void* memory, size_t) {
    if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}

// Committed pages fault in as they are first written; the self-extractor's lists are short.
void PrepareForWriting(void*, size_t) {}

// The event handle itself stands for the CancelEvent.
CancelEvent* EventCreate() {
    return reinterpret_cast<CancelEvent*>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void EventSet(CancelEvent* event) {
    SetEvent(reinterpret_cast<HANDLE>(event));
}
void EventReset(CancelEvent* event) {
    ResetEvent(reinterpret_cast<HANDLE>(event));
}

bool EventPollAndClear(CancelEvent* event) {
    // A successful wait on an auto-reset event clears it.
    return WaitForSingleObject(reinterpret_cast<HANDLE>(event), 0) == WAIT_OBJECT_0;
}

void EventClose(CancelEvent* event) {
    if (event) CloseHandle(reinterpret_cast<HANDLE>(event));
}

}  // namespace platform
