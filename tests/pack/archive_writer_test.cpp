// The in-memory archive writer, checked byte by byte: header, entry records, block framing and
// splitting, enciphered bodies and name tables, the comment entry, the prefix and the broken forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_reading.h"
#include "crypto/blowfish.h"
#include "encoder/block_encoder.h"
#include "encoder/encoder_state.h"
#include "test_archive.h"

namespace {

using namespace packtest;
using vorntest::TestArchive;
using vorntest::TestEntry;

constexpr size_t kHeader = 24;
constexpr size_t kRecord = 40;
constexpr size_t kTrailer = 12;

vorntest::TestEntry Entry(const std::string& name, std::vector<uint8_t> data) {
    vorntest::TestEntry entry;
    entry.name = name;
    entry.data = std::move(data);
    return entry;
}

// Walks the records from the base as a reader would and returns the trailer's offset.
size_t TrailerOffset(const std::vector<uint8_t>& archive, size_t base, uint64_t count) {
    size_t at = base + kHeader;
    for (uint64_t i = 0; i < count; ++i) at += kRecord + GetU64(archive, at + 8);
    return at;
}

// ---- The self-check of the test's own CRC oracle.

TEST(TestCrcOracle, GivesTheStandardCheckValue) {
    EXPECT_EQ(BitwiseCrc32(Bytes("123456789")), 0xCBF43926u);
}

// ---- Header

TEST(ArchiveHeader, CarriesMagicVersionCountFlagsAndReserved) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.flags = format::kFlagLocked;
    archiveSpec.reserved = 0x11223344;
    archiveSpec.entries = {Entry("a", Bytes("x")), Entry("b", Bytes("y"))};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(Slice(archive, 0, 4), Bytes("VORN"));
    EXPECT_EQ(GetU32(archive, 0), format::kMagic);
    EXPECT_EQ(GetU32(archive, 4), 0x8f000002u);
    EXPECT_EQ(GetU64(archive, 8), 2u);
    EXPECT_EQ(GetU32(archive, 16), 2u);
    EXPECT_EQ(GetU32(archive, 20), 0x11223344u);
}

TEST(ArchiveHeader, OlderVersionWordIsWrittenAsGiven) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.version = format::kVersionOld;
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU32(archive, 4), 0x8f000001u);
}

TEST(ArchiveHeader, EmptyArchiveIsHeaderThenTrailerAndNothingElse) {
    const auto archive = vorntest::BuildTestArchive(vorntest::TestArchive{});
    ASSERT_EQ(archive.size(), kHeader + kTrailer);
    EXPECT_EQ(GetU64(archive, 8), 0u);
    EXPECT_EQ(GetU32(archive, kHeader + 4), 0u);  // CRC-32 of no bytes
    EXPECT_EQ(GetU32(archive, kHeader + 8), 0u);
}

// ---- Entry records

TEST(EntryRecord, FieldsSitAtTheirOffsets) {
    vorntest::TestEntry entry = Entry("hello.txt", Bytes("hello"));
    entry.attributes = 0x21;
    entry.fileTime = 0x01D2C3B4A5968778ull;
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {entry};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    const size_t rec = kHeader;
    EXPECT_EQ(archive[rec + 0], 0);
    EXPECT_EQ(archive[rec + 1], 0);  // not enciphered
    EXPECT_EQ(GetU16(archive, rec + 2), 0x21);
    EXPECT_EQ(GetU32(archive, rec + 4), 0u);
    EXPECT_EQ(GetU64(archive, rec + 8), 4u + 16u);  // one stored block of 5 bytes
    EXPECT_EQ(GetU64(archive, rec + 16), 5u);
    EXPECT_EQ(GetU64(archive, rec + 24), 0x01D2C3B4A5968778ull);
    EXPECT_EQ(GetU32(archive, rec + 32), BitwiseCrc32(Bytes("hello")));
    EXPECT_EQ(GetU32(archive, rec + 36), 0u);
}

TEST(EntryRecord, EachRecordFollowsThePreviousDataArea) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("one", Pattern(134)), Entry("two", Pattern(17, 2)),
                           Entry("three", {})};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    const size_t first = kHeader;
    const size_t second = first + kRecord + 148;
    const size_t third = second + kRecord + 36;
    EXPECT_EQ(GetU64(archive, first + 8), 148u);
    EXPECT_EQ(GetU64(archive, second + 8), 36u);
    EXPECT_EQ(GetU64(archive, second + 16), 17u);
    EXPECT_EQ(GetU64(archive, third + 8), 0u);
    EXPECT_EQ(GetU64(archive, third + 16), 0u);
    EXPECT_EQ(GetU32(archive, third + 32), 0u);
    EXPECT_EQ(TrailerOffset(archive, 0, 3), third + kRecord);
}

TEST(EntryRecord, EmptyEntryHasNoBlocks) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("empty", {})};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU64(archive, kHeader + 8), 0u);
    EXPECT_TRUE(vorntest::EncodeTestEntryData({}, pack::Method::Stored, 16, {}, nullptr).empty());
    // The trailer follows the record at once.
    EXPECT_EQ(GetU32(archive, kHeader + kRecord + 8), 6u);
}

// ---- Stored block framing

TEST(StoredBlock, BodyIsPaddedToSixteenBytes) {
    struct Case {
        uint32_t size;
        size_t blockBytes;
    };
    for (const Case& c : {Case{0, 4}, Case{1, 20}, Case{16, 20}, Case{17, 36}, Case{134, 148}}) {
        SCOPED_TRACE(c.size);
        const auto data = Pattern(c.size);
        std::vector<uint8_t> out = {0xEE};  // appends, keeping what is there
        encoder::EncodeStoredBlock(data.data(), c.size, out);
        ASSERT_EQ(out.size(), 1 + c.blockBytes);
        EXPECT_EQ(out[0], 0xEE);
        EXPECT_EQ(GetU32(out, 1), c.size << 3);  // type 0 in the low three bits
        EXPECT_EQ(Slice(out, 5, c.size), data);
    }
}

TEST(StoredBlock, LengthsOfTwoToTheTwentyNineAreRefused) {
    std::vector<uint8_t> out;
    EXPECT_EQ(encoder::EncodeStoredBlock(nullptr, 1u << 29, out), format::Status::InvalidArgument);
    EXPECT_TRUE(out.empty());
}

TEST(StoredBlock, EntryOf134BytesTakes148BytesOfDataArea) {
    const auto data = Pattern(134);
    const auto area =
        vorntest::EncodeTestEntryData(data, pack::Method::Stored, pack::kMaxBlockSize, {}, nullptr);
    ASSERT_EQ(area.size(), 148u);
    EXPECT_EQ(GetU32(area, 0), 134u << 3);
    EXPECT_EQ(Slice(area, 4, 134), data);
}

// ---- Splitting into blocks

TEST(BlockSplitting, BlocksHoldBlockSizeBytesAndTheLastTheRest) {
    const auto data = Pattern(100);
    const auto area = vorntest::EncodeTestEntryData(data, pack::Method::Stored, 40, {}, nullptr);
    // 40 -> 4 + 48, 40 -> 4 + 48, 20 -> 4 + 32.
    ASSERT_EQ(area.size(), 52u + 52u + 36u);
    EXPECT_EQ(GetU32(area, 0), 40u << 3);
    EXPECT_EQ(Slice(area, 4, 40), Slice(data, 0, 40));
    EXPECT_EQ(GetU32(area, 52), 40u << 3);
    EXPECT_EQ(Slice(area, 56, 40), Slice(data, 40, 40));
    EXPECT_EQ(GetU32(area, 104), 20u << 3);
    EXPECT_EQ(Slice(area, 108, 20), Slice(data, 80, 20));
}

TEST(BlockSplitting, ExactMultipleOfBlockSizeEndsWithoutAnEmptyBlock) {
    const auto area =
        vorntest::EncodeTestEntryData(Pattern(80), pack::Method::Stored, 40, {}, nullptr);
    ASSERT_EQ(area.size(), 2 * 52u);
    EXPECT_EQ(GetU32(area, 52), 40u << 3);
}

TEST(BlockSplitting, DefaultBlockSizeIsEightMebibytes) {
    const auto data = Pattern(pack::kMaxBlockSize + 3);
    const auto area =
        vorntest::EncodeTestEntryData(data, pack::Method::Stored, pack::kMaxBlockSize, {}, nullptr);
    ASSERT_EQ(area.size(), 4u + pack::kMaxBlockSize + 4u + 16u);
    EXPECT_EQ(GetU32(area, 0), pack::kMaxBlockSize << 3);
    EXPECT_EQ(GetU32(area, 4 + pack::kMaxBlockSize), 3u << 3);
}

TEST(BlockSplitting, BlockSizesOutsideOneToEightMebibytesAreRefused) {
    EXPECT_THROW(vorntest::EncodeTestEntryData(Pattern(10), pack::Method::Stored, 0, {}, nullptr),
                 std::invalid_argument);
    EXPECT_THROW(vorntest::EncodeTestEntryData(Pattern(10), pack::Method::Stored,
                                               pack::kMaxBlockSize + 1, {}, nullptr),
                 std::invalid_argument);
    vorntest::TestEntry entry = Entry("x", Pattern(10));
    entry.blockSize = 0;
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {entry};
    EXPECT_THROW(vorntest::BuildTestArchive(archiveSpec), std::invalid_argument);
}

// ---- Compressed entries (the encoding itself is the compressor's; here only how blocks are used)

std::vector<uint8_t> Repetitive(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = "abcabcabd"[i % 9];
    return bytes;
}

TEST(CompressedEntry, EachBlockIsTheCompressorsBlockOfItsSlice) {
    const auto data = Repetitive(3000);
    const auto area =
        vorntest::EncodeTestEntryData(data, pack::Method::Compressed, 1000, {}, nullptr);
    std::vector<uint8_t> expected;
    encoder::EncoderState state;
    for (size_t at = 0; at < data.size(); at += 1000) {
        encoder::EncodeCompressedBlock(data.data() + at, 1000, {}, state, expected);
    }
    EXPECT_EQ(area, expected);
    EXPECT_EQ(GetU32(area, 0) & 7u, 1u);
}

TEST(CompressedEntry, BestStoresWhatDoesNotShrinkAndCompressesWhatDoes) {
    const auto noise = Pattern(500);
    const auto stored =
        vorntest::EncodeTestEntryData(noise, pack::Method::Stored, 500, {}, nullptr);
    EXPECT_EQ(vorntest::EncodeTestEntryData(noise, pack::Method::Best, 500, {}, nullptr), stored);
    const auto best =
        vorntest::EncodeTestEntryData(Repetitive(5000), pack::Method::Best, 5000, {}, nullptr);
    EXPECT_EQ(GetU32(best, 0) & 7u, 1u);
    EXPECT_LT(best.size(), 5000u);
}

TEST(CompressedEntry, EncipheredCompressedBodiesDecipherToThePlainEncoding) {
    const auto data = Repetitive(2000);
    const auto plain =
        vorntest::EncodeTestEntryData(data, pack::Method::Compressed, 2000, {}, nullptr);
    auto secret = vorntest::EncodeTestEntryData(data, pack::Method::Compressed, 2000, {}, "k");
    ASSERT_EQ(secret.size(), plain.size());
    EXPECT_EQ(GetU32(secret, 0), GetU32(plain, 0));
    DecryptBuffer(secret.data() + 4, static_cast<uint32_t>(secret.size() - 4), "k");
    EXPECT_EQ(secret, plain);
}

TEST(CompressedEntry, CommentMayBeCompressed) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.comment = std::string(400, '=');
    archiveSpec.commentMethod = pack::Method::Compressed;
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU64(archive, kHeader + 16), 400u);
    EXPECT_EQ(GetU32(archive, kHeader + kRecord) & 7u, 1u);
}

// ---- Enciphered entries

TEST(EncipheredEntry, BodiesDecipherBackAndHeadersStayPlain) {
    const auto data = Pattern(100);
    const auto plain = vorntest::EncodeTestEntryData(data, pack::Method::Stored, 40, {}, nullptr);
    const auto secret =
        vorntest::EncodeTestEntryData(data, pack::Method::Stored, 40, {}, "pass word");
    ASSERT_EQ(secret.size(), plain.size());
    for (size_t at : {size_t{0}, size_t{52}, size_t{104}}) {
        SCOPED_TRACE(at);
        EXPECT_EQ(GetU32(secret, at), GetU32(plain, at));
        const size_t body = ((GetU32(plain, at) >> 3) + 15) & ~size_t{15};
        auto bytes = Slice(secret, at + 4, body);
        EXPECT_NE(bytes, Slice(plain, at + 4, body));
        // Each body is keyed afresh, so each deciphers on its own.
        DecryptBuffer(bytes.data(), static_cast<uint32_t>(body), "pass word");
        EXPECT_EQ(bytes, Slice(plain, at + 4, body));
    }
}

TEST(EncipheredEntry, RecordIsMarkedAndCrcCoversThePlainData) {
    vorntest::TestEntry entry = Entry("secret.bin", Pattern(50));
    entry.password = "";  // the empty password still enciphers
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {entry, Entry("plain.bin", Pattern(5))};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(archive[kHeader + 1], 1);
    EXPECT_EQ(GetU32(archive, kHeader + 32), BitwiseCrc32(Pattern(50)));
    auto body = Slice(archive, kHeader + kRecord + 4, 64);
    DecryptBuffer(body.data(), 64, "");
    EXPECT_EQ(Slice(body, 0, 50), Pattern(50));
    const size_t second = kHeader + kRecord + 68;
    EXPECT_EQ(archive[second + 1], 0);
}

// ---- Name table

TEST(NameTable, NamesAreNulTerminatedAndPaddedWithThePaddingByte) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("a", Bytes("1")), Entry("dir\\b.txt", Bytes("2"))};
    archiveSpec.paddingByte = 0xAB;
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    const size_t trailer = TrailerOffset(archive, 0, 2);
    const std::vector<uint8_t> names = {'a', 0, 'd', 'i', 'r', '\\', 'b', '.', 't', 'x', 't', 0};
    ASSERT_EQ(archive.size(), trailer + kTrailer + 16);
    EXPECT_EQ(archive[trailer + 0], 0);
    EXPECT_EQ(archive[trailer + 1], 0);
    EXPECT_EQ(GetU16(archive, trailer + 2), 0);
    EXPECT_EQ(GetU32(archive, trailer + 4), BitwiseCrc32(names));
    EXPECT_EQ(GetU32(archive, trailer + 8), 12u);
    EXPECT_EQ(Slice(archive, trailer + kTrailer, 12), names);
    EXPECT_EQ(Slice(archive, trailer + kTrailer + 12, 4), std::vector<uint8_t>(4, 0xAB));
}

TEST(NameTable, LengthThatIsAMultipleOfSixteenGetsNoPadding) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry(std::string(15, 'n'), Bytes("1")),
                           Entry(std::string(31, 'm'), {})};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    const size_t trailer = TrailerOffset(archive, 0, 2);
    EXPECT_EQ(GetU32(archive, trailer + 8), 48u);
    EXPECT_EQ(archive.size(), trailer + kTrailer + 48);
    EXPECT_EQ(archive.back(), 0);  // the last name's NUL ends the file
}

TEST(NameTable, EncipheredUnitsDecipherToThePlainTable) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("first", Bytes("1")), Entry("second\\name.txt", Bytes("2")),
                           Entry("third", Bytes("3"))};
    archiveSpec.paddingByte = 0x5A;
    const auto plainArchive = vorntest::BuildTestArchive(archiveSpec);
    archiveSpec.namesPassword = "names key";
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(archive.size(), plainArchive.size());
    const size_t trailer = TrailerOffset(archive, 0, 3);
    EXPECT_EQ(archive[trailer + 1], 1);
    // Length and CRC are those of the plain names.
    EXPECT_EQ(Slice(archive, trailer + 4, 8), Slice(plainArchive, trailer + 4, 8));
    const size_t table = trailer + kTrailer;
    const size_t tableBytes = archive.size() - table;
    ASSERT_EQ(tableBytes, 32u);  // 6 + 16 + 6 = 28 name bytes
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, "names key");
    // Units are independent: decipher the second before the first.
    for (size_t unit : {size_t{1}, size_t{0}}) {
        auto bytes = Slice(archive, table + 16 * unit, 16);
        EXPECT_NE(bytes, Slice(plainArchive, table + 16 * unit, 16));
        DecryptNameUnit(&ctx, bytes.data());
        EXPECT_EQ(bytes, Slice(plainArchive, table + 16 * unit, 16));
    }
    // Everything before the trailer is untouched by the names password.
    EXPECT_EQ(Slice(archive, 0, trailer), Slice(plainArchive, 0, trailer));
}

TEST(NameTable, EncipheredEmptyTableHasNoUnits) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.namesPassword = "x";
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(archive.size(), kHeader + kTrailer);
    EXPECT_EQ(archive[kHeader + 1], 1);
    EXPECT_EQ(GetU32(archive, kHeader + 4), 0u);
}

TEST(NameTable, NamesOfUpTo255BytesAreAcceptedAndLongerRefused) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry(std::string(255, 'x'), Bytes("1"))};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU32(archive, TrailerOffset(archive, 0, 1) + 8), 256u);
    archiveSpec.entries = {Entry(std::string(256, 'x'), Bytes("1"))};
    EXPECT_THROW(vorntest::BuildTestArchive(archiveSpec), std::invalid_argument);
}

TEST(NameTable, NamesHoldingANulAreRefused) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry(std::string("a\0b", 3), Bytes("1"))};
    EXPECT_THROW(vorntest::BuildTestArchive(archiveSpec), std::invalid_argument);
}

TEST(NameTable, CommentNameIsCheckedToo) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.comment = std::string(1000, 'c');  // a long text is fine, only names are bounded
    EXPECT_NO_THROW(vorntest::BuildTestArchive(archiveSpec));
}

// ---- Comment entry

TEST(CommentEntry, IsAFinalPlainEntryHoldingTheTextWithoutNul) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("file", Bytes("data"))};
    archiveSpec.comment = "Read me first.";
    archiveSpec.namesPassword = "k";
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU64(archive, 8), 2u);
    const size_t rec = kHeader + kRecord + 20;
    EXPECT_EQ(archive[rec + 1], 0);  // readable without a password
    EXPECT_EQ(GetU64(archive, rec + 16), 14u);
    EXPECT_EQ(GetU32(archive, rec + 32), BitwiseCrc32(Bytes("Read me first.")));
    EXPECT_EQ(GetU32(archive, rec + kRecord), 14u << 3);
    EXPECT_EQ(Slice(archive, rec + kRecord + 4, 14), Bytes("Read me first."));
    // Its name is the last in the table: "file\0$comments$\0".
    const size_t trailer = TrailerOffset(archive, 0, 2);
    EXPECT_EQ(GetU32(archive, trailer + 8), 16u);
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, "k");
    auto unit = Slice(archive, trailer + kTrailer, 16);
    DecryptNameUnit(&ctx, unit.data());
    EXPECT_EQ(unit, Bytes(std::string("file\0$comments$\0", 16)));
}

TEST(CommentEntry, EmptyCommentIsAnEmptyEntry) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.comment = "";
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU64(archive, 8), 1u);
    EXPECT_EQ(GetU64(archive, kHeader + 8), 0u);
}

// ---- Prefix

TEST(Prefix, ArchiveStartsRightAfterThePrefixBytes) {
    std::vector<uint8_t> prefix = Pattern(61440);
    // A false magic: "VORN" with an unknown version word.
    const std::vector<uint8_t> falseMagic = {'V', 'O', 'R', 'N', 3, 0, 0, 0x8f};
    std::copy(falseMagic.begin(), falseMagic.end(), prefix.begin() + 100);
    vorntest::TestArchive archiveSpec;
    archiveSpec.prefix = prefix;
    archiveSpec.entries = {Entry("a", Bytes("abc"))};
    const auto archive = vorntest::BuildTestArchive(archiveSpec);
    const auto bare = [&] {
        vorntest::TestArchive noPrefix = archiveSpec;
        noPrefix.prefix.clear();
        return vorntest::BuildTestArchive(noPrefix);
    }();
    ASSERT_EQ(archive.size(), prefix.size() + bare.size());
    EXPECT_EQ(Slice(archive, 0, prefix.size()), prefix);
    EXPECT_EQ(Slice(archive, prefix.size(), bare.size()), bare);
}

// ---- Broken forms: each override changes its own bytes and nothing else

// Offsets at which two equally long archives differ.
std::vector<size_t> Differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<size_t> at;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) at.push_back(i);
    }
    return at;
}

bool AllWithin(const std::vector<size_t>& offsets, size_t from, size_t count) {
    for (size_t at : offsets) {
        if (at < from || at >= from + count) return false;
    }
    return !offsets.empty();
}

class BrokenForms : public ::testing::Test {
  protected:
    BrokenForms() {
        archiveSpec.entries = {Entry("first", Pattern(30)), Entry("second", Pattern(70, 3))};
        sound = vorntest::BuildTestArchive(archiveSpec);
        trailer = TrailerOffset(sound, 0, 2);
    }
    vorntest::TestArchive archiveSpec;
    std::vector<uint8_t> sound;
    size_t trailer = 0;
    const size_t second = kHeader + kRecord + 36;
};

TEST_F(BrokenForms, WrongCrcChangesOnlyTheRecordCrc) {
    archiveSpec.entries[1].crcOverride = 0xDEADBEEF;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(broken.size(), sound.size());
    EXPECT_TRUE(AllWithin(Differences(sound, broken), second + 32, 4));
    EXPECT_EQ(GetU32(broken, second + 32), 0xDEADBEEFu);
}

TEST_F(BrokenForms, LyingUnpackedSizeChangesOnlyThatField) {
    archiveSpec.entries[0].unpackedSizeOverride = 1ull << 40;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(broken.size(), sound.size());
    EXPECT_TRUE(AllWithin(Differences(sound, broken), kHeader + 16, 8));
    EXPECT_EQ(GetU64(broken, kHeader + 16), 1ull << 40);
}

TEST_F(BrokenForms, LyingStoredSizeKeepsTheRealDataArea) {
    archiveSpec.entries[0].storedSizeOverride = 0xFFFFFFFFFFull;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(broken.size(), sound.size());
    EXPECT_TRUE(AllWithin(Differences(sound, broken), kHeader + 8, 8));
    EXPECT_EQ(GetU64(broken, kHeader + 8), 0xFFFFFFFFFFull);
}

TEST_F(BrokenForms, RawDataAreaReplacesTheBlocks) {
    const std::vector<uint8_t> raw = {0x07, 0, 0, 0, 1, 2, 3};  // block type 7
    archiveSpec.entries[0].rawStoredData = raw;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_EQ(GetU64(broken, kHeader + 8), raw.size());
    EXPECT_EQ(GetU64(broken, kHeader + 16), 30u);
    EXPECT_EQ(GetU32(broken, kHeader + 32), BitwiseCrc32(Pattern(30)));
    EXPECT_EQ(Slice(broken, kHeader + kRecord, raw.size()), raw);
    EXPECT_EQ(broken.size(), sound.size() - 36 + raw.size());
}

TEST_F(BrokenForms, EntryCountClaimChangesOnlyTheHeaderCount) {
    archiveSpec.entryCountOverride = 1000000;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(broken.size(), sound.size());
    EXPECT_TRUE(AllWithin(Differences(sound, broken), 8, 8));
    EXPECT_EQ(GetU64(broken, 8), 1000000u);
}

TEST_F(BrokenForms, NamesCrcAndLengthOverridesChangeOnlyTheTrailer) {
    archiveSpec.namesCrcOverride = 0x12345678;
    archiveSpec.namesLengthOverride = 3;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(broken.size(), sound.size());
    EXPECT_TRUE(AllWithin(Differences(sound, broken), trailer + 4, 8));
    EXPECT_EQ(GetU32(broken, trailer + 4), 0x12345678u);
    EXPECT_EQ(GetU32(broken, trailer + 8), 3u);
}

TEST_F(BrokenForms, NamesEncryptedByteWithAPlainTable) {
    archiveSpec.namesEncryptedOverride = 1;
    const auto broken = vorntest::BuildTestArchive(archiveSpec);
    ASSERT_EQ(broken.size(), sound.size());
    EXPECT_EQ(Differences(sound, broken), std::vector<size_t>{trailer + 1});
}

}  // namespace
