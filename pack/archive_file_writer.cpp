// The streaming archive writer. Memory stays bounded by one block of input and its encoding,
// whatever the size of the files added: sizes and CRC are only known after the data is written, so
// the record is written first as a placeholder and rewritten in place afterwards.
#include "pack/archive_file_writer.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "crypto/crc32.h"
#include "pack/archive_layout.h"
#include "pack/self_extractor.h"

namespace pack {

ArchiveFileWriter::~ArchiveFileWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void ArchiveFileWriter::Abandon() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
    std::remove(path_.c_str());
    Fail("the archive was abandoned");
}

bool ArchiveFileWriter::Fail(const std::string& message) {
    if (!failed_) error_ = message;
    failed_ = true;
    return false;
}

bool ArchiveFileWriter::WriteBytes(const uint8_t* data, size_t size) {
    if (size == 0) return true;
    if (std::fwrite(data, 1, size, file_) != size) return Fail("cannot write " + path_);
    return true;
}

bool ArchiveFileWriter::Seek(uint64_t offset) {
#ifdef _WIN32
    const int result = _fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET);
#else
    const int result = fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
#endif
    if (result != 0) return Fail("cannot seek in " + path_);
    return true;
}

uint64_t ArchiveFileWriter::Tell() {
#ifdef _WIN32
    const int64_t at = _ftelli64(file_);
#else
    const int64_t at = ftello(file_);
#endif
    if (at < 0) {
        Fail("cannot tell the position in " + path_);
        return 0;
    }
    return static_cast<uint64_t>(at);
}

bool ArchiveFileWriter::Open(const std::string& path, const std::vector<uint8_t>& prefix,
                             uint32_t flags) {
    if (file_ != nullptr) return Fail("the writer is already open");
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return Fail("cannot create " + path);
    if (!WriteBytes(prefix.data(), prefix.size())) return false;
    base_ = prefix.size();
    ArchiveHeader header;
    header.version = kVersionCurrent;
    header.flags = flags;
    std::vector<uint8_t> bytes;
    AppendHeader(header, bytes);  // the entry count is rewritten by Finish
    return WriteBytes(bytes.data(), bytes.size());
}

bool ArchiveFileWriter::OpenWithStub(const std::string& path, const std::string& stubPath,
                                     uint32_t flags,
                                     const std::optional<std::string>& builtInDestination) {
    std::vector<uint8_t> stub;
    if (!ReadWholeFile(stubPath, stub)) return Fail("cannot read the stub " + stubPath);
    if (const auto at = FindArchiveSignature(stub)) {
        return Fail("the stub " + stubPath + " holds an archive signature at offset " +
                    std::to_string(*at) + "; a reader would take it for the archive");
    }
    std::string error;
    if (builtInDestination && !SetBuiltInDestination(stub, *builtInDestination, &error)) {
        return Fail(stubPath + ": " + error);
    }
    return Open(path, stub, flags);
}

bool ArchiveFileWriter::AddEntry(const EntrySpec& entry) {
    EntryOptions options;
    options.attributes = entry.attributes;
    options.fileTime = entry.fileTime;
    options.method = entry.method;
    options.blockSize = entry.blockSize;
    options.encoder = entry.encoder;
    options.password = entry.password;
    size_t at = 0;
    const DataSource source = [&](uint8_t* buffer, uint32_t count) -> int64_t {
        const size_t n = std::min<size_t>(count, entry.data.size() - at);
        std::copy(entry.data.begin() + at, entry.data.begin() + at + n, buffer);
        at += n;
        return static_cast<int64_t>(n);
    };
    return AddFromSource(entry.name, options, source, &entry);
}

bool ArchiveFileWriter::AddEntry(const std::string& name, const std::vector<uint8_t>& data,
                                 const EntryOptions& options) {
    EntrySpec entry;
    entry.name = name;
    entry.data = data;
    entry.attributes = options.attributes;
    entry.fileTime = options.fileTime;
    entry.method = options.method;
    entry.blockSize = options.blockSize;
    entry.encoder = options.encoder;
    entry.password = options.password;
    return AddEntry(entry);
}

bool ArchiveFileWriter::AddFile(const std::string& name, const std::string& sourcePath,
                                const EntryOptions& options) {
    if (failed_) return false;
    if (file_ == nullptr) return Fail("the writer is not open");
    // Reading the archive into itself would chase its own growing end until the disk is full.
    std::error_code ec;
    if (std::filesystem::equivalent(sourcePath, path_, ec)) {
        return Fail("cannot add the archive being written to itself: " + sourcePath);
    }
    std::FILE* source = std::fopen(sourcePath.c_str(), "rb");
    if (source == nullptr) return Fail("cannot open " + sourcePath);
    const DataSource read = [&](uint8_t* buffer, uint32_t count) -> int64_t {
        const size_t got = std::fread(buffer, 1, count, source);
        if (got < count && std::ferror(source)) return -1;
        return static_cast<int64_t>(got);
    };
    const bool added = AddFromSource(name, options, read, nullptr);
    std::fclose(source);
    return added;
}

bool ArchiveFileWriter::AddFromSource(const std::string& name, const EntryOptions& options,
                                      const DataSource& source, const EntrySpec* overrides) {
    if (failed_) return false;
    if (file_ == nullptr) return Fail("the writer is not open");
    try {
        CheckEntryName(name);
        CheckBlockSize(options.blockSize);
    } catch (const std::invalid_argument& e) {
        return Fail(e.what());
    }

    const uint64_t recordAt = Tell();
    if (failed_) return false;
    std::vector<uint8_t> bytes;
    AppendRecord(EntryRecord{}, bytes);
    if (!WriteBytes(bytes.data(), bytes.size())) return false;

    const char* password = options.password ? options.password->c_str() : nullptr;
    const bool raw = overrides != nullptr && overrides->rawStoredData.has_value();
    Crc32 crc;
    uint64_t unpacked = 0;
    uint64_t stored = 0;
    // Kept across entries: many small files should not cost an 8 MiB allocation each.
    std::vector<uint8_t>& block = block_;
    std::vector<uint8_t>& encoded = encoded_;
    if (block.size() < options.blockSize) block.resize(options.blockSize);
    for (;;) {
        // Sources may give less than asked before their end; a block is only short at the end.
        uint32_t filled = 0;
        while (filled < options.blockSize) {
            const int64_t got = source(block.data() + filled, options.blockSize - filled);
            if (got < 0) return Fail("cannot read the data of " + name);
            if (got == 0) break;
            filled += static_cast<uint32_t>(got);
        }
        if (filled == 0) break;
        crc.Update(block.data(), filled);
        unpacked += filled;
        if (!raw) {
            encoded.clear();
            try {
                AppendEntryBlock(block.data(), filled, options.method, options.encoder, password,
                                 encoded);
            } catch (const std::exception& e) {
                return Fail(std::string("cannot encode ") + name + ": " + e.what());
            }
            if (!WriteBytes(encoded.data(), encoded.size())) return false;
            stored += encoded.size();
        }
        bytesDone_ += filled;
        if (progress_) progress_(bytesDone_);
        if (filled < options.blockSize) break;
    }
    if (raw) {
        const std::vector<uint8_t>& area = *overrides->rawStoredData;
        if (!WriteBytes(area.data(), area.size())) return false;
        stored = area.size();
    }

    EntryRecord record;
    record.encrypted = options.password ? 1 : 0;
    record.attributes = options.attributes;
    record.storedSize = stored;
    record.unpackedSize = unpacked;
    record.fileTime = options.fileTime;
    record.crc = crc.Value();
    if (overrides != nullptr) {
        record.storedSize = overrides->storedSizeOverride.value_or(record.storedSize);
        record.unpackedSize = overrides->unpackedSizeOverride.value_or(record.unpackedSize);
        record.crc = overrides->crcOverride.value_or(record.crc);
    }
    bytes.clear();
    AppendRecord(record, bytes);
    const uint64_t endAt = Tell();
    if (failed_ || !Seek(recordAt) || !WriteBytes(bytes.data(), bytes.size()) || !Seek(endAt)) {
        return false;
    }
    names_.push_back(name);
    return true;
}

bool ArchiveFileWriter::Finish(const std::optional<std::string>& comment,
                               const std::optional<std::string>& namesPassword, uint8_t paddingByte,
                               Method commentMethod) {
    if (failed_) return false;
    if (file_ == nullptr) return Fail("the writer is not open");
    if (comment) {
        EntryOptions options;
        options.method = commentMethod;
        if (!AddEntry(kCommentName, std::vector<uint8_t>(comment->begin(), comment->end()),
                      options)) {
            return false;
        }
    }

    uint32_t namesLength = 0;
    std::vector<uint8_t> table;
    try {
        table = BuildPlainNameTable(names_, paddingByte, namesLength);
    } catch (const std::invalid_argument& e) {
        return Fail(e.what());
    }
    NameTableTrailer trailer;
    Crc32 crc;
    trailer.namesCrc = crc.Update(table.data(), namesLength);
    trailer.namesLength = namesLength;
    trailer.namesEncrypted = namesPassword ? 1 : 0;
    if (namesPassword) EncipherNameTable(table, *namesPassword);
    std::vector<uint8_t> bytes;
    AppendTrailer(trailer, bytes);
    bytes.insert(bytes.end(), table.begin(), table.end());
    if (!WriteBytes(bytes.data(), bytes.size())) return false;

    uint8_t count[8];
    PutU64(count, names_.size());
    if (!Seek(base_ + 8) || !WriteBytes(count, sizeof count)) return false;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) return Fail("cannot write " + path_);
    return true;
}

}  // namespace pack
