// The open's reads of the archive file: the chunk reader and the exact read.
#include "archive/chunk_reader.h"

#include <algorithm>
#include <cstdlib>

#include "format/failed_check.h"
#include "platform/platform.h"

namespace archive {

namespace {
constexpr uint32_t kReadPiece = 1u << 30;
}  // namespace

bool ChunkInit(ChunkReader* r, int fd, uint64_t length, size_t capacity, size_t firstRead) {
    // A small file needs no more buffer than its own length.
    if (capacity > length && length >= 8) capacity = static_cast<size_t>(length);
    r->fd = fd;
    r->length = length;
    r->buffer = static_cast<uint8_t*>(std::malloc(capacity));
    r->capacity = capacity;
    r->firstRead = firstRead == 0 || firstRead > capacity ? capacity : firstRead;
    r->readSize = r->firstRead;
    r->start = 0;
    r->filled = 0;
    return r->buffer != nullptr;
}

void ChunkFree(ChunkReader* r) {
    std::free(r->buffer);
}

const uint8_t* ChunkAt(ChunkReader* r, uint64_t offset, size_t count) {
    if (count > r->capacity || offset > r->length || count > r->length - offset) return nullptr;
    if (offset >= r->start && offset - r->start <= r->filled &&
        count <= r->filled - (offset - r->start)) {
        return r->buffer + (offset - r->start);
    }
    // Going on: the wanted bytes start at most a first read's length past the last read's end.
    const bool goesOn = r->filled != 0 && offset >= r->start &&
                        offset - r->start <= uint64_t{r->filled} + r->firstRead;
    r->readSize = goesOn ? std::min(r->readSize * 2, r->capacity) : r->firstRead;
    uint64_t want = std::min<uint64_t>(r->length - offset, std::max(r->readSize, count));
    r->filled = 0;
    // One call, not a seek and a read.
    int64_t got = platform::FileReadAt(r->fd, offset, r->buffer, static_cast<uint32_t>(want));
    if (got < static_cast<int64_t>(count)) return nullptr;
    r->start = offset;
    r->filled = static_cast<size_t>(got);
    return r->buffer;
}

format::Status ReadExactly(int fd, uint64_t offset, uint8_t* buffer, size_t count) {
    CORRUPT_IF(platform::FileSeek(fd, offset) != static_cast<int64_t>(offset));
    while (count > 0) {
        uint32_t piece = count > kReadPiece ? kReadPiece : static_cast<uint32_t>(count);
        CORRUPT_IF(platform::FileRead(fd, buffer, piece) != static_cast<int64_t>(piece));
        buffer += piece;
        count -= piece;
    }
    return format::Status::Ok;
}

}  // namespace archive
