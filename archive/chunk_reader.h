// Reading the archive file at the open: one buffer that a forward-moving scan or walk reads
// through in large slices, and an exact read of a known span. Shared by the plain and the sealed
// open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/status.h"

namespace archive {

// Reads a file through one buffer, for the forward-moving scan and walk of the open.
struct ChunkReader {
    int fd;
    uint64_t length;
    uint8_t* buffer;
    size_t capacity;
    uint64_t start;
    size_t filled;
};

bool ChunkInit(ChunkReader* r, int fd, uint64_t length, size_t capacity);
void ChunkFree(ChunkReader* r);
// The count bytes at offset, or null when the file does not hold them all.
const uint8_t* ChunkAt(ChunkReader* r, uint64_t offset, size_t count);

// count bytes at offset into buffer; Corrupt when the file does not hold them.
format::Status ReadExactly(int fd, uint64_t offset, uint8_t* buffer, size_t count);

}  // namespace archive
