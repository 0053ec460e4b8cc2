// The archive writer: assembles a VORN archive from entries (stored or compressed blocks,
// optionally enciphered), a name table (optionally enciphered), an optional comment entry and
// any bytes before the archive. Tests also use it to make the deliberately broken forms a reader
// must refuse, through the override fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/block_encoder.h"

namespace pack {

constexpr uint32_t kMagic = 0x4E524F56;  // "VORN", first byte lowest
constexpr uint32_t kVersionCurrent = 0x8f000002;
constexpr uint32_t kVersionOld = 0x8f000001;
constexpr uint32_t kFlagLocked = 2;
constexpr uint32_t kMaxBlockSize = 0x800000;  // 8 MiB of output per block
constexpr const char* kCommentName = "$comments$";
constexpr size_t kMaxNameBytes = 255;  // a name's bytes before its NUL

// Stored: raw blocks. Compressed: every block compressed. Best: each block compressed where that
// saves at least a sixteenth of the stored block, stored otherwise (EncodeBestBlock).
enum class Method { Stored, Compressed, Best };

struct EntrySpec {
    std::string name;            // "\" between levels, at most 255 bytes
    std::vector<uint8_t> data;   // the unpacked file
    uint16_t attributes = 0x20;  // Windows attribute word
    uint64_t fileTime = 0;       // FILETIME
    Method method = Method::Stored;
    uint32_t blockSize = kMaxBlockSize;  // output bytes per block
    EncoderOptions encoder;
    std::optional<std::string> password;  // set: the entry's data is enciphered with it

    // Broken forms for tests.
    std::optional<uint32_t> crcOverride;
    std::optional<uint64_t> unpackedSizeOverride;
    std::optional<uint64_t> storedSizeOverride;         // the record lies about its data's length
    std::optional<std::vector<uint8_t>> rawStoredData;  // written as the data area instead
};

struct ArchiveSpec {
    std::vector<uint8_t> prefix;  // bytes before the archive's base (a program image)
    uint32_t version = kVersionCurrent;
    uint32_t flags = 0;
    uint32_t reserved = 0;
    std::vector<EntrySpec> entries;
    std::optional<std::string> comment;        // written as a final "$comments$" entry
    Method commentMethod = Method::Stored;     // the comment entry is never enciphered: the
                                               // self-extractor reads it without a password
    std::optional<std::string> namesPassword;  // set: the name table is enciphered with it
    uint8_t paddingByte = 0;                   // value of the name table's padding bytes

    // Broken forms for tests.
    std::optional<uint64_t> entryCountOverride;
    std::optional<uint32_t> namesCrcOverride;
    std::optional<uint32_t> namesLengthOverride;
    std::optional<uint8_t> namesEncryptedOverride;  // trailer byte, whatever namesPassword says
};

// Builds the whole archive in memory, prefix included. Throws std::invalid_argument for what the
// format cannot carry: a name longer than kMaxNameBytes or holding a NUL byte, a blockSize of 0
// or above kMaxBlockSize. Everything else, the broken forms included, is written as asked.
// Truncated archives are the returned vector cut short; a false magic is a prefix holding it.
std::vector<uint8_t> BuildArchive(const ArchiveSpec& archiveSpec);

// Encodes one entry's data area: its blocks, enciphered when password is given (null: plain).
// Data of 0 bytes has no blocks at all. Throws std::invalid_argument for a bad blockSize.
std::vector<uint8_t> EncodeEntryData(const std::vector<uint8_t>& data, Method method,
                                     uint32_t blockSize, const EncoderOptions& encoder,
                                     const char* password);

// Writes bytes to a file; false on failure.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Reads a whole file into bytes; false on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace pack
