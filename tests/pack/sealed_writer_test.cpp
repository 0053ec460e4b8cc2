// The sealed archive as the writer makes it, opened here with crypto/'s own functions: every seal
// verifies under the key and nonce of its place, the plain fields are what was packed, no two
// pieces share a nonce, bad settings are refused, and docs/format.md's worked example is these
// bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "byte_reading.h"
#include "crypto/aead.h"
#include "crypto/argon2.h"
#include "crypto/blake2b.h"
#include "format/sealed.h"
#include "format/sfx_settings.h"
#include "test_archive.h"

namespace {

using namespace packtest;
using format::SealNonce;
using Key = std::array<uint8_t, 32>;

constexpr std::array<uint8_t, 16> kSalt = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

pack::SealOptions Seal(const std::string& password) {
    pack::SealOptions seal;
    seal.password = password;
    seal.memoryKiB = 8192;
    seal.passes = 1;
    seal.salt = kSalt;
    return seal;
}

Key Derive(const std::string& password) {
    Key key{};
    Argon2Inputs in{};
    in.password = reinterpret_cast<const uint8_t*>(password.data());
    in.passwordLength = password.size();
    in.salt = kSalt.data();
    in.saltLength = kSalt.size();
    EXPECT_EQ(Argon2idAllocating({8192, 1, 1}, in, 8 << 20, key.data(), 32), Argon2Status::Ok);
    return key;
}

// Opens the sealed piece of size plain bytes at at; empty with opened false when its tag fails.
struct Opener {
    const std::vector<uint8_t>& archive;
    std::vector<std::vector<uint8_t>> nonces;  // of every piece opened
    std::vector<uint8_t> Open(const Key& key, format::SealDomain domain, uint64_t entry,
                              uint32_t segment, bool last, size_t at, size_t size, bool* opened) {
        uint8_t aad[format::kSealAadBytes], nonce[12];
        format::SealAad(archive.data(), archive.data() + 24, aad);
        SealNonce(domain, entry, segment, last, nonce);
        nonces.emplace_back(nonce, nonce + 12);
        std::vector<uint8_t> plain(size);
        *opened = ChaCha20Poly1305Open(key.data(), nonce,
                                       {aad, sizeof aad, &archive[at], plain.data(), size},
                                       &archive[at + size]);
        return plain;
    }
};

struct Walked {
    std::vector<format::EntryRecord> records;
    std::vector<std::vector<uint8_t>> data;  // each entry's plain stored data
    std::vector<uint8_t> trailer, names;
    bool allOpened = true;
    std::set<std::vector<uint8_t>> nonces;
    size_t pieces = 0;
};

// Walks the archive as a reader would; an entry sealed under its own key opens with ownKey.
Walked Walk(const std::vector<uint8_t>& a, const Key& key, const Key& ownKey = {}) {
    Walked w;
    Opener o{a, {}};
    bool ok = false;
    size_t at = 64;
    for (uint64_t i = 0; i < GetU64(a, 8); ++i) {
        const auto plainRecord = o.Open(key, format::kSealRecord, i, 0, 0, at, 40, &ok);
        const auto record = format::DecodeRecord(plainRecord.data());
        if (!ok || a.size() < at + 56 + record.storedSize + 76) {
            w.allOpened = false;
            return w;
        }
        at += format::kSealedRecordBytes;
        uint64_t plain = 0;
        EXPECT_TRUE(format::PlainDataBytes(record.storedSize, &plain));
        std::vector<uint8_t> data;
        const Key& k = record.encrypted == format::kSealedUnderOwnKey ? ownKey : key;
        for (uint32_t s = 0; s < format::SegmentCount(plain); ++s) {
            const size_t n = std::min<uint64_t>(65536, plain - uint64_t{s} * 65536);
            const bool last = s + 1 == format::SegmentCount(plain);
            auto part = o.Open(k, format::kSealSegment, i, s, last, at, n, &ok);
            w.allOpened &= ok;
            data.insert(data.end(), part.begin(), part.end());
            at += n + 16;
        }
        w.records.push_back(record);
        w.data.push_back(data);
    }
    w.trailer = o.Open(key, format::kSealTrailer, w.records.size(), 0, 0, at, 44, &ok);
    w.allOpened &= ok;
    const size_t names = a.size() - at - 60 - 16;
    w.names = o.Open(key, format::kSealNames, w.records.size(), 0, 0, at + 60, names, &ok);
    w.allOpened &= ok && GetU32(w.trailer, 8) == names;
    w.pieces = o.nonces.size();
    w.nonces.insert(o.nonces.begin(), o.nonces.end());
    return w;
}

vorntest::TestEntry Entry(const std::string& name, std::vector<uint8_t> data) {
    vorntest::TestEntry entry;
    entry.name = name;
    entry.data = std::move(data);
    entry.fileTime = 0x01d0000012345678;
    return entry;
}

TEST(SealedWriter, EveryPieceOpensUnderItsNonceAndHoldsWhatWasPacked) {
    const std::vector<size_t> sizes = {0, 1, 65536, 65537, 3 * 65536 + 5};
    vorntest::TestArchive archiveSpec;
    archiveSpec.seal = Seal("correct horse");
    for (size_t i = 0; i < sizes.size(); ++i) {
        archiveSpec.entries.push_back(
            Entry("e" + std::to_string(i), Pattern(sizes[i], uint32_t(i))));
        archiveSpec.entries.back().method = i % 2 ? pack::Method::Best : pack::Method::Stored;
    }
    archiveSpec.entries[1].password = "own";
    archiveSpec.comment = "note";
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU32(archive, 20), format::kMarkSealed | 1u);
    format::SealBlock seal;
    ASSERT_TRUE(format::DecodeSealBlock(&archive[24], &seal));
    EXPECT_TRUE(format::SealParametersAllowed(seal));
    EXPECT_EQ(Slice(archive, 48, 16), std::vector<uint8_t>(kSalt.begin(), kSalt.end()));
    EXPECT_EQ(seal.memoryKiB + seal.passes + seal.lanes, 8192u + 1 + 1);

    const Walked w = Walk(archive, Derive("correct horse"), Derive("own"));
    ASSERT_TRUE(w.allOpened);
    EXPECT_EQ(w.nonces.size(), w.pieces);  // no nonce twice
    ASSERT_EQ(w.records.size(), sizes.size() + 1);
    for (size_t i = 0; i < sizes.size(); ++i) {
        const auto& e = archiveSpec.entries[i];
        EXPECT_EQ(w.records[i].encrypted, i == 1 ? 2 : 1) << i;
        EXPECT_EQ(w.records[i].unpackedSize, sizes[i]);
        EXPECT_EQ(w.records[i].crc, BitwiseCrc32(e.data));
        EXPECT_EQ(w.records[i].fileTime, e.fileTime);
        EXPECT_EQ(w.data[i], vorntest::EncodeTestEntryData(e.data, e.method, e.blockSize)) << i;
    }
    EXPECT_EQ(w.data.back(), vorntest::EncodeTestEntryData(Bytes("note"), pack::Method::Stored,
                                                           pack::kMaxBlockSize));
    const std::string names("e0\0e1\0e2\0e3\0e4\0$comments$\0", 26);
    EXPECT_EQ(w.names, Bytes(names));
    EXPECT_EQ(GetU32(w.trailer, 4), BitwiseCrc32(Bytes(names)));
    EXPECT_EQ(Slice(w.trailer, 12, 32), std::vector<uint8_t>(32, 0));  // no self-extractor
    // The control: entry 1's data does not open under the archive key, nor a changed byte.
    EXPECT_FALSE(Walk(archive, Derive("correct horse")).allOpened);
    auto flipped = archive;
    flipped[64 + 56 + 3] ^= 1;
    EXPECT_FALSE(Walk(flipped, Derive("correct horse"), Derive("own")).allOpened);
}

TEST(SealedWriter, RefusesWhatNoReaderCouldOpen) {
    struct Case {
        const char* what;
        pack::SealOptions seal;
        std::optional<std::string> entryPassword, namesPassword;
    };
    auto with = [](uint32_t m, uint32_t t, const std::string& password = "pw") {
        pack::SealOptions seal = Seal(password);
        seal.memoryKiB = m;
        seal.passes = t;
        return seal;
    };
    const std::vector<Case> cases = {
        {"empty password", with(8192, 1, ""), {}, {}},
        {"memory below the bound", with(4096, 1), {}, {}},
        {"passes above the bound", with(8192, 9), {}, {}},
        {"empty entry password", with(8192, 1), "", {}},
        {"names under another password", with(8192, 1), {}, "other"},
    };
    for (const Case& c : cases) {
        vorntest::TestArchive archiveSpec;
        archiveSpec.seal = c.seal;
        archiveSpec.entries = {Entry("a", Bytes("x"))};
        archiveSpec.entries[0].password = c.entryPassword;
        archiveSpec.namesPassword = c.namesPassword;
        EXPECT_THROW(vorntest::BuildTestArchive(archiveSpec), std::invalid_argument) << c.what;
    }
    vorntest::TestArchive control;  // the same with every value a reader accepts
    control.seal = with(8192, 1);
    control.entries = {Entry("a", Bytes("x"))};
    control.namesPassword = "pw";
    EXPECT_NO_THROW(vorntest::BuildTestArchive(control));
}

TEST(SealedWriter, SaltIsFreshUnlessFixedAndTheStubSettingsAreDigested) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("a", Bytes("x"))};
    archiveSpec.seal = Seal("pw");
    archiveSpec.prefix = Bytes(VORN_SFX_SETTINGS_MARKER);
    archiveSpec.prefix.push_back(0);
    const std::vector<uint8_t> block = Pattern(format::kSfxSettingsBytes, 7);
    archiveSpec.prefix.insert(archiveSpec.prefix.end(), block.begin(), block.end());
    const auto fixed = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(fixed, vorntest::BuildTestArchive(archiveSpec));
    const std::vector<uint8_t> archive(fixed.begin() + archiveSpec.prefix.size(), fixed.end());
    const Walked w = Walk(archive, Derive("pw"));
    ASSERT_TRUE(w.allOpened);
    uint8_t digest[32];
    Blake2bHash(digest, 32, block.data(), block.size());
    EXPECT_EQ(Slice(w.trailer, 12, 32), std::vector<uint8_t>(digest, digest + 32));
    archiveSpec.seal->salt.reset();
    const auto salted = vorntest::BuildTestArchive(archiveSpec),
               again = vorntest::BuildTestArchive(archiveSpec);
    const size_t salt = archiveSpec.prefix.size() + 48;
    EXPECT_NE(Slice(salted, salt, 16), Slice(again, salt, 16));
    EXPECT_NE(Slice(salted, salt, 16), Slice(fixed, salt, 16));
}

// The bytes of the dump behind the marker line in docs/format.md: each line an offset, up to 16
// bytes in hex and a note; the dump ends at the first line that is not indented.
std::vector<uint8_t> DocumentedExample() {
    std::ifstream doc(VORN_FORMAT_DOC);
    std::string line;
    while (std::getline(doc, line) && line != "<!-- sealed example: replayed by a test -->") {
    }
    std::vector<uint8_t> bytes;
    while (std::getline(doc, line) && line.rfind("    ", 0) == 0) {
        std::istringstream words(line);
        std::string word;
        words >> word;  // the offset
        for (int n = 0;
             n < 16 && words >> word && word.size() == 2 && isxdigit(word[0]) && isxdigit(word[1]);
             ++n) {
            bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
        }
    }
    return bytes;
}

// The bytes as the document shows them, to paste there when the layout changes on purpose.
std::string HexLines(const std::vector<uint8_t>& bytes) {
    std::string out;
    char cell[32];
    for (size_t at = 0; at < bytes.size(); ++at) {
        if (at % 16 == 0) out += (std::snprintf(cell, sizeof cell, "\n    %08zX ", at), cell);
        out += (std::snprintf(cell, sizeof cell, " %02X", bytes[at]), cell);
    }
    return out;
}

TEST(SealedWriter, WorkedExampleOfTheFormatDocumentIsWhatTheWriterMakes) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.seal = Seal("abc");
    archiveSpec.entries = {Entry("hi.txt", Bytes("hi\n"))};
    archiveSpec.entries[0].fileTime = 0x01DB4383F6EC0000;  // 2024-12-01 00:00 UTC, as in section 6
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(DocumentedExample(), archive) << HexLines(archive);
    EXPECT_TRUE(Walk(archive, Derive("abc")).allOpened);
}

}  // namespace
