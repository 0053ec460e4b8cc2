// Byte layout of the container's fixed parts, little-endian throughout, and the name table.
#include "pack/archive_layout.h"

#include <stdexcept>

#include "crypto/blowfish.h"
#include "pack/archive_writer.h"

namespace pack {

void PutU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutU64(uint8_t* at, uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendHeader(const ArchiveHeader& header, std::vector<uint8_t>& out) {
    uint8_t bytes[kHeaderBytes] = {};
    PutU32(bytes + 0, header.magic);
    PutU32(bytes + 4, header.version);
    PutU64(bytes + 8, header.entryCount);
    PutU32(bytes + 16, header.flags);
    PutU32(bytes + 20, header.reserved);
    out.insert(out.end(), bytes, bytes + kHeaderBytes);
}

void AppendRecord(const EntryRecord& record, std::vector<uint8_t>& out) {
    uint8_t bytes[kRecordBytes] = {};
    bytes[1] = record.encrypted;
    PutU16(bytes + 2, record.attributes);
    PutU64(bytes + 8, record.storedSize);
    PutU64(bytes + 16, record.unpackedSize);
    PutU64(bytes + 24, record.fileTime);
    PutU32(bytes + 32, record.crc);
    out.insert(out.end(), bytes, bytes + kRecordBytes);
}

void AppendTrailer(const NameTableTrailer& trailer, std::vector<uint8_t>& out) {
    uint8_t bytes[kTrailerBytes] = {};
    bytes[1] = trailer.namesEncrypted;
    PutU32(bytes + 4, trailer.namesCrc);
    PutU32(bytes + 8, trailer.namesLength);
    out.insert(out.end(), bytes, bytes + kTrailerBytes);
}

std::vector<uint8_t> BuildPlainNameTable(const std::vector<std::string>& names, uint8_t paddingByte,
                                         uint32_t& namesLength) {
    std::vector<uint8_t> table;
    for (const std::string& name : names) {
        table.insert(table.end(), name.begin(), name.end());
        table.push_back(0);
    }
    if (table.size() > UINT32_MAX) throw std::invalid_argument("name table longer than 4 GiB");
    namesLength = static_cast<uint32_t>(table.size());
    table.resize((table.size() + kNameUnitBytes - 1) / kNameUnitBytes * kNameUnitBytes,
                 paddingByte);
    return table;
}

void EncipherNameTable(std::vector<uint8_t>& table, const std::string& password) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, password.c_str());
    for (size_t at = 0; at + kNameUnitBytes <= table.size(); at += kNameUnitBytes) {
        EncryptNameUnit(&ctx, &table[at]);
    }
}

void CheckEntryName(const std::string& name) {
    if (name.size() > kMaxNameBytes) {
        throw std::invalid_argument("entry name longer than 255 bytes: " + name.substr(0, 64) +
                                    "...");
    }
    // The name table separates names by NUL; a NUL inside would split the name in two.
    if (name.find('\0') != std::string::npos) {
        throw std::invalid_argument("entry name holds a NUL byte");
    }
}

void CheckBlockSize(uint32_t blockSize) {
    if (blockSize == 0 || blockSize > kMaxBlockSize) {
        throw std::invalid_argument("block size must be 1 to 8 MiB, got " +
                                    std::to_string(blockSize));
    }
}

}  // namespace pack
