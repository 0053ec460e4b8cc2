// The byte layout of the container's fixed parts (header, entry record, name-table trailer) and the
// name table itself, shared by the in-memory builder and the streaming file writer so that both
// produce the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/archive_writer.h"

namespace pack {

constexpr size_t kHeaderBytes = 24;
constexpr size_t kRecordBytes = 40;
constexpr size_t kTrailerBytes = 12;
constexpr size_t kNameUnitBytes = 16;

struct ArchiveHeader {
    uint32_t magic = 0x4E524F56;
    uint32_t version = 0;
    uint64_t entryCount = 0;
    uint32_t flags = 0;
    uint32_t reserved = 0;
};

struct EntryRecord {
    uint8_t encrypted = 0;
    uint16_t attributes = 0;
    uint64_t storedSize = 0;
    uint64_t unpackedSize = 0;
    uint64_t fileTime = 0;
    uint32_t crc = 0;
};

struct NameTableTrailer {
    uint8_t namesEncrypted = 0;
    uint32_t namesCrc = 0;
    uint32_t namesLength = 0;
};

void PutU16(uint8_t* at, uint16_t value);
void PutU32(uint8_t* at, uint32_t value);
void PutU64(uint8_t* at, uint64_t value);

void AppendHeader(const ArchiveHeader& header, std::vector<uint8_t>& out);
void AppendRecord(const EntryRecord& record, std::vector<uint8_t>& out);
void AppendTrailer(const NameTableTrailer& trailer, std::vector<uint8_t>& out);

// The plain name table: every name with its NUL, in entry order, padded with paddingByte to a
// multiple of 16 bytes. namesLength receives the length before the padding.
std::vector<uint8_t> BuildPlainNameTable(const std::vector<std::string>& names, uint8_t paddingByte,
                                         uint32_t& namesLength);

// Enciphers a padded name table in place, unit by unit, keyed from password.
void EncipherNameTable(std::vector<uint8_t>& table, const std::string& password);

// Throws std::invalid_argument for a name the format cannot carry: longer than 255 bytes or
// holding a NUL byte.
void CheckEntryName(const std::string& name);

// Throws std::invalid_argument unless 0 < blockSize <= kMaxBlockSize.
void CheckBlockSize(uint32_t blockSize);

// Appends one block of data[0 .. size) to out, stored or compressed, and enciphers its body (never
// its 4-byte header) with password when one is given.
void AppendEntryBlock(const uint8_t* data, uint32_t size, Method method,
                      const EncoderOptions& encoder, const char* password,
                      std::vector<uint8_t>& out);

inline uint32_t RoundUp16(uint32_t n) {
    return (n + 15u) & ~15u;
}

}  // namespace pack
