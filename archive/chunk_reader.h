// Reading the archive file at the open: one buffer that a forward-moving scan or walk reads
// through in large slices, and an exact read of a known span. Shared by the plain and the sealed
// open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/status.h"

namespace archive {

// Reads a file through one buffer, for the forward-moving scan and walk of the open. A read
// starts at firstRead bytes and doubles, up to the whole buffer, while each goes on within
// firstRead bytes of where the last one ended: the records of small entries lie densely and come
// in a few large slices, where a walk over large entries keeps its small reads.
struct ChunkReader {
    int fd;
    uint64_t length;
    uint8_t* buffer;
    size_t capacity;
    size_t firstRead;
    size_t readSize;
    uint64_t start;
    size_t filled;
};

// The walks of the open: the records of small entries share one read, densely packed ones reads
// of up to 256 KiB, which took the walk over 100,000 of them from 22 to 15 ms.
constexpr size_t kWalkFirstRead = 16u << 10;
constexpr size_t kWalkBuffer = 256u << 10;

// firstRead 0 reads the whole buffer every time.
bool ChunkInit(ChunkReader* r, int fd, uint64_t length, size_t capacity, size_t firstRead = 0);
void ChunkFree(ChunkReader* r);
// The count bytes at offset, or null when the file does not hold them all.
const uint8_t* ChunkAt(ChunkReader* r, uint64_t offset, size_t count);

// count bytes at offset into buffer; Corrupt when the file does not hold them.
format::Status ReadExactly(int fd, uint64_t offset, uint8_t* buffer, size_t count);

}  // namespace archive
