// Archives as tests want them: sound ones written by the product's own writer, and deliberately
// broken ones that differ from a sound archive in one value each, made through the writer's
// layout hooks. The broken forms are fields here, never in the product's structures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/archive_writer.h"

namespace vorntest {

struct TestEntry : pack::EntryOptions {
    std::string name;           // "\" between levels, at most 255 bytes
    std::vector<uint8_t> data;  // the unpacked file

    std::optional<uint32_t> crcOverride;
    std::optional<uint64_t> unpackedSizeOverride;
    std::optional<uint64_t> storedSizeOverride;         // the record lies about its data's length
    std::optional<std::vector<uint8_t>> rawStoredData;  // written as the data area instead
};

struct TestArchive {
    std::vector<uint8_t> prefix;  // bytes before the archive's base (a program image)
    uint32_t version = format::kVersionCurrent;
    uint32_t flags = 0;
    std::optional<uint32_t> reserved;  // the header's reserved word instead of the writer's
    std::vector<TestEntry> entries;
    std::optional<std::string> comment;  // written as a final "$comments$" entry
    pack::Method commentMethod = pack::Method::Stored;
    std::optional<std::string> namesPassword;  // set: the name table is enciphered with it
    uint8_t paddingByte = 0;                   // value of the name table's padding bytes

    std::optional<uint64_t> entryCountOverride;
    std::optional<uint32_t> namesCrcOverride;
    std::optional<uint32_t> namesLengthOverride;
    std::optional<uint8_t> namesEncryptedOverride;  // trailer byte, whatever namesPassword says
    std::optional<pack::SealOptions> seal;          // set: the archive is sealed
};

// Writes the archive through writer, which must not be open yet: into the file at path, or into
// sink when path is empty. The status and writer.Error() tell of a failure.
pack::Status WriteTestArchive(const TestArchive& archive, const std::string& path,
                              pack::ArchiveWriter& writer, pack::ByteSink* sink = nullptr);

// The whole archive, prefix included. Throws std::invalid_argument with the writer's message for
// what the format cannot carry (a name longer than 255 bytes or holding a NUL, a block size of 0
// or above 8 MiB); everything else, the broken forms included, is written as asked. Truncated
// archives are the returned bytes cut short; a false magic is a prefix holding it.
std::vector<uint8_t> BuildTestArchive(const TestArchive& archive);

// One entry's data area as the writer encodes it, cut into blocks of blockSize; throws like
// BuildTestArchive.
std::vector<uint8_t> EncodeTestEntryData(const std::vector<uint8_t>& data, pack::Method method,
                                         uint32_t blockSize,
                                         const pack::EncoderOptions& encoder = {},
                                         const char* password = nullptr);

// Writes bytes to a file; false on failure.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace vorntest
