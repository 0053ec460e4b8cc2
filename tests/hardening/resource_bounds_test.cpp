// Whatever an archive claims (entry counts, sizes, name lengths, block lengths), the library's
// memory stays within its fixed areas (two 8 MiB buffers, the 2 MiB context table, the 4 MiB scan
// window) plus the bytes it really read, and every call answers a status instead of working
// through the claim.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../archive/archive_test_util.h"
#include "archive/vorn.h"
#include "codec/compressed_block_decoder.h"
#include "memory_bound.h"
#include "test_archive.h"

namespace {

using archive_test::Handle;
using archive_test::TempFile;
using hardening::ExpectWithinMemory;
using hardening::kMiB;
using Bytes = std::vector<uint8_t>;

// The fixed areas of an extraction (read buffer, staging area, context table, scan window) and
// room for the handle, the record offsets and the allocator's own rounding.
constexpr size_t kFixedAreas = 8 * kMiB + 8 * kMiB + 2 * kMiB + 4 * kMiB;
constexpr size_t kSlack = 4 * kMiB;

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU64(Bytes& out, uint64_t v) {
    PutU32(out, static_cast<uint32_t>(v));
    PutU32(out, static_cast<uint32_t>(v >> 32));
}

// An archive of one entry whose data area is given as is.
Bytes ArchiveWithDataArea(const Bytes& area, uint64_t unpackedSize) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e = archive_test::Entry("claim.bin", {});
    e.rawStoredData = area;
    e.unpackedSizeOverride = unpackedSize;
    archiveSpec.entries.push_back(e);
    return vorntest::BuildTestArchive(archiveSpec);
}

TEST(ClaimedEntryCount, AllOnesCountInAFewBytesIsRefusedAsCorrupt) {
    // Header only: magic, current version, 2^64-1 entries, no flags; then a 12-byte trailer.
    const Bytes bytes = {'V',  'O',  'R',  'N',  0x02, 0x00, 0x00, 0x8f, 0xff, 0xff, 0xff, 0xff,
                         0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    TempFile file("count.vorn", bytes);
    ExpectWithinMemory(kFixedAreas + kSlack, [&] {
        void* handle = reinterpret_cast<void*>(1);
        EXPECT_EQ(vorn_OpenStream(&handle, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_CORRUPT);
        EXPECT_EQ(handle, nullptr);
    });
}

TEST(ClaimedEntryCount, CountBeyondTheRecordsOfALargeFileFailsBeforeReadingThem) {
    // Four MiB of records that all claim no data, under a header claiming 2^63 entries.
    vorntest::TestArchive archiveSpec;
    archiveSpec.entryCountOverride = uint64_t{1} << 63;
    for (int i = 0; i < 1000; ++i) archiveSpec.entries.push_back(archive_test::Entry("e", {}));
    TempFile file("count_large.vorn", vorntest::BuildTestArchive(archiveSpec));
    ExpectWithinMemory(kFixedAreas + kSlack, [&] {
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_CORRUPT);
    });
}

TEST(ClaimedUnpackedSize, EntryClaiming2To63BytesAnswersWithoutAllocatingIt) {
    const uint64_t claim = uint64_t{1} << 63;
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e = archive_test::Entry("huge.bin", archive_test::Bytes("small"));
    e.unpackedSizeOverride = claim;
    archiveSpec.entries.push_back(e);
    TempFile file("huge.vorn", vorntest::BuildTestArchive(archiveSpec));
    TempFile out("huge.out");
    ExpectWithinMemory(kFixedAreas + kSlack, [&] {
        Handle h;
        ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        VORN_FILEINFO info;
        ASSERT_EQ(vorn_EnumerateFiles(h.h, &info, 0), VORN_SUCCESS);
        EXPECT_EQ(info.qwUnpackedSize, claim);
        unsigned char buffer[16];
        EXPECT_EQ(vorn_DecompressToPtr(h.h, "huge.bin", buffer, nullptr, nullptr),
                  VORN_E_NO_MEMORY);
        // No volume holds 2^63 bytes: the free-space check answers before any decoding.
        EXPECT_EQ(vorn_DecompressToFile(h.h, "huge.bin", out.path.c_str(), nullptr, nullptr),
                  VORN_E_DISK_FULL);
    });
}

TEST(ClaimedUnpackedSize, StoredBlockLongerThanTheClaimedSizeStopsAtTheCallersBuffer) {
    // A stored block of 64 bytes in an entry that claims 10: the caller's 10-byte area is all
    // the run may write.
    Bytes area;
    PutU32(area, 64u << 3);
    area.resize(area.size() + 64, 'x');
    TempFile file("short_claim.vorn", ArchiveWithDataArea(area, 10));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    auto* buffer = static_cast<unsigned char*>(std::malloc(10));  // exact, for the sanitizer
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "claim.bin", buffer, nullptr, nullptr), VORN_E_CORRUPT);
    std::free(buffer);
}

struct BlockClaim {
    const char* what;
    uint32_t headerWord;
};

class ClaimedBlockLength : public ::testing::TestWithParam<BlockClaim> {};

TEST_P(ClaimedBlockLength, BlockBeyondTheReadBufferIsCorruptBeforeItsBodyIsRead) {
    Bytes area;
    PutU32(area, GetParam().headerWord);
    area.resize(area.size() + 32, 0xA5);
    TempFile file("block.vorn", ArchiveWithDataArea(area, 1000));
    TempFile out("block.out");
    ExpectWithinMemory(kFixedAreas + kSlack, [&] {
        Handle h;
        ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        std::vector<unsigned char> buffer(1000);
        EXPECT_EQ(vorn_DecompressToPtr(h.h, "claim.bin", buffer.data(), nullptr, nullptr),
                  VORN_E_CORRUPT);
        EXPECT_EQ(vorn_DecompressToFile(h.h, "claim.bin", out.path.c_str(), nullptr, nullptr),
                  VORN_E_CORRUPT);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Claims, ClaimedBlockLength,
    ::testing::Values(BlockClaim{"compressed_2to29_bits", 0xFFFFFFF9u},  // 2^29 - 1 bits
                      BlockClaim{"stored_2to29_bytes", 0xFFFFFFF8u},     // 2^29 - 1 bytes
                      BlockClaim{"compressed_just_past_8MiB", ((8u << 23) + 8) << 3 | 1},
                      BlockClaim{"stored_just_past_8MiB", ((8u << 20) + 1) << 3}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ClaimedBlockLength, BlockHeadClaimingEveryTokenAndTableEntryEndsAtTheBodysEnd) {
    // A 16-byte body of all ones: 2^24 - 1 tokens, 256 literal and 65535 length table entries.
    static codec::ContextTable table;
    std::vector<uint8_t> body(16 + codec::BODY_READ_SLACK, 0);
    std::fill(body.begin(), body.begin() + 16, 0xFF);
    std::vector<uint8_t> out(4096);
    uint32_t produced = 0;
    ExpectWithinMemory(kSlack, [&] {
        EXPECT_EQ(codec::DecodeCompressedBlock(body.data(), 16, &table, out.data(),
                                               static_cast<uint32_t>(out.size()), &produced),
                  format::Status::Corrupt);
    });
}

// An archive of one entry whose name table is namesBytes bytes of 'A' and no NUL.
Bytes ArchiveWithEndlessName(size_t namesBytes, bool enciphered) {
    Bytes bytes;
    PutU32(bytes, 0x4E524F56);
    PutU32(bytes, 0x8f000002);
    PutU64(bytes, 1);
    PutU64(bytes, 0);
    bytes.resize(bytes.size() + 40, 0);  // one record of an empty, plain entry
    bytes.push_back(0);
    bytes.push_back(enciphered ? 1 : 0);
    bytes.push_back(0);
    bytes.push_back(0);
    PutU32(bytes, 0);
    PutU32(bytes, static_cast<uint32_t>(namesBytes));
    bytes.resize(bytes.size() + namesBytes, 'A');
    return bytes;
}

TEST(ClaimedNameLength, TenMiBTableWithoutNulHoldsNoNameAndCostsOnlyItsBytes) {
    const size_t namesBytes = 10 * kMiB;
    TempFile file("endless.vorn", ArchiveWithEndlessName(namesBytes, false));
    ExpectWithinMemory(namesBytes + kFixedAreas + kSlack, [&] {
        Handle h;
        ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        VORN_FILEINFO info;
        EXPECT_EQ(vorn_EnumerateFiles(h.h, &info, 0), VORN_E_NOT_FOUND);
        EXPECT_EQ(vorn_GetFileInfo(h.h, &info, "A"), VORN_E_NAME_NOT_FOUND);
        EXPECT_EQ(vorn_GetFileInfo(h.h, &info, std::string(255, 'A').c_str()),
                  VORN_E_NAME_NOT_FOUND);
        unsigned char buffer[1];
        EXPECT_EQ(vorn_DecompressToPtr(h.h, "A", buffer, nullptr, nullptr), VORN_E_NOT_FOUND);
    });
}

TEST(ClaimedNameLength, EncipheredTenMiBTableWithoutNulAsksForThePasswordOrFailsItsCheck) {
    const size_t namesBytes = 10 * kMiB;
    TempFile file("endless_enciphered.vorn", ArchiveWithEndlessName(namesBytes, true));
    ExpectWithinMemory(namesBytes + kFixedAreas + kSlack, [&] {
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_PASSWORD_NEEDED);
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), "guess", VORN_OPEN_READONLY),
                  VORN_E_CRC);
        EXPECT_EQ(h.h, nullptr);
    });
}

TEST(ClaimedNameLength, NamesLengthBeyondTheFileDoesNotEnlargeWhatIsRead) {
    // The trailer claims 4 GiB - 1 of names over a 16-byte table.
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(archive_test::Entry("a", archive_test::Bytes("1")));
    archiveSpec.namesLengthOverride = 0xFFFFFFFFu;
    TempFile file("names_length.vorn", vorntest::BuildTestArchive(archiveSpec));
    ExpectWithinMemory(kFixedAreas + kSlack, [&] {
        Handle h;
        ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        VORN_FILEINFO info;
        EXPECT_EQ(vorn_EnumerateFiles(h.h, &info, 0), VORN_SUCCESS);
        EXPECT_STREQ(info.szName, "a");
    });
}

}  // namespace

#if defined(VORN_TEST_ASAN) || defined(__linux__)
namespace {

void AllocateSixteenMiB() {
    void* block = std::malloc(16 * kMiB);
    EXPECT_NE(block, nullptr);
    if (block) std::memset(block, 1, 16 * kMiB);
    std::free(block);
}

// The budget itself must bite, or every test above passes whatever the library allocates.
TEST(MemoryBudget, PieceAllocatingBeyondItsBudgetFails) {
    EXPECT_NONFATAL_FAILURE(ExpectWithinMemory(kMiB, AllocateSixteenMiB), "budget");
}

}  // namespace
#endif
