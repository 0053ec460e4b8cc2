// The open of a sealed archive past its plain header: the seal block, its parameters checked
// before anything is allocated, the key of the open's password derived once (or taken from
// another handle of the same archive), then every record, the trailer and the name table opened
// and their tags checked. The first sealed piece is where a wrong password shows (CrcMismatch);
// a tag that fails after it means the archive was changed (Corrupt). The opened records stay
// with the handle, as a plain archive's do.
#include <cstdlib>
#include <cstring>

#include "archive/archive_handle.h"
#include "archive/chunk_reader.h"
#include "crypto/aead.h"
#include "crypto/secure_memory.h"
#include "format/failed_check.h"

namespace archive {

namespace {

// Opens one sealed piece in place: plainBytes at bytes, its tag after them, into out.
bool OpenPiece(const SealState& seal, format::SealDomain domain, uint64_t index,
               const uint8_t* bytes, uint32_t plainBytes, uint8_t* out) {
    uint8_t nonce[format::kSealNonceBytes];
    format::SealNonce(domain, index, 0, false, nonce);
    const AeadMessage message{seal.aad, format::kSealAadBytes, bytes, out, plainBytes};
    return ChaCha20Poly1305Open(seal.openKey, nonce, message, bytes + plainBytes);
}

// The status of a piece whose tag failed: the first piece is the password check.
Status FailedPiece(bool first) {
    return first ? Status::CrcMismatch : CORRUPT("a sealed piece fails its tag");
}

// The key of the open's password: model's when model opened this very archive with it.
Status OpenKey(ArchiveHandle* h, const char* password, const ArchiveHandle* model) {
    DigestPassword(password, h->seal.openDigest);
    if (model != nullptr && model->seal.sealed &&
        std::memcmp(model->seal.aad, h->seal.aad, format::kSealAadBytes) == 0 &&
        ConstantTimeEqual(model->seal.openDigest, h->seal.openDigest, kPasswordDigestBytes)) {
        std::memcpy(h->seal.openKey, model->seal.openKey, format::kSealKeyBytes);
        return Status::Ok;
    }
    return DeriveSealKey(h->seal.block, password, h->seal.openKey);
}

// The record an open walk or a lookup reads: a sealed entry's record is enciphered by its
// archive's writer, never 0, and its stored size is that of whole segments.
Status CheckRecord(const format::EntryRecord& record) {
    uint64_t plain;
    CORRUPT_IF(record.encrypted != 1 && record.encrypted != 2);
    CORRUPT_IF(!format::PlainDataBytes(record.storedSize, &plain));
    return Status::Ok;
}

Status OpenRecord(const ArchiveHandle* h, uint64_t index, const uint8_t* sealed,
                  format::EntryRecord* record) {
    uint8_t plain[format::kRecordBytes];
    if (!OpenPiece(h->seal, format::kSealRecord, index, sealed, format::kRecordBytes, plain)) {
        return FailedPiece(index == 0);
    }
    *record = format::DecodeRecord(plain);
    SecureWipe(plain, sizeof plain);
    return CheckRecord(*record);
}

Status WalkOne(ArchiveHandle* h, ChunkReader* reader, uint64_t* capacity, uint64_t* pos) {
    const uint8_t* bytes = ChunkAt(reader, *pos, format::kSealedRecordBytes);
    CORRUPT_IF(bytes == nullptr);
    format::EntryRecord record;
    Status status = OpenRecord(h, h->recordCount, bytes, &record);
    if (status != Status::Ok) return status;
    if (!AppendRecord(h, capacity, *pos, record)) return Status::NoMemory;
    const uint64_t dataStart = *pos + format::kSealedRecordBytes;
    CORRUPT_IF(record.storedSize > h->fileLength - dataStart);
    *pos = dataStart + record.storedSize;
    return Status::Ok;
}

// Every record from the seal block's end to the trailer, keeping each one's offset.
Status WalkSealedRecords(ArchiveHandle* h, uint64_t* trailerOffset) {
    uint64_t pos = h->baseOffset + format::kHeaderBytes + format::kSealBlockBytes;
    const uint64_t count = h->header.entryCount;
    // A record and its data's tag at the least, and the trailer and the names' tag after them.
    constexpr uint64_t kLeast = format::kSealedRecordBytes + format::kSealTagBytes;
    constexpr uint64_t kEnd = format::kSealedTrailerBytes + format::kSealTagBytes;
    CORRUPT_IF(h->fileLength - pos < kEnd || count > (h->fileLength - pos - kEnd) / kLeast);
    ChunkReader reader;
    if (!ChunkInit(&reader, h->archiveFd, h->fileLength, kWalkBuffer, kWalkFirstRead)) {
        return Status::NoMemory;
    }
    uint64_t capacity = 0;
    Status status = Status::Ok;
    for (uint64_t i = 0; i < count && status == Status::Ok; ++i) {
        status = WalkOne(h, &reader, &capacity, &pos);
    }
    ChunkFree(&reader);
    *trailerOffset = pos;
    return status;
}

Status ReadSealedTrailer(ArchiveHandle* h, uint64_t offset) {
    CORRUPT_IF(h->fileLength - offset < format::kSealedTrailerBytes);
    uint8_t bytes[format::kSealedTrailerBytes];
    Status status = ReadExactly(h->archiveFd, offset, bytes, sizeof bytes);
    if (status != Status::Ok) return status;
    const uint64_t count = h->header.entryCount;
    if (!OpenPiece(h->seal, format::kSealTrailer, count, bytes, format::kSealedTrailerPlainBytes,
                   bytes)) {
        return FailedPiece(count == 0);
    }
    h->trailerOffset = offset;
    h->trailer = format::DecodeTrailer(bytes);
    std::memcpy(h->seal.settingsDigest, bytes + format::kTrailerBytes,
                format::kSettingsDigestBytes);
    CORRUPT_IF(h->trailer.namesEncrypted != 1);
    return Status::Ok;
}

// The names: names-length bytes and their tag. A writer puts them at the end of the file, but
// signing a self-extractor appends its signature after them, as it does to any archive: bytes
// past the tag are not read, as no reader acts on them.
Status ReadSealedNames(ArchiveHandle* h) {
    const uint64_t start = h->trailerOffset + format::kSealedTrailerBytes;
    const uint64_t length = h->trailer.namesLength;
    CORRUPT_IF(h->fileLength - start < length + format::kSealTagBytes);
    h->names = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length) + kAeadTagBytes));
    if (!h->names) return Status::NoMemory;
    Status status = ReadExactly(h->archiveFd, start, h->names,
                                static_cast<size_t>(length) + format::kSealTagBytes);
    if (status != Status::Ok) return status;
    CORRUPT_IF(!OpenPiece(h->seal, format::kSealNames, h->header.entryCount, h->names,
                          static_cast<uint32_t>(length), h->names));
    h->namesSize = static_cast<size_t>(length);
    return Status::Ok;
}

}  // namespace

Status ReadSealedArchive(ArchiveHandle* h, const uint8_t* header, const char* password,
                         const ArchiveHandle* model) {
    const uint64_t at = h->baseOffset + format::kHeaderBytes;
    CORRUPT_IF(h->fileLength - at < format::kSealBlockBytes);
    uint8_t block[format::kSealBlockBytes];
    Status status = ReadExactly(h->archiveFd, at, block, sizeof block);
    if (status != Status::Ok) return status;
    CORRUPT_IF(!format::DecodeSealBlock(block, &h->seal.block));
    // Before any allocation: a hostile archive asks for no more memory or time than the bounds.
    CORRUPT_IF(!format::SealParametersAllowed(h->seal.block));
    CORRUPT_IF(h->header.entryCount >= format::kSealMaxEntries);
    if (password == nullptr) return Status::PasswordNeeded;
    h->seal.sealed = true;
    format::SealAad(header, block, h->seal.aad);
    status = OpenKey(h, password, model);
    uint64_t trailerOffset = 0;
    if (status == Status::Ok) status = WalkSealedRecords(h, &trailerOffset);
    if (status == Status::Ok) status = ReadSealedTrailer(h, trailerOffset);
    if (status == Status::Ok) status = ReadSealedNames(h);
    return status;
}

}  // namespace archive
