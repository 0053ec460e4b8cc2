// The archive writer. Memory stays bounded by the blocks in flight and their encodings, whatever
// the size of the files added: sizes and CRC are only known after the data is written, so the
// record is written first as a placeholder and rewritten in place afterwards.
#include "pack/archive_writer.h"

#include <algorithm>
#include <filesystem>

#include "crypto/crc32.h"
#include "crypto/secure_memory.h"
#include "format/lz_block.h"
#include "format/solid.h"
#include "pack/name_table.h"
#include "pack/self_extractor.h"

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

ArchiveWriter::~ArchiveWriter() {
    // A writer never opened still holds the password it was given.
    if (sealOptions_) SecureWipe(sealOptions_->password.data(), sealOptions_->password.size());
}

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

void ArchiveWriter::EncodeHeaderBytes(bool rewrite, uint8_t bytes[format::kHeaderBytes]) {
    format::ArchiveHeader header;
    header.entryCount = rewrite ? names_.size() : 0;
    if (lzBlocks_) header.reserved |= format::kMarkLzBlocks;
    if (sealOptions_ || sealer_) header.reserved |= format::kMarkSealed;
    if (groups_ != 0) header.reserved |= format::kMarkSolidGroups;
    if (hooks_ != nullptr) hooks_->Header(header);
    format::EncodeHeader(header, bytes);
}

Status ArchiveWriter::WriteHeader(bool rewrite) {
    uint8_t bytes[format::kHeaderBytes];
    EncodeHeaderBytes(rewrite, bytes);
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
    if (sealOptions_) return StartSealing(prefix);
    return WriteHeader(false);
}

// The header and the seal block; the archive key is derived before either is written.
Status ArchiveWriter::StartSealing(const std::vector<uint8_t>& prefix) {
    // Every reader of sealed archives reads LZ blocks: the mark is set from the start, so the
    // reserved word that the seals authenticate is already final.
    lzBlocks_ = true;
    uint8_t header[format::kHeaderBytes];
    EncodeHeaderBytes(false, header);
    sealer_ = std::make_unique<Sealer>();
    std::string problem;
    const Status begun = sealer_->Begin(*sealOptions_, header, &problem);
    SecureWipe(sealOptions_->password.data(), sealOptions_->password.size());
    sealOptions_.reset();
    if (begun != Status::Ok) return Fail(begun, problem);
    SfxSettingsDigest(prefix.data(), prefix.size(), settingsDigest_);
    if (Write(header, sizeof header) != Status::Ok) return failed_;
    return Write(sealer_->SealBlockBytes(), format::kSealBlockBytes);
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

// The trailer and the names, each sealed with the nonce of the entry count in a sealed archive;
// table holds the names with their padding, which a sealed archive leaves out.
Status ArchiveWriter::WriteNames(const format::NameTrailer& trailer, std::vector<uint8_t>& table) {
    uint8_t bytes[format::kSealedTrailerBytes];
    format::EncodeTrailer(trailer, bytes);
    if (!sealer_) {
        if (Write(bytes, format::kTrailerBytes) != Status::Ok) return failed_;
        return Write(table.data(), table.size());
    }
    std::copy_n(settingsDigest_, sizeof settingsDigest_, bytes + format::kTrailerBytes);
    uint8_t nonce[format::kSealNonceBytes];
    format::SealNonce(format::kSealTrailer, names_.size(), 0, false, nonce);
    sealer_->Seal(sealer_->ArchiveKey(), nonce, bytes, format::kSealedTrailerPlainBytes, bytes);
    table.resize(trailer.namesLength + size_t{format::kSealTagBytes});
    format::SealNonce(format::kSealNames, names_.size(), 0, false, nonce);
    sealer_->Seal(sealer_->ArchiveKey(), nonce, table.data(), trailer.namesLength, table.data());
    if (Write(bytes, sizeof bytes) != Status::Ok) return failed_;
    return Write(table.data(), table.size());
}

Status ArchiveWriter::Finish(const std::optional<std::string>& comment,
                             const std::optional<std::string>& namesPassword,
                             Method commentMethod) {
    if (Usable() != Status::Ok) return failed_;
    if (sealer_ && namesPassword && !sealer_->IsArchivePassword(*namesPassword)) {
        return Fail(Status::InvalidArgument,
                    "the names of a sealed archive are sealed under the archive's password");
    }
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
    trailer.namesEncrypted = namesPassword || sealer_ ? 1 : 0;
    if (hooks_ != nullptr) hooks_->Trailer(trailer);
    if (namesPassword && !sealer_) EncipherNameTable(table, *namesPassword);
    if (WriteNames(trailer, table) != Status::Ok || WriteHeader(true) != Status::Ok) {
        return failed_;
    }
    if (WritePrefixChecksum() != Status::Ok) return failed_;
    finished_ = true;
    Status closed = sink_->Close();
    if (closed != Status::Ok) return Fail(closed, "cannot write " + path_);
    return Status::Ok;
}

}  // namespace pack
