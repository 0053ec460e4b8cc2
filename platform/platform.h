// The thin OS layer under the archive library: files by descriptor with 64-bit positions, the
// free space of a folder's volume, file attributes, page memory and the cancel event. One POSIX
// and one Win32 implementation; nothing above this header calls the OS for these things.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Open flags, with the values of the Windows runtime's _open so that the Win32 build passes them
// through unchanged. The POSIX build maps them to open(2) flags.
constexpr int kOpenReadOnly = 0x0000;
constexpr int kOpenReadWrite = 0x0002;
constexpr int kOpenSequential = 0x0020;
constexpr int kOpenCreate = 0x0100;
constexpr int kOpenTruncate = 0x0200;
constexpr int kOpenBinary = 0x8000;

// Permission bits for a created file (the runtime's _S_IREAD | _S_IWRITE is 0x180).
constexpr int kPermReadWrite = 0x180;

// Returns a descriptor (>= 0), or -1 when the file cannot be opened.
int FileOpen(const char* path, int flags, int permission);
// Bytes read (0 at end of file), or -1 on error. Reads until count bytes or end of file.
int64_t FileRead(int fd, void* buffer, uint32_t count);
// As FileRead, from an absolute offset. Where the file position is left is unspecified: callers
// that read this way read every time this way.
int64_t FileReadAt(int fd, uint64_t offset, void* buffer, uint32_t count);
// Bytes written, or -1 on error. Writes until count bytes or failure.
int64_t FileWrite(int fd, const void* buffer, uint32_t count);
// Seek to an absolute offset; returns the new position or -1.
int64_t FileSeek(int fd, uint64_t offset);
int64_t FileLength(int fd);
int FileClose(int fd);

// Bytes available to the caller on the volume that holds folder; false when the query fails.
bool FreeSpaceOfFolder(const char* folder, uint64_t* bytes);

// Windows attribute bits (format/container.h); on POSIX only read-only has a meaning: it clears
// the write permission bits, and its absence restores the owner's write bit.
bool SetAttributes(const char* path, uint32_t attributes);

// Committed read-write memory for the large working areas; null when it cannot be had.
void* PageAlloc(size_t bytes);
void PageFree(void* memory, size_t bytes);
// Maps the whole pages of [start, start + bytes) ahead of their first writes, in one call. Touched
// one at a time, each page costs a fault, about 12 us on a paravirtualised machine: for the lists
// of 100,000 entries that an open and a test build, more than filling them. A hint: where the
// system cannot do it, nothing changes.
void PrepareForWriting(void* start, size_t bytes);

// Auto-reset event used to cancel a running extraction from another thread.
struct CancelEvent;
CancelEvent* EventCreate();  // non-signalled; null on failure
void EventSet(CancelEvent* event);
void EventReset(CancelEvent* event);
// Polls without waiting; returns true when the event was signalled, and clears it.
bool EventPollAndClear(CancelEvent* event);
void EventClose(CancelEvent* event);

}  // namespace platform
