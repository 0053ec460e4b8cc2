// The sealed archive as reader and writer both see it: the header mark, the 40-byte seal block
// with the key derivation's parameters and salt, the widths of sealed records, trailer and data
// segments, the nonce of every sealed piece and the bounds a reader enforces before it derives
// a key. docs/format.md describes the bytes; this is their one definition.
//
// In a sealed archive every byte a reader acts on is enciphered and authenticated with
// ChaCha20-Poly1305 under a key that Argon2id derives from the password and the archive's salt.
// The header stays plain (a reader must find the archive and its entry count), and so does the
// seal block (a reader needs the salt and parameters before it has a key).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format/byte_order.h"
#include "format/container.h"
#include "format/solid.h"

namespace format {

// The header's reserved word (offset 20) with this bit set says that the archive is sealed.
constexpr uint32_t kMarkSealed = 2;
// The reserved-word bits a reader knows; an archive with any other bit is refused.
constexpr uint32_t kKnownReservedBits = 1 | kMarkSealed | kMarkSolidGroups;

inline bool ArchiveIsSealed(uint32_t reservedWord) {
    return (reservedWord & kMarkSealed) != 0;
}

// The seal block follows the header at base + 24. Its first 16 bytes read as the head of an
// enciphered entry record whose stored data runs past any file, so a reader that does not know
// the mark ends its record walk there instead of reading sealed bytes as records.
constexpr uint32_t kSealBlockBytes = 40;
constexpr uint16_t kSealSchemeArgon2idChaCha20Poly1305 = 1;
constexpr uint64_t kSealOlderReaderStop = ~uint64_t{0};
constexpr uint32_t kSaltBytes = 16;
constexpr uint32_t kSealKeyBytes = 32;
constexpr uint32_t kSealTagBytes = 16;

struct SealBlock {
    uint16_t scheme = kSealSchemeArgon2idChaCha20Poly1305;
    uint32_t memoryKiB = 65536;  // Argon2id m
    uint32_t passes = 3;         // t
    uint32_t lanes = 1;          // p
    uint8_t salt[kSaltBytes] = {};
};

// What a reader accepts before it allocates anything: at most 256 MiB, and at most about four
// times the default's work, so that no archive can ask for gigabytes or for minutes.
#if defined(VORN_FUZZ_SMALL_KDF)
// Fuzz builds only: a derivation of 8 to 64 KiB and one or two passes, so that every input the
// fuzzer makes costs microseconds, however it sets the parameters. Archives of such a build are
// for its own fuzz targets; other builds refuse them.
constexpr uint32_t kSealMinMemoryKiB = 8;
constexpr uint32_t kSealMaxMemoryKiB = 64;
constexpr uint32_t kSealMaxPasses = 2;
constexpr uint32_t kSealMaxLanes = 1;
constexpr uint64_t kSealMaxWorkKiB = 128;
#else
constexpr uint32_t kSealMinMemoryKiB = 8192;
constexpr uint32_t kSealMaxMemoryKiB = 262144;
constexpr uint32_t kSealMaxPasses = 8;
constexpr uint32_t kSealMaxLanes = 4;
constexpr uint64_t kSealMaxWorkKiB = uint64_t{65536} * 3 * 4;  // memory times passes
#endif

inline bool SealParametersAllowed(const SealBlock& seal) {
    return seal.scheme == kSealSchemeArgon2idChaCha20Poly1305 &&
           seal.memoryKiB >= kSealMinMemoryKiB && seal.memoryKiB <= kSealMaxMemoryKiB &&
           seal.passes >= 1 && seal.passes <= kSealMaxPasses && seal.lanes >= 1 &&
           seal.lanes <= kSealMaxLanes && uint64_t{seal.memoryKiB} * seal.passes <= kSealMaxWorkKiB;
}

inline void EncodeSealBlock(const SealBlock& seal, uint8_t* out) {
    memset(out, 0, kSealBlockBytes);
    out[1] = 1;
    StoreLE16(out + 2, seal.scheme);
    StoreLE32(out + 4, seal.memoryKiB);
    StoreLE64(out + 8, kSealOlderReaderStop);
    StoreLE32(out + 16, seal.passes);
    StoreLE32(out + 20, seal.lanes);
    memcpy(out + 24, seal.salt, kSaltBytes);
}

// False when the fixed bytes are not what a writer puts there.
inline bool DecodeSealBlock(const uint8_t* bytes, SealBlock* seal) {
    if (bytes[0] != 0 || bytes[1] != 1 || LoadLE64(bytes + 8) != kSealOlderReaderStop) return false;
    seal->scheme = LoadLE16(bytes + 2);
    seal->memoryKiB = LoadLE32(bytes + 4);
    seal->passes = LoadLE32(bytes + 16);
    seal->lanes = LoadLE32(bytes + 20);
    memcpy(seal->salt, bytes + 24, kSaltBytes);
    return true;
}

// Every seal authenticates these 64 bytes: the header with its entry count and flags word as 0,
// then the seal block. The flags are left out so that locking an archive needs no key; the entry
// count because a writer knows it only once every entry is sealed. The nonces bind the count all
// the same: each record's holds its index and the trailer's the count, so a reader that walks a
// changed count of records meets a record or trailer whose tag fails. A sealed archive's reserved
// word carries the LZ mark from the start, so that it is final when the first seal is made.
constexpr uint32_t kSealAadBytes = kHeaderBytes + kSealBlockBytes;

inline void SealAad(const uint8_t header[kHeaderBytes], const uint8_t sealBlock[kSealBlockBytes],
                    uint8_t out[kSealAadBytes]) {
    memcpy(out, header, kHeaderBytes);
    StoreLE64(out + 8, 0);
    StoreLE32(out + 16, 0);
    memcpy(out + kHeaderBytes, sealBlock, kSealBlockBytes);
}

// A sealed record is the 40-byte record enciphered, then its tag. Its stored size counts the
// sealed data bytes (segments and their tags), so the walk skips it as before. Its enciphered
// byte is never 0: a sealed archive holds no plain entry. Records, the trailer and the names are
// sealed under the archive password's key, so that one password lists the whole archive; an
// entry's segments under the key its enciphered byte names.
enum SealedEntryKey : uint8_t {
    kSealedUnderArchiveKey = 1,
    kSealedUnderOwnKey = 2,  // the entry's own password, with the archive's salt and parameters
};
constexpr uint32_t kSealedRecordBytes = kRecordBytes + kSealTagBytes;

// The sealed trailer: the 12-byte trailer (names enciphered 1), then the 32-byte BLAKE2b digest
// of the self-extractor's settings block (all zeros when the archive is not in a self-extractor),
// enciphered, then the tag. The names follow it: names length bytes enciphered, no padding, then
// their tag, up to the end of the file.
constexpr uint32_t kSettingsDigestBytes = 32;
constexpr uint32_t kSealedTrailerPlainBytes = kTrailerBytes + kSettingsDigestBytes;
constexpr uint32_t kSealedTrailerBytes = kSealedTrailerPlainBytes + kSealTagBytes;

// An entry's plain stored data (its blocks, as in any archive) is sealed in segments of 64 KiB,
// the last one shorter; an entry of 0 bytes has one empty segment. Each segment is followed by
// its tag.
constexpr uint32_t kSegmentPlainBytes = 65536;
constexpr uint32_t kSegmentSealedBytes = kSegmentPlainBytes + kSealTagBytes;

inline uint64_t SegmentCount(uint64_t plainBytes) {
    return plainBytes == 0 ? 1 : (plainBytes + kSegmentPlainBytes - 1) / kSegmentPlainBytes;
}

inline uint64_t SealedDataBytes(uint64_t plainBytes) {
    return plainBytes + SegmentCount(plainBytes) * kSealTagBytes;
}

// The plain size whose sealed size is sealedBytes; false when no plain size gives it.
inline bool PlainDataBytes(uint64_t sealedBytes, uint64_t* plainBytes) {
    if (sealedBytes < kSealTagBytes) return false;
    const uint64_t segments =
        sealedBytes / kSegmentSealedBytes + (sealedBytes % kSegmentSealedBytes != 0 ? 1 : 0);
    const uint64_t plain = sealedBytes - segments * kSealTagBytes;
    if (SealedDataBytes(plain) != sealedBytes) return false;
    *plainBytes = plain;
    return true;
}

// The 96-bit nonce of each sealed piece: a domain byte, a last-segment byte, the entry index in
// 48 bits and the segment index in 32. No two pieces of one archive share a nonce, whatever keys
// their passwords give, and a segment moved, dropped or cut from the end fails its tag.
enum SealDomain : uint8_t {
    kSealRecord = 1,   // entry index = the record's
    kSealSegment = 2,  // entry index and segment index; last = 1 on the entry's last segment
    kSealTrailer = 3,  // entry index = the entry count
    kSealNames = 4,    // entry index = the entry count
};
constexpr uint32_t kSealNonceBytes = 12;
constexpr uint64_t kSealMaxEntries = uint64_t{1} << 48;

inline void SealNonce(SealDomain domain, uint64_t entryIndex, uint32_t segmentIndex, bool last,
                      uint8_t out[kSealNonceBytes]) {
    out[0] = domain;
    out[1] = last ? 1 : 0;
    for (int i = 0; i < 6; ++i) out[2 + i] = static_cast<uint8_t>(entryIndex >> (8 * i));
    StoreLE32(out + 8, segmentIndex);
}

}  // namespace format
