// The in-memory archive builder: header, each entry's record and data area, the name-table trailer
// and the name table, in file order after any prefix. The override fields of ArchiveSpec
// replace single values after they are computed, so a broken form differs from the sound archive
// in that value only.
#include "pack/archive_writer.h"

#include <cstdio>
#include <stdexcept>

#include "crypto/blowfish.h"
#include "crypto/crc32.h"
#include "pack/archive_layout.h"

namespace pack {

namespace {

uint32_t CrcOf(const uint8_t* data, size_t size) {
    Crc32 crc;
    uint32_t value = crc.Value();
    // Crc32 takes 32-bit lengths; feed larger inputs in slices.
    while (size > 0) {
        const uint32_t slice = size > 0x40000000 ? 0x40000000u : static_cast<uint32_t>(size);
        value = crc.Update(data, slice);
        data += slice;
        size -= slice;
    }
    return value;
}

}  // namespace

void AppendEntryBlock(const uint8_t* data, uint32_t size, Method method,
                      const EncoderOptions& encoder, const char* password,
                      std::vector<uint8_t>& out) {
    const size_t start = out.size();
    switch (method) {
        case Method::Compressed:
            EncodeCompressedBlock(data, size, encoder, out);
            break;
        case Method::Best:
            EncodeBestBlock(data, size, encoder, out);
            break;
        case Method::Stored:
            EncodeStoredBlock(data, size, out);
            break;
    }
    if (password != nullptr) {
        const size_t body = start + 4;
        EncryptBuffer(&out[body], static_cast<uint32_t>(out.size() - body), password);
    }
}

std::vector<uint8_t> EncodeEntryData(const std::vector<uint8_t>& data, Method method,
                                     uint32_t blockSize, const EncoderOptions& encoder,
                                     const char* password) {
    CheckBlockSize(blockSize);
    std::vector<uint8_t> out;
    for (size_t at = 0; at < data.size(); at += blockSize) {
        const size_t left = data.size() - at;
        const uint32_t size = left < blockSize ? static_cast<uint32_t>(left) : blockSize;
        AppendEntryBlock(data.data() + at, size, method, encoder, password, out);
    }
    return out;
}

std::vector<uint8_t> BuildArchive(const ArchiveSpec& archiveSpec) {
    std::vector<const EntrySpec*> entries;
    for (const EntrySpec& entry : archiveSpec.entries) entries.push_back(&entry);
    EntrySpec commentEntry;
    if (archiveSpec.comment) {
        commentEntry.name = kCommentName;
        commentEntry.data.assign(archiveSpec.comment->begin(), archiveSpec.comment->end());
        commentEntry.method = archiveSpec.commentMethod;
        entries.push_back(&commentEntry);
    }

    std::vector<std::string> names;
    for (const EntrySpec* entry : entries) {
        CheckEntryName(entry->name);
        CheckBlockSize(entry->blockSize);
        names.push_back(entry->name);
    }

    std::vector<uint8_t> out = archiveSpec.prefix;

    ArchiveHeader header;
    header.version = archiveSpec.version;
    header.entryCount = archiveSpec.entryCountOverride.value_or(entries.size());
    header.flags = archiveSpec.flags;
    header.reserved = archiveSpec.reserved;
    AppendHeader(header, out);

    for (const EntrySpec* entry : entries) {
        const char* password = entry->password ? entry->password->c_str() : nullptr;
        std::vector<uint8_t> area =
            entry->rawStoredData ? *entry->rawStoredData
                                 : EncodeEntryData(entry->data, entry->method, entry->blockSize,
                                                   entry->encoder, password);
        EntryRecord record;
        record.encrypted = entry->password ? 1 : 0;
        record.attributes = entry->attributes;
        record.storedSize = entry->storedSizeOverride.value_or(area.size());
        record.unpackedSize = entry->unpackedSizeOverride.value_or(entry->data.size());
        record.fileTime = entry->fileTime;
        record.crc = entry->crcOverride.value_or(CrcOf(entry->data.data(), entry->data.size()));
        AppendRecord(record, out);
        out.insert(out.end(), area.begin(), area.end());
    }

    uint32_t namesLength = 0;
    std::vector<uint8_t> table = BuildPlainNameTable(names, archiveSpec.paddingByte, namesLength);
    NameTableTrailer trailer;
    trailer.namesCrc = archiveSpec.namesCrcOverride.value_or(CrcOf(table.data(), namesLength));
    trailer.namesLength = archiveSpec.namesLengthOverride.value_or(namesLength);
    trailer.namesEncrypted =
        archiveSpec.namesEncryptedOverride.value_or(archiveSpec.namesPassword ? 1 : 0);
    if (archiveSpec.namesPassword) EncipherNameTable(table, *archiveSpec.namesPassword);
    AppendTrailer(trailer, out);
    out.insert(out.end(), table.begin(), table.end());
    return out;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace pack
