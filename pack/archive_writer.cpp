// The archive writer. Memory stays bounded by the blocks in flight and their encodings, whatever
// the size of the files added: sizes and CRC are only known after the data is written, so the
// record is written first as a placeholder and rewritten in place afterwards.
#include "pack/archive_writer.h"

#include <algorithm>
#include <filesystem>

#include "crypto/crc32.h"
#include "format/lz_block.h"
#include "format/solid.h"
#include "pack/name_table.h"

namespace pack {

namespace {

// Why the format cannot carry name, or empty when it can.
std::string NameProblem(const std::string& name) {
    if (name.size() > format::kMaxNameBytes) {
        return "entry name longer than 255 bytes: " + name.substr(0, 64) + "...";
    }
    // The name table separates names by NUL; a NUL inside would split the name in two.
    if (name.find('\0') != std::string::npos) return "entry name holds a NUL byte";
    return "";
}

}  // namespace

ArchiveWriter::~ArchiveWriter() = default;

Status ArchiveWriter::Fail(Status status, const std::string& message) {
    if (failed_ == Status::Ok) {
        error_ = message;
        failed_ = status;
    }
    return failed_;
}

Status ArchiveWriter::Usable() {
    if (failed_ != Status::Ok) return failed_;
    if (sink_ == nullptr) return Fail(Status::InvalidArgument, "the writer is not open");
    if (finished_) return Fail(Status::InvalidArgument, "the archive is already finished");
    return Status::Ok;
}

Status ArchiveWriter::Write(const uint8_t* data, size_t size) {
    Status status = sink_->Append(data, size);
    if (status != Status::Ok) return Fail(status, "cannot write " + path_);
    return Status::Ok;
}

Status ArchiveWriter::WriteHeader(bool rewrite) {
    format::ArchiveHeader header;
    header.entryCount = rewrite ? names_.size() : 0;
    if (lzBlocks_) header.reserved |= format::kMarkLzBlocks;
    if (groups_ != 0) header.reserved |= format::kMarkSolidGroups;
    if (hooks_ != nullptr) hooks_->Header(header);
    uint8_t bytes[format::kHeaderBytes];
    format::EncodeHeader(header, bytes);
    if (!rewrite) return Write(bytes, sizeof bytes);
    Status status = sink_->Rewrite(base_, bytes, sizeof bytes);
    return status == Status::Ok ? status : Fail(status, "cannot write " + path_);
}

// The output is read back once it is complete: a self-extractor's image checksum covers its
// archive too.
Status ArchiveWriter::WritePrefixChecksum() {
    if (checksum_ == nullptr) return Status::Ok;
    PrefixChecksum& checksum = *checksum_;
    std::vector<uint8_t> chunk(1 << 20);
    for (uint64_t at = 0; at < sink_->Size(); at += chunk.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), sink_->Size() - at));
        Status status = sink_->ReadBack(at, chunk.data(), n);
        if (status != Status::Ok) return Fail(status, "cannot read back " + path_);
        checksum.Update(chunk.data(), n);
    }
    uint8_t field[4];
    format::StoreLE32(field, checksum.Finish());
    Status status = sink_->Rewrite(checksum.Field(), field, sizeof field);
    return status == Status::Ok ? status : Fail(status, "cannot write " + path_);
}

Status ArchiveWriter::Start(ByteSink* sink, const std::vector<uint8_t>& prefix,
                            PrefixChecksum* checksum) {
    sink_ = sink;
    checksum_ = checksum;
    if (checksum_ == nullptr) {
        if (Write(prefix.data(), prefix.size()) != Status::Ok) return failed_;
    } else {
        if (prefix.size() < 4 || checksum_->Field() > prefix.size() - 4) {
            return Fail(Status::InvalidArgument, "the prefix's checksum field lies outside it");
        }
        // Summed as zeros, and written last, once every byte behind it is known.
        std::vector<uint8_t> zeroed = prefix;
        std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(checksum_->Field()), 4, 0);
        if (Write(zeroed.data(), zeroed.size()) != Status::Ok) return failed_;
    }
    base_ = prefix.size();
    return WriteHeader(false);
}

Status ArchiveWriter::Open(const std::string& path, const std::vector<uint8_t>& prefix,
                           PrefixChecksum* checksum) {
    if (sink_ != nullptr) return Fail(Status::InvalidArgument, "the writer is already open");
    path_ = path;
    if (file_.Create(path) != Status::Ok) {
        return Fail(Status::OutputNotCreated, "cannot create " + path);
    }
    return Start(&file_, prefix, checksum);
}

Status ArchiveWriter::Open(ByteSink& sink, const std::vector<uint8_t>& prefix,
                           PrefixChecksum* checksum) {
    if (sink_ != nullptr) return Fail(Status::InvalidArgument, "the writer is already open");
    path_ = "the archive";
    return Start(&sink, prefix, checksum);
}

Status ArchiveWriter::CheckSource(const std::string& sourcePath) {
    if (Usable() != Status::Ok) return failed_;
    // Reading the archive into itself would chase its own growing end until the disk is full.
    std::error_code ec;
    if (sink_ == &file_ && std::filesystem::equivalent(sourcePath, path_, ec)) {
        return Fail(Status::InvalidArgument,
                    "cannot add the archive being written to itself: " + sourcePath);
    }
    return Status::Ok;
}

Status ArchiveWriter::CheckEntry(const std::string& name, const EntryOptions& options) {
    if (Usable() != Status::Ok) return failed_;
    std::string problem = NameProblem(name);
    if (!problem.empty()) return Fail(Status::InvalidArgument, problem);
    if (CheckBlockSize(options.blockSize) != Status::Ok) {
        return Fail(Status::InvalidArgument,
                    "block size must be 1 to 8 MiB, got " + std::to_string(options.blockSize));
    }
    // Readers before LZ blocks existed take a type-2 block for corruption; the mark in the
    // header, set at Finish, is what lets the archive hold them.
    if (options.method != Method::Stored && options.encoder.level >= encoder::kLzLevel)
        lzBlocks_ = true;
    return Status::Ok;
}

// Rewrites the placeholder at at with the record of the entry that comes next; record holds its
// sizes and CRC.
Status ArchiveWriter::WriteRecord(uint64_t at, const EntryOptions& options,
                                  format::EntryRecord record) {
    record.encrypted = options.password ? 1 : 0;
    record.attributes = options.attributes;
    record.fileTime = options.fileTime;
    if (hooks_ != nullptr) hooks_->Record(names_.size(), record);
    uint8_t bytes[format::kRecordBytes];
    format::EncodeRecord(record, bytes);
    Status status = sink_->Rewrite(at, bytes, sizeof bytes);
    return status == Status::Ok ? status : Fail(status, "cannot write " + path_);
}

Status ArchiveWriter::Finish(const std::optional<std::string>& comment,
                             const std::optional<std::string>& namesPassword,
                             Method commentMethod) {
    if (Usable() != Status::Ok) return failed_;
    if (comment) {
        EntryOptions options;
        options.method = commentMethod;
        std::vector<uint8_t> text(comment->begin(), comment->end());
        if (AddEntry(format::kCommentName, text, options) != Status::Ok) return failed_;
    }

    std::vector<uint8_t> table;
    format::NameTrailer trailer;
    uint8_t padding = hooks_ ? hooks_->NamePadding() : 0;
    if (BuildPlainNameTable(names_, padding, &table, &trailer.namesLength) != Status::Ok) {
        return Fail(Status::InvalidArgument, "name table longer than 4 GiB");
    }
    Crc32 crc;
    trailer.namesCrc = crc.Update(table.data(), trailer.namesLength);
    trailer.namesEncrypted = namesPassword ? 1 : 0;
    if (hooks_ != nullptr) hooks_->Trailer(trailer);
    if (namesPassword) EncipherNameTable(table, *namesPassword);
    uint8_t bytes[format::kTrailerBytes];
    format::EncodeTrailer(trailer, bytes);
    if (Write(bytes, sizeof bytes) != Status::Ok ||
        Write(table.data(), table.size()) != Status::Ok || WriteHeader(true) != Status::Ok) {
        return failed_;
    }
    if (WritePrefixChecksum() != Status::Ok) return failed_;
    finished_ = true;
    Status closed = sink_->Close();
    if (closed != Status::Ok) return Fail(closed, "cannot write " + path_);
    return Status::Ok;
}

}  // namespace pack
