// Opening an archive: the scan for it inside a larger file, the header and the record walk, cut
// and hostile files, the enciphered name table's password check, lock, close and status texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "archive/archive_handle.h"
#include "archive/chunk_reader.h"
#include "archive_test_util.h"
#include "format/lz_block.h"
#include "platform/platform.h"

using namespace archive_test;

namespace {

vorntest::TestArchive ThreeEntries() {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("one.txt", Bytes("first entry")));
    archiveSpec.entries.push_back(Entry("dir\\two.bin", SampleData(300, 2)));
    archiveSpec.entries.push_back(Entry("three", Bytes("x")));
    return archiveSpec;
}

uint64_t BaseOf(void* handle) {
    return static_cast<archive::ArchiveHandle*>(handle)->baseOffset;
}

std::string NameAt(void* handle, uint64_t index) {
    VORN_FILEINFO info;
    uint32_t status = vorn_EnumerateFiles(handle, &info, index);
    return status == VORN_SUCCESS ? std::string(info.szName) : "status " + std::to_string(status);
}

// Opens the archive built from archiveSpec with prefix before it; returns the status.
uint32_t OpenWithPrefix(const std::vector<uint8_t>& prefix, uint64_t* base) {
    vorntest::TestArchive archiveSpec = ThreeEntries();
    archiveSpec.prefix = prefix;
    TempFile file("a.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    uint32_t status = vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY);
    if (status == VORN_SUCCESS) {
        *base = BaseOf(h.h);
        EXPECT_EQ(NameAt(h.h, 2), "three");
    }
    return status;
}

TEST(ArchiveScan, FindsMagicAtOffsetZero) {
    uint64_t base = 99;
    EXPECT_EQ(OpenWithPrefix({}, &base), VORN_SUCCESS);
    EXPECT_EQ(base, 0u);
}

TEST(ArchiveScan, TriesEveryPositionHoldingV) {
    // A "V" at every position of the 8-byte window, and runs of them, must not step past the
    // archive's first byte.
    for (size_t length = 1; length <= 24; ++length) {
        for (size_t v = 0; v < length; ++v) {
            std::vector<uint8_t> prefix(length, 'x');
            prefix[v] = 'V';
            uint64_t base = 0;
            ASSERT_EQ(OpenWithPrefix(prefix, &base), VORN_SUCCESS) << length << " " << v;
            EXPECT_EQ(base, length);
        }
        uint64_t base = 0;
        ASSERT_EQ(OpenWithPrefix(std::vector<uint8_t>(length, 'V'), &base), VORN_SUCCESS);
        EXPECT_EQ(base, length);
    }
}

TEST(ArchiveScan, FindsArchiveStraddlingTheScanReads) {
    // The scan reads a small first chunk, then large ones, each overlapping the last by less than
    // a window: an archive starting just before, across or just after either boundary is found
    // at its exact offset. The prefix is "V"-laden so that every window is examined.
    const size_t firstChunk = 128u << 10;
    const size_t laterChunk = 4u << 20;
    const size_t second = firstChunk - 7;  // where the second read starts
    for (size_t edge : {firstChunk, second + laterChunk}) {
        for (size_t length = edge - 10; length <= edge + 2; ++length) {
            std::vector<uint8_t> prefix(length, 'V');
            uint64_t base = 0;
            ASSERT_EQ(OpenWithPrefix(prefix, &base), VORN_SUCCESS) << length;
            EXPECT_EQ(base, length);
        }
    }
}

TEST(ArchiveScan, PassesOverMagicWithUnknownVersion) {
    std::vector<uint8_t> prefix = Bytes("VORN....VORN....VORVVORN");
    PutU32(prefix, 4, 0x8f000003);
    PutU32(prefix, 12, 0x8f000000);
    prefix.insert(prefix.end(), {0x02, 0x00, 0x00, 0x7f});  // version bytes in the wrong order
    uint64_t base = 0;
    ASSERT_EQ(OpenWithPrefix(prefix, &base), VORN_SUCCESS);
    EXPECT_EQ(base, prefix.size());
}

TEST(ArchiveScan, StopsAtFirstArchiveEvenOfOlderFormat) {
    vorntest::TestArchive old;
    old.version = format::kVersionOld;
    old.entryCountOverride = 7;
    std::vector<uint8_t> prefix = vorntest::BuildTestArchive(old);
    vorntest::TestArchive archiveSpec = ThreeEntries();
    archiveSpec.prefix = Bytes("pre");
    archiveSpec.prefix.insert(archiveSpec.prefix.end(), prefix.begin(), prefix.end());
    TempFile file("a.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(BaseOf(h.h), 3u);
    EXPECT_EQ(vorn_GetNumFiles(h.h), 7u);
}

TEST(ArchiveScan, FileWithoutArchiveIsCorrupt) {
    std::vector<uint8_t> bytes(100000, 'V');
    PutU32(bytes, 5000, 0x4E524F56);  // magic followed by "VVVV"
    TempFile file("none.bin", bytes);
    Handle h;
    h.h = reinterpret_cast<void*>(1);
    EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_CORRUPT);
    EXPECT_EQ(h.h, nullptr);
}

TEST(ArchiveScan, TinyFilesAreCorrupt) {
    for (long size : {0L, 1L, 8L}) {
        const std::string magic("VORN\x02\x00\x00\x8f", 8);
        TempFile file("tiny.bin", std::vector<uint8_t>(magic.begin(), magic.begin() + size));
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_CORRUPT)
            << size;
        EXPECT_EQ(h.h, nullptr);
    }
}

TEST(ArchiveScan, HeaderCutShortIsCorrupt) {
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(ThreeEntries());
    bytes.resize(20);
    TempFile file("cut.vorn", bytes);
    Handle h;
    EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_CORRUPT);
    EXPECT_EQ(h.h, nullptr);
}

TEST(ArchiveOpen, MissingFileIsNotFound) {
    Handle h;
    EXPECT_EQ(
        vorn_OpenStream(&h.h, UniquePath("missing.vorn").c_str(), nullptr, VORN_OPEN_READONLY),
        VORN_E_NOT_FOUND);
    EXPECT_EQ(h.h, nullptr);
}

TEST(ArchiveOpen, ModeNeedsReadWriteOrReadOnlyAndRefusesFourAndEight) {
    TempFile file("a.vorn", vorntest::BuildTestArchive(ThreeEntries()));
    for (unsigned mode : {0u, 4u, 8u, 1u | 4u, 2u | 8u, 16u}) {
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, mode), VORN_E_INVALID_ARGUMENT)
            << mode;
        EXPECT_EQ(h.h, nullptr);
    }
    for (unsigned mode : {1u, 2u, 3u}) {
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, mode), VORN_SUCCESS) << mode;
        EXPECT_EQ(vorn_GetNumFiles(h.h), 3u);
    }
}

TEST(ArchiveOpen, OverlongPathOrPasswordIsInvalid) {
    TempFile file("a.vorn", vorntest::BuildTestArchive(ThreeEntries()));
    Handle h;
    EXPECT_EQ(vorn_OpenStream(&h.h, std::string(256, 'p').c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(vorn_OpenStream(&h.h, std::string(255, 'p').c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_NOT_FOUND);
    EXPECT_EQ(
        vorn_OpenStream(&h.h, file.path.c_str(), std::string(260, 'w').c_str(), VORN_OPEN_READONLY),
        VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(h.h, nullptr);
    EXPECT_EQ(
        vorn_OpenStream(&h.h, file.path.c_str(), std::string(259, 'w').c_str(), VORN_OPEN_READONLY),
        VORN_SUCCESS);
    EXPECT_EQ(vorn_OpenStream(nullptr, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_INVALID_ARGUMENT);
}

TEST(ArchiveOpen, OlderFormatOpensWithStoredCountAndFindsNothing) {
    vorntest::TestArchive archiveSpec = ThreeEntries();
    archiveSpec.version = format::kVersionOld;
    TempFile file("old.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(vorn_GetNumFiles(h.h), 3u);
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_EnumerateFiles(h.h, &info, 0), VORN_E_NOT_FOUND);
    EXPECT_EQ(vorn_EnumerateFiles(h.h, &info, 3), VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(vorn_GetFileInfo(h.h, &info, "one.txt"), VORN_E_NOT_FOUND);
    unsigned char buffer[64];
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "one.txt", buffer, nullptr, nullptr), VORN_E_NOT_FOUND);
}

TEST(ArchiveOpen, OlderFormatHeaderAloneKeepsAnyCount) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.version = format::kVersionOld;
    archiveSpec.entryCountOverride = UINT64_MAX;
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    bytes.resize(24);
    TempFile file("old.vorn", bytes);
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(vorn_GetNumFiles(h.h), UINT64_MAX);
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_EnumerateFiles(h.h, &info, 5), VORN_E_NOT_FOUND);
}

// Offsets of the records and the trailer, learnt by opening the intact archive.
struct Layout {
    std::vector<uint64_t> records;
    uint64_t trailer = 0;
};

Layout LayoutOf(const std::vector<uint8_t>& bytes) {
    TempFile file("layout.vorn", bytes);
    Handle h;
    Layout layout;
    EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    if (!h.h) return layout;
    auto* handle = static_cast<archive::ArchiveHandle*>(h.h);
    layout.records.assign(handle->recordOffsets, handle->recordOffsets + handle->recordCount);
    layout.trailer = handle->trailerOffset;
    return layout;
}

TEST(ArchiveWalk, FileCutAnywhereBeforeNameTableIsCorrupt) {
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(ThreeEntries());
    Layout layout = LayoutOf(bytes);
    ASSERT_EQ(layout.records.size(), 3u);
    const uint64_t last = layout.records[2];
    // Before the last record, inside it, inside its data, at the trailer, inside the trailer.
    for (uint64_t cut : {last, last + 1, last + 39, last + 40, layout.trailer - 1, layout.trailer,
                         layout.trailer + 5, layout.trailer + 11}) {
        std::vector<uint8_t> shorter(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        TempFile file("cut.vorn", shorter);
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_CORRUPT)
            << cut;
        EXPECT_EQ(h.h, nullptr);
    }
    // Trailer whole but no name table: opens, the names are missing.
    std::vector<uint8_t> noNames(bytes.begin(),
                                 bytes.begin() + static_cast<long>(layout.trailer + 12));
    TempFile file("nonames.vorn", noNames);
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(NameAt(h.h, 0), "status 4");
}

TEST(ArchiveWalk, StoredSizeReachingPastEndIsCorrupt) {
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(ThreeEntries());
    Layout layout = LayoutOf(bytes);
    for (uint64_t stored :
         {UINT64_MAX, UINT64_MAX - 40, uint64_t{1} << 63, static_cast<uint64_t>(bytes.size())}) {
        std::vector<uint8_t> bad = bytes;
        PutU64(bad, static_cast<size_t>(layout.records[1] + 8), stored);
        TempFile file("past.vorn", bad);
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_CORRUPT)
            << stored;
    }
}

// A further handle on the file (a worker's) takes the model's walk only while the file has its
// length and header. The control: the same tampered file that the copied walk passes over fails
// a walk of its own, so the walk was indeed not made again.
TEST(ArchiveWalk, FurtherHandleTakesTheModelsWalkOnlyWhileTheFileLooksTheSame) {
    const std::vector<uint8_t> bytes = vorntest::BuildTestArchive(ThreeEntries());
    TempFile file("model.vorn", bytes);
    Handle model;
    ASSERT_EQ(vorn_OpenStream(&model.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_SUCCESS);

    std::vector<uint8_t> tampered = bytes;
    PutU64(tampered, static_cast<size_t>(LayoutOf(bytes).records[1] + 8), UINT64_MAX);
    ASSERT_TRUE(vorntest::WriteWholeFile(file.path, tampered));
    Handle alone, like;
    EXPECT_EQ(
        archive::OpenArchiveLike(&alone.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY, nullptr),
        archive::Status::Corrupt);
    ASSERT_EQ(
        archive::OpenArchiveLike(&like.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY, model.h),
        archive::Status::Ok);
    EXPECT_EQ(NameAt(like.h, 2), "three");

    vorntest::TestArchive longer = ThreeEntries();
    longer.entries.push_back(Entry("four", Bytes("another")));
    ASSERT_TRUE(vorntest::WriteWholeFile(file.path, vorntest::BuildTestArchive(longer)));
    Handle other;
    ASSERT_EQ(
        archive::OpenArchiveLike(&other.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY, model.h),
        archive::Status::Ok);
    EXPECT_EQ(vorn_GetNumFiles(other.h), 4u);
    EXPECT_EQ(NameAt(other.h, 3), "four");
}

// The name table too, while the model read the same plain table: renamed on the disk, the
// borrowing handle still shows the model's name, where an open of its own (the control) reads
// the new one. An enciphered table is read and checked again, so a wrong password fails beside
// a model that the right one opened.
TEST(ArchiveWalk, FurtherHandleTakesPlainNamesButChecksAnEncipheredTableItself) {
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(ThreeEntries());
    TempFile file("names.vorn", bytes);
    Handle model;
    ASSERT_EQ(vorn_OpenStream(&model.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_SUCCESS);
    const std::string old = "one.txt";
    auto at = std::search(bytes.begin(), bytes.end(), old.begin(), old.end());
    ASSERT_NE(at, bytes.end());
    std::copy_n("ONE.TXT", old.size(), at);
    ASSERT_TRUE(vorntest::WriteWholeFile(file.path, bytes));
    Handle alone, like;
    ASSERT_EQ(
        archive::OpenArchiveLike(&alone.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY, nullptr),
        archive::Status::Ok);
    EXPECT_EQ(NameAt(alone.h, 0), "ONE.TXT");
    ASSERT_EQ(
        archive::OpenArchiveLike(&like.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY, model.h),
        archive::Status::Ok);
    EXPECT_EQ(NameAt(like.h, 0), "one.txt");

    vorntest::TestArchive enciphered = ThreeEntries();
    enciphered.namesPassword = "names-secret";
    TempFile sealedNames("enc.vorn", vorntest::BuildTestArchive(enciphered));
    Handle right;
    ASSERT_EQ(
        vorn_OpenStream(&right.h, sealedNames.path.c_str(), "names-secret", VORN_OPEN_READONLY),
        VORN_SUCCESS);
    Handle wrong, again;
    EXPECT_EQ(archive::OpenArchiveLike(&wrong.h, sealedNames.path.c_str(), "names-secreT",
                                       VORN_OPEN_READONLY, right.h),
              archive::Status::CrcMismatch);
    ASSERT_EQ(archive::OpenArchiveLike(&again.h, sealedNames.path.c_str(), "names-secret",
                                       VORN_OPEN_READONLY, right.h),
              archive::Status::Ok);
    EXPECT_EQ(NameAt(again.h, 2), "three");
}

// The open's reader hands out the file's own bytes across every read's edge, whether the spans
// lie densely (the reads grow to the whole buffer) or far apart (the reads are small again).
TEST(ChunkReader, EverySpanIsTheFilesOwnBytesWhetherReadDenselyOrSparsely) {
    const std::vector<uint8_t> bytes = SampleData(3u << 20, 7);
    TempFile file("chunks.bin", bytes);
    int fd =
        platform::FileOpen(file.path.c_str(), platform::kOpenBinary | platform::kOpenReadOnly, 0);
    ASSERT_GE(fd, 0);
    archive::ChunkReader reader;
    ASSERT_TRUE(archive::ChunkInit(&reader, fd, bytes.size(), archive::kWalkBuffer,
                                   archive::kWalkFirstRead));
    size_t largest = 0;
    for (uint64_t at = 0; at + 40 <= bytes.size(); at += at < (1u << 20) ? 700 : 300000) {
        const uint8_t* span = archive::ChunkAt(&reader, at, 40);
        ASSERT_NE(span, nullptr) << at;
        ASSERT_EQ(std::memcmp(span, bytes.data() + at, 40), 0) << at;
        largest = std::max(largest, reader.filled);
    }
    EXPECT_EQ(largest, archive::kWalkBuffer);
    EXPECT_EQ(reader.filled, archive::kWalkFirstRead);
    archive::ChunkFree(&reader);
    platform::FileClose(fd);
}

TEST(ArchiveWalk, HostileEntryCountFailsAtOnce) {
    for (uint64_t count : {UINT64_MAX, uint64_t{1} << 40, uint64_t{4}}) {
        vorntest::TestArchive archiveSpec = ThreeEntries();
        archiveSpec.entryCountOverride = count;
        TempFile file("hostile.vorn", vorntest::BuildTestArchive(archiveSpec));
        auto start = std::chrono::steady_clock::now();
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_E_CORRUPT)
            << count;
        EXPECT_EQ(h.h, nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST(ArchiveWalk, EmptyArchiveOpens) {
    TempFile file("empty.vorn", vorntest::BuildTestArchive(vorntest::TestArchive{}));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(vorn_GetNumFiles(h.h), 0u);
}

vorntest::TestArchive Enciphered() {
    vorntest::TestArchive archiveSpec = ThreeEntries();
    archiveSpec.namesPassword = "names-secret";
    return archiveSpec;
}

TEST(EncipheredNameTable, NoPasswordNeedsOneAndLeavesNoHandle) {
    TempFile file("enc.vorn", vorntest::BuildTestArchive(Enciphered()));
    Handle h;
    h.h = reinterpret_cast<void*>(1);
    EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_PASSWORD_NEEDED);
    EXPECT_EQ(h.h, nullptr);
}

TEST(EncipheredNameTable, WrongOrEmptyPasswordFailsTheCheck) {
    TempFile file("enc.vorn", vorntest::BuildTestArchive(Enciphered()));
    for (const char* password : {"names-secreT", "", "names-secret-"}) {
        Handle h;
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), password, VORN_OPEN_READONLY),
                  VORN_E_CRC)
            << password;
        EXPECT_EQ(h.h, nullptr);
    }
}

TEST(EncipheredNameTable, RightPasswordFindsNamesByIndexAndByName) {
    TempFile file("enc.vorn", vorntest::BuildTestArchive(Enciphered()));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), "names-secret", VORN_OPEN_READONLY),
              VORN_SUCCESS);
    EXPECT_EQ(NameAt(h.h, 0), "one.txt");
    EXPECT_EQ(NameAt(h.h, 1), "dir\\two.bin");
    EXPECT_EQ(NameAt(h.h, 2), "three");
    VORN_FILEINFO info;
    ASSERT_EQ(vorn_GetFileInfo(h.h, &info, "dir\\two.bin"), VORN_SUCCESS);
    EXPECT_EQ(info.qwUnpackedSize, 300u);
    EXPECT_EQ(vorn_GetFileInfo(h.h, &info, "two.bin"), VORN_E_NAME_NOT_FOUND);
    // The names are deciphered once at open: the handle keeps no copy of the password after it.
    const auto* handle = static_cast<const archive::ArchiveHandle*>(h.h);
    const char zeros[archive::kMaxPassword] = {};
    EXPECT_EQ(std::memcmp(handle->archivePassword, zeros, sizeof zeros), 0);
}

TEST(EncipheredNameTable, PlainTableOpensWhateverPasswordIsGiven) {
    TempFile file("plain.vorn", vorntest::BuildTestArchive(ThreeEntries()));
    for (const char* password : {"", "anything"}) {
        Handle h;
        ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), password, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        EXPECT_EQ(NameAt(h.h, 1), "dir\\two.bin");
    }
}

TEST(EncipheredNameTable, EmptyTableAcceptsAnyPassword) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.namesPassword = "x";
    TempFile file("encempty.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              VORN_E_PASSWORD_NEEDED);
    EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), "other", VORN_OPEN_READONLY), VORN_SUCCESS);
}

TEST(ArchiveLock, SecondLockIsRefusedAndTheFlagReachesTheDisk) {
    vorntest::TestArchive archiveSpec = ThreeEntries();
    archiveSpec.prefix = Bytes("stub bytes");
    archiveSpec.reserved = format::kMarkLzBlocks;  // a mark the reader knows, kept by the lock
    TempFile file("lock.vorn", vorntest::BuildTestArchive(archiveSpec));
    {
        Handle h;
        ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READWRITE),
                  VORN_SUCCESS);
        EXPECT_EQ(vorn_LockArchive(h.h), VORN_SUCCESS);
        EXPECT_EQ(vorn_LockArchive(h.h), VORN_E_LOCKED);
    }
    std::vector<uint8_t> bytes = ReadFile(file.path);
    EXPECT_EQ(GetU32(bytes, 10 + 16), format::kFlagLocked);
    EXPECT_EQ(GetU32(bytes, 10 + 20), format::kMarkLzBlocks);
    EXPECT_EQ(GetU32(bytes, 10 + 8), 3u);
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READWRITE), VORN_SUCCESS);
    EXPECT_EQ(vorn_LockArchive(h.h), VORN_E_LOCKED);
    EXPECT_EQ(NameAt(h.h, 2), "three");  // a locked archive reads like any other
}

TEST(ArchiveLock, ArchiveLockedWhenWrittenRefusesTheFirstLock) {
    vorntest::TestArchive archiveSpec = ThreeEntries();
    archiveSpec.flags = format::kFlagLocked;
    TempFile file("prelocked.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READWRITE), VORN_SUCCESS);
    EXPECT_EQ(vorn_LockArchive(h.h), VORN_E_LOCKED);
}

TEST(ArchiveLock, ReadOnlyOpenCannotLock) {
    TempFile file("ro.vorn", vorntest::BuildTestArchive(ThreeEntries()));
    std::vector<uint8_t> before = ReadFile(file.path);
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(vorn_LockArchive(h.h), VORN_E_OPEN_MODE);
    EXPECT_EQ(ReadFile(file.path), before);
}

TEST(ArchiveClose, NullHandleIsInvalid) {
    EXPECT_EQ(vorn_CloseStream(nullptr), VORN_E_INVALID_ARGUMENT);
}

#ifndef _WIN32
// A program without standard input gets descriptor 0 for the archive: the open takes it, and so
// must the close, or the handle could never be freed.
TEST(ArchiveClose, ArchiveOnDescriptorZeroIsClosed) {
    TempFile file("fd0.vorn", vorntest::BuildTestArchive(ThreeEntries()));
    int savedInput = dup(0);
    ASSERT_GE(savedInput, 0);
    close(0);
    void* h = nullptr;
    uint32_t opened = vorn_OpenStream(&h, file.path.c_str(), nullptr, VORN_OPEN_READONLY);
    int fd = h ? static_cast<archive::ArchiveHandle*>(h)->archiveFd : -1;
    uint32_t closed = h ? vorn_CloseStream(h) : VORN_E_UNKNOWN;
    bool descriptorFree = fcntl(0, F_GETFD) == -1;
    dup2(savedInput, 0);
    close(savedInput);
    EXPECT_EQ(opened, VORN_SUCCESS);
    EXPECT_EQ(fd, 0);
    EXPECT_EQ(closed, VORN_SUCCESS);
    EXPECT_TRUE(descriptorFree) << "the close left descriptor 0 open";
}
#endif

TEST(ArchiveCancel, CancelWithoutRunningExtractionSucceeds) {
    TempFile file("a.vorn", vorntest::BuildTestArchive(ThreeEntries()));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(vorn_CancelOperation(h.h), VORN_SUCCESS);
}

TEST(StatusText, EveryCodeHasItsText) {
    const char* texts[] = {
        "Success",
        "Unknown",
        "Invalid argument passed",
        "Archive is corrupt",
        "Not found",
        "Entry exists already",
        "Out of disk space",
        "Archive is opened in a mode preventing this operation",
        "Archive has been locked preventing this operation",
        "Decompressed file CRC does not match original",
        "The selected operation requires a correct password",
        "The selected operation failed to allocate enough memory",
        "The open archive is an older archive format",
    };
    for (int code = 0; code <= 12; ++code) {
        EXPECT_STREQ(vorn_GetErrorString(code), texts[code]) << code;
    }
    for (int code : {13, 64, -1, INT_MIN, INT_MAX}) {
        EXPECT_STREQ(vorn_GetErrorString(code), "Unknown <?>") << code;
    }
}

TEST(ArchiveScan, FindsArchiveBeyondFourGiBInSparseFile) {
    vorntest::TestArchive archiveSpec = ThreeEntries();
    std::vector<uint8_t> archive = vorntest::BuildTestArchive(archiveSpec);
    const uint64_t base = (uint64_t{4} << 30) + 12345;
    TempFile file("sparse.vorn");
    {
        // The prefix is a hole: seek past it and write only the archive.
        std::ofstream out(file.path, std::ios::binary);
        ASSERT_TRUE(out);
        out.seekp(static_cast<std::streamoff>(base));
        out.write(reinterpret_cast<const char*>(archive.data()),
                  static_cast<std::streamsize>(archive.size()));
        ASSERT_TRUE(out.good());
    }
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    EXPECT_EQ(BaseOf(h.h), base);
    EXPECT_EQ(vorn_GetNumFiles(h.h), 3u);
    EXPECT_EQ(NameAt(h.h, 0), "one.txt");
    EXPECT_EQ(NameAt(h.h, 2), "three");
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_GetFileInfo(h.h, &info, "dir\\two.bin"), VORN_SUCCESS);
    unsigned char data[300];
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "dir\\two.bin", data, nullptr, nullptr), VORN_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 300), SampleData(300, 2));
}

}  // namespace
