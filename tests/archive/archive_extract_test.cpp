// The extraction calls: entries to files and to memory, stored and compressed, plain and
// enciphered; what a failed call leaves behind; cancel, progress, free space and failed writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "archive/archive_handle.h"
#include "archive/extraction.h"
#include "archive_test_util.h"
#include "codec/entry_run.h"
#include "format/failed_check.h"
#include "platform/platform.h"

using namespace archive_test;

namespace {

const std::vector<uint8_t> kSmall = Bytes("a small stored entry");
const std::vector<uint8_t> kLarge = SampleData(600000, 7);

vorntest::TestArchive Sample() {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("small.txt", kSmall));
    vorntest::TestEntry big = Entry("dir\\big.bin", kLarge);
    big.method = pack::Method::Compressed;
    big.blockSize = 100000;
    archiveSpec.entries.push_back(big);
    vorntest::TestEntry storedBlocks = Entry("blocks.bin", SampleData(50000, 9));
    storedBlocks.blockSize = 8192;
    archiveSpec.entries.push_back(storedBlocks);
    vorntest::TestEntry secret = Entry("secret.bin", SampleData(40000, 11));
    secret.method = pack::Method::Compressed;
    secret.blockSize = 16384;
    secret.password = "entry-password";
    archiveSpec.entries.push_back(secret);
    vorntest::TestEntry storedSecret = Entry("secret.txt", Bytes("enciphered but stored"));
    storedSecret.password = "entry-password";
    archiveSpec.entries.push_back(storedSecret);
    archiveSpec.entries.push_back(Entry("empty", {}));
    vorntest::TestEntry readOnly = Entry("readonly.txt", Bytes("keep me"));
    readOnly.attributes = 0x21;
    archiveSpec.entries.push_back(readOnly);
    vorntest::TestEntry emptyReadOnly = Entry("empty-ro", {});
    emptyReadOnly.attributes = 0x21;
    archiveSpec.entries.push_back(emptyReadOnly);
    archiveSpec.comment = "comment text";
    return archiveSpec;
}

struct Fixture : ::testing::Test {
    TempFile archive{"x.vorn", vorntest::BuildTestArchive(Sample())};
    Handle h;
    void SetUp() override {
        ASSERT_EQ(vorn_OpenStream(&h.h, archive.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
    }
    archive::ArchiveHandle* handle() { return static_cast<archive::ArchiveHandle*>(h.h); }

    std::vector<uint8_t> ToMemory(const char* name, const char* password, uint32_t* status) {
        VORN_FILEINFO info;
        if (vorn_GetFileInfo(h.h, &info, name) != VORN_SUCCESS) info.qwUnpackedSize = 0;
        std::vector<uint8_t> out(static_cast<size_t>(info.qwUnpackedSize) + 1, 0xEE);
        *status = vorn_DecompressToPtr(h.h, name, out.data(), nullptr, password);
        EXPECT_EQ(out.back(), 0xEE) << "nothing is written past the entry";
        out.pop_back();
        return out;
    }
};

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

bool IsReadOnly(const std::string& path) {
    auto perms = std::filesystem::status(path).permissions();
    return (perms & std::filesystem::perms::owner_write) == std::filesystem::perms::none;
}

using Extraction = Fixture;

TEST_F(Extraction, EntriesToFileMatchTheirData) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
    } cases[] = {{"small.txt", kSmall},
                 {"dir\\big.bin", kLarge},
                 {"blocks.bin", SampleData(50000, 9)},
                 {"empty", {}},
                 {"$comments$", Bytes("comment text")}};
    for (const auto& c : cases) {
        TempFile out("out.bin");
        ASSERT_EQ(vorn_DecompressToFile(h.h, c.name, out.path.c_str(), nullptr, nullptr),
                  VORN_SUCCESS)
            << c.name;
        EXPECT_EQ(ReadFile(out.path), c.data) << c.name;
        EXPECT_FALSE(IsReadOnly(out.path));
    }
}

TEST_F(Extraction, EntriesToMemoryMatchTheirData) {
    uint32_t status;
    EXPECT_EQ(ToMemory("small.txt", nullptr, &status), kSmall);
    EXPECT_EQ(status, VORN_SUCCESS);
    EXPECT_EQ(ToMemory("dir\\big.bin", nullptr, &status), kLarge);
    EXPECT_EQ(status, VORN_SUCCESS);
    EXPECT_EQ(ToMemory("blocks.bin", "unused password", &status), SampleData(50000, 9));
    EXPECT_EQ(status, VORN_SUCCESS);
    EXPECT_EQ(ToMemory("empty", nullptr, &status), std::vector<uint8_t>{});
    EXPECT_EQ(status, VORN_SUCCESS);
}

TEST_F(Extraction, EncipheredEntryNeedsTheRightPassword) {
    for (const char* name : {"secret.bin", "secret.txt"}) {
        TempFile out("secret.out");
        EXPECT_EQ(vorn_DecompressToFile(h.h, name, out.path.c_str(), nullptr, nullptr),
                  VORN_E_PASSWORD_NEEDED);
        EXPECT_FALSE(std::filesystem::exists(out.path));
        uint32_t status;
        ToMemory(name, nullptr, &status);
        EXPECT_EQ(status, VORN_E_PASSWORD_NEEDED);

        VORN_FILEINFO info;
        ASSERT_EQ(vorn_GetFileInfo(h.h, &info, name), VORN_SUCCESS);
        EXPECT_EQ(vorn_DecompressToFile(h.h, name, out.path.c_str(), nullptr, "entry-password"),
                  VORN_SUCCESS);
        EXPECT_EQ(ReadFile(out.path).size(), info.qwUnpackedSize);
        std::vector<uint8_t> plain = ToMemory(name, "entry-password", &status);
        EXPECT_EQ(status, VORN_SUCCESS);
        EXPECT_EQ(plain, ReadFile(out.path));
    }
    // A wrong password shows as a CRC mismatch (a stored body has its length in the clear).
    TempFile out("wrong.out");
    EXPECT_EQ(vorn_DecompressToFile(h.h, "secret.txt", out.path.c_str(), nullptr, "wrong"),
              VORN_E_CRC);
    EXPECT_FALSE(std::filesystem::exists(out.path));  // the wrong bytes never reach the path
    uint32_t status;
    ToMemory("secret.txt", "wrong", &status);
    EXPECT_EQ(status, VORN_E_CRC);
    ToMemory("secret.bin", "", &status);
    EXPECT_TRUE(status == VORN_E_CRC || status == VORN_E_CORRUPT) << status;
}

TEST_F(Extraction, MissingNameLeavesTheFileThatStoodThere) {
    TempFile out("missing.out", Bytes("old contents"));
    EXPECT_EQ(vorn_DecompressToFile(h.h, "no such entry", out.path.c_str(), nullptr, nullptr),
              VORN_E_NOT_FOUND);
    EXPECT_EQ(ReadFile(out.path), Bytes("old contents"));
    uint32_t status;
    ToMemory("SMALL.TXT", nullptr, &status);
    EXPECT_EQ(status, VORN_E_NOT_FOUND);
}

TEST_F(Extraction, OutputThatCannotBeCreatedIsInvalid) {
    std::string folder = UniquePath("no-such-folder");
    EXPECT_EQ(
        vorn_DecompressToFile(h.h, "small.txt", (folder + "/x.txt").c_str(), nullptr, nullptr),
        VORN_E_INVALID_ARGUMENT);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(
        vorn_DecompressToFile(h.h, "small.txt", std::string(256, 'p').c_str(), nullptr, nullptr),
        VORN_E_INVALID_ARGUMENT);
}

TEST_F(Extraction, ReadOnlyAttributeAppliedAndSecondExtractionRefused) {
    for (const char* name : {"readonly.txt", "empty-ro"}) {
        TempFile out("ro.out");
        ASSERT_EQ(vorn_DecompressToFile(h.h, name, out.path.c_str(), nullptr, nullptr),
                  VORN_SUCCESS);
        EXPECT_TRUE(IsReadOnly(out.path));
        std::vector<uint8_t> first = ReadFile(out.path);
        // Wine keeps the attribute as missing write bits, which a process running as root
        // writes through; Windows itself refuses the open.
        if (RunningUnderWine()) continue;
        EXPECT_EQ(vorn_DecompressToFile(h.h, name, out.path.c_str(), nullptr, nullptr),
                  VORN_E_INVALID_ARGUMENT);
        EXPECT_EQ(ReadFile(out.path), first);
    }
}

TEST_F(Extraction, LockedArchiveExtractsLikeAnyOther) {
    vorntest::TestArchive archiveSpec = Sample();
    archiveSpec.flags = format::kFlagLocked;
    TempFile locked("locked.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle l;
    ASSERT_EQ(vorn_OpenStream(&l.h, locked.path.c_str(), nullptr, VORN_OPEN_READWRITE),
              VORN_SUCCESS);
    std::vector<uint8_t> out(kLarge.size());
    EXPECT_EQ(vorn_DecompressToPtr(l.h, "dir\\big.bin", out.data(), nullptr, nullptr),
              VORN_SUCCESS);
    EXPECT_EQ(out, kLarge);
}

TEST_F(Extraction, MemorySizeLimitAndLongName) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry huge = Entry("huge", Bytes("tiny"));
    huge.unpackedSizeOverride = uint64_t{1} << 32;
    vorntest::TestEntry almost = Entry("almost", Bytes("tiny"));
    almost.unpackedSizeOverride = (uint64_t{1} << 32) - 1;
    archiveSpec.entries = {huge, almost};
    TempFile file("sizes.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle s;
    ASSERT_EQ(vorn_OpenStream(&s.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    unsigned char buffer[16] = {};
    EXPECT_EQ(vorn_DecompressToPtr(s.h, "huge", buffer, nullptr, nullptr), VORN_E_NO_MEMORY);
    EXPECT_EQ(buffer[0], 0);
    // Below 4 GiB the run goes on; the bytes are those of the entry, which ends short of its
    // record's size and so is corrupt.
    EXPECT_EQ(vorn_DecompressToPtr(s.h, "almost", buffer, nullptr, nullptr), VORN_E_CORRUPT);
    EXPECT_EQ(std::memcmp(buffer, "tiny", 4), 0);
    EXPECT_EQ(vorn_DecompressToPtr(s.h, std::string(257, 'n').c_str(), buffer, nullptr, nullptr),
              VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(vorn_DecompressToPtr(s.h, std::string(256, 'n').c_str(), buffer, nullptr, nullptr),
              VORN_E_NOT_FOUND);
}

// A record that overstates the unpacked size makes the entry corrupt; the caller's buffer past the
// decoded bytes still keeps what the caller put there, however the last block's matches were
// copied.
TEST_F(Extraction, BytesPastTheDecodedOutputStayAsTheCallerLeftThem) {
    const std::vector<uint8_t> data = SampleData(5000, 13);  // ends in matches
    vorntest::TestArchive archiveSpec;
    for (pack::Method method : {pack::Method::Compressed, pack::Method::Stored}) {
        vorntest::TestEntry entry = Entry(method == pack::Method::Stored ? "s" : "c", data);
        entry.method = method;
        entry.blockSize = 1000;
        entry.unpackedSizeOverride = data.size() + 64;
        archiveSpec.entries.push_back(entry);
    }
    TempFile file("overstated.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle s;
    ASSERT_EQ(vorn_OpenStream(&s.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    for (const char* name : {"c", "s"}) {
        std::vector<uint8_t> buffer(data.size() + 64, 0);
        EXPECT_EQ(vorn_DecompressToPtr(s.h, name, buffer.data(), nullptr, nullptr), VORN_E_CORRUPT);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin())) << name;
        EXPECT_EQ(
            std::vector<uint8_t>(buffer.begin() + static_cast<long>(data.size()), buffer.end()),
            std::vector<uint8_t>(64, 0))
            << name;
    }
}

void* g_handle = nullptr;
std::vector<int> g_progress;
size_t g_cancelAtCall = 0;

void Record(int percent) {
    g_progress.push_back(percent);
    if (g_cancelAtCall != 0 && g_progress.size() == g_cancelAtCall) vorn_CancelOperation(g_handle);
}

TEST_F(Extraction, CancelBeforeTheCallHasNoEffect) {
    ASSERT_EQ(vorn_CancelOperation(h.h), VORN_SUCCESS);
    TempFile out("c.out");
    EXPECT_EQ(vorn_DecompressToFile(h.h, "blocks.bin", out.path.c_str(), nullptr, nullptr),
              VORN_SUCCESS);
    ASSERT_EQ(vorn_CancelOperation(h.h), VORN_SUCCESS);
    uint32_t status;
    EXPECT_EQ(ToMemory("blocks.bin", nullptr, &status), SampleData(50000, 9));
    EXPECT_EQ(status, VORN_SUCCESS);
}

TEST_F(Extraction, CancelDuringTheRunStopsAtTheNextBlock) {
    g_handle = h.h;
    g_progress.clear();
    g_cancelAtCall = 2;  // while the second block is about to be read
    TempFile out("cancel.out");
    EXPECT_EQ(vorn_DecompressToFile(h.h, "blocks.bin", out.path.c_str(), Record, nullptr),
              VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(g_progress.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(out.path));  // the blocks written so far are discarded

    g_progress.clear();
    std::vector<uint8_t> buffer(kLarge.size());
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "dir\\big.bin", buffer.data(), Record, nullptr),
              VORN_E_INVALID_ARGUMENT);
    g_cancelAtCall = 0;
    // The handle stays usable.
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "dir\\big.bin", buffer.data(), nullptr, nullptr),
              VORN_SUCCESS);
    EXPECT_EQ(buffer, kLarge);
}

TEST(ExtractionProgress, ReportsZeroEachBlockShareAndHundred) {
    // Two stored blocks of 112 and 80 bytes: 116 and 84 bytes of the 200-byte data area.
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e = Entry("p", SampleData(192, 3));
    e.blockSize = 112;
    archiveSpec.entries = {e, Entry("empty", {})};
    TempFile file("p.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    VORN_FILEINFO info;
    ASSERT_EQ(vorn_GetFileInfo(h.h, &info, "p"), VORN_SUCCESS);
    ASSERT_EQ(info.qwStoredSize, 200u);
    g_cancelAtCall = 0;
    g_progress.clear();
    unsigned char out[192];
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "p", out, Record, nullptr), VORN_SUCCESS);
    EXPECT_EQ(g_progress, (std::vector<int>{0, 57, 100}));
    g_progress.clear();
    TempFile empty("empty.out");
    EXPECT_EQ(vorn_DecompressToFile(h.h, "empty", empty.path.c_str(), Record, nullptr),
              VORN_SUCCESS);
    EXPECT_EQ(g_progress, (std::vector<int>{100}));
}

uint64_t g_freeBytes = 0;
bool g_freeQueryWorks = true;
bool FakeFreeSpace(const char*, uint64_t* bytes) {
    *bytes = g_freeBytes;
    return g_freeQueryWorks;
}

TEST_F(Extraction, FreeSpaceEqualToTheSizeIsEnough) {
    handle()->queryFreeSpace = FakeFreeSpace;
    g_freeQueryWorks = true;
    TempFile out("space.out");
    g_freeBytes = kLarge.size() - 1;
    EXPECT_EQ(vorn_DecompressToFile(h.h, "dir\\big.bin", out.path.c_str(), nullptr, nullptr),
              VORN_E_DISK_FULL);
    EXPECT_FALSE(std::filesystem::exists(out.path));
    g_freeBytes = kLarge.size();
    EXPECT_EQ(vorn_DecompressToFile(h.h, "dir\\big.bin", out.path.c_str(), nullptr, nullptr),
              VORN_SUCCESS);
    EXPECT_EQ(ReadFile(out.path), kLarge);
    // A volume that cannot be asked is not refused.
    g_freeQueryWorks = false;
    g_freeBytes = 0;
    EXPECT_EQ(vorn_DecompressToFile(h.h, "small.txt", out.path.c_str(), nullptr, nullptr),
              VORN_SUCCESS);
}

TEST(OutputFolder, SplitsLikeTheWindowsRuntime) {
    char folder[256];
    archive::OutputFolderOf("C:\\dest\\sub\\file.txt", folder);
    EXPECT_STREQ(folder, "C:\\dest\\sub\\");
    archive::OutputFolderOf("C:file.txt", folder);
    EXPECT_STREQ(folder, "C:");
    archive::OutputFolderOf("/tmp/a/b", folder);
    EXPECT_STREQ(folder, "/tmp/a/");
    archive::OutputFolderOf("mixed\\dir/file", folder);
    EXPECT_STREQ(folder, "mixed\\dir/");
    archive::OutputFolderOf("file", folder);
    EXPECT_STREQ(folder, "");
}

constexpr uint64_t kBlocksIndex = 2;  // "blocks.bin" in Sample()

bool RefuseAfterFirst(void* context, const uint8_t*, uint32_t) {
    int& calls = *static_cast<int*>(context);
    return calls++ == 0;
}

bool Collect(void* context, const uint8_t* bytes, uint32_t count) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
    return true;
}

// The project's own calls take the entry at an index: of two entries with one name each gives
// its own bytes, where a lookup by name always finds the first.
TEST(ExtractionByIndex, EachOfTwoEntriesWithOneNameGivesItsOwnBytes) {
    vorntest::TestArchive twins;
    twins.entries.push_back(Entry("same.txt", Bytes("first")));
    twins.entries.push_back(Entry("same.txt", Bytes("second")));
    TempFile file("same.vorn", vorntest::BuildTestArchive(twins));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    std::string got[2];
    for (uint64_t i : {0u, 1u}) {
        EXPECT_EQ(
            archive::ExtractToSink(h.h, i, nullptr, codec::BlockSink{Collect, &got[i]}, {}, {}),
            format::Status::Ok);
    }
    EXPECT_EQ(got[0], "first");
    EXPECT_EQ(got[1], "second");
    TempFile out("second.txt");
    ASSERT_EQ(archive::ExtractToFile(h.h, 1, out.path.c_str(), nullptr, {}, {}),
              format::Status::Ok);
    EXPECT_EQ(ReadFile(out.path), Bytes("second"));
    std::string none;
    EXPECT_EQ(archive::ExtractToSink(h.h, 2, nullptr, codec::BlockSink{Collect, &none}, {}, {}),
              format::Status::NotFound);
}

// A handle reads ahead across neighbouring entries; whatever order they are taken in, each gets
// its own bytes, for data areas smaller than, as large as and larger than what it reads ahead.
TEST(ExtractionByIndex, EntriesAroundTheReadAheadSizeGiveTheirBytesInAnyOrder) {
    const uint32_t ahead = archive::kReadAheadBytes;
    const std::vector<uint32_t> sizes = {1,         300,           ahead - 45, ahead - 44, ahead,
                                         ahead + 1, 3 * ahead + 7, 0,          2};
    vorntest::TestArchive contents;
    for (size_t i = 0; i < sizes.size(); ++i) {
        vorntest::TestEntry e =
            Entry(("e" + std::to_string(i)).c_str(), SampleData(sizes[i], uint32_t(40 + i)));
        e.blockSize = 20000;
        if (i % 2) e.method = pack::Method::Compressed;
        contents.entries.push_back(e);
    }
    TempFile file("ahead.vorn", vorntest::BuildTestArchive(contents));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    std::vector<uint64_t> forward(sizes.size()), backward, interleaved;
    for (size_t i = 0; i < sizes.size(); ++i) forward[i] = i;
    backward.assign(forward.rbegin(), forward.rend());
    for (size_t i = 0; i < sizes.size(); i += 2) interleaved.push_back(i);
    for (size_t i = 1; i < sizes.size(); i += 2) interleaved.push_back(i);
    for (const auto& order : {forward, backward, interleaved, forward}) {
        for (uint64_t i : order) {
            std::string got;
            ASSERT_EQ(
                archive::ExtractToSink(h.h, i, nullptr, codec::BlockSink{Collect, &got}, {}, {}),
                format::Status::Ok)
                << "entry " << i;
            const std::vector<uint8_t> want = SampleData(sizes[i], uint32_t(40 + i));
            EXPECT_EQ(got, std::string(want.begin(), want.end())) << "entry " << i;
        }
    }
}

struct CancelAfter {
    int asked = 0;
    int answerTrueAt;
};

bool CancelledYet(void* context) {
    auto* cancel = static_cast<CancelAfter*>(context);
    return ++cancel->asked >= cancel->answerTrueAt;
}

// The caller's cancel is asked once per block, before the block is read: the blocks before the
// one it stops at are delivered, and the run answers Cancelled (2 through the C API).
TEST_F(Extraction, CallersCancelStopsTheRunBeforeTheNextBlock) {
    CancelAfter cancel{0, 3};
    std::string got;
    EXPECT_EQ(
        archive::ExtractToSink(handle(), kBlocksIndex, nullptr, codec::BlockSink{Collect, &got}, {},
                               archive::CancelCheck{CancelledYet, &cancel}),
        format::Status::Cancelled);
    EXPECT_EQ(cancel.asked, 3);
    EXPECT_EQ(got.size(), 2u * 8192);
    EXPECT_EQ(archive::PublicCode(format::Status::Cancelled), VORN_E_INVALID_ARGUMENT);
    // A cancel that never answers true lets the run end as it would without one.
    CancelAfter never{0, 1000};
    got.clear();
    EXPECT_EQ(
        archive::ExtractToSink(handle(), kBlocksIndex, nullptr, codec::BlockSink{Collect, &got}, {},
                               archive::CancelCheck{CancelledYet, &never}),
        format::Status::Ok);
    EXPECT_EQ(got.size(), 50000u);
    EXPECT_EQ(never.asked, 7);  // one per block of 8192 bytes
}

TEST_F(Extraction, ShortWriteStopsTheRun) {
    int calls = 0;
    EXPECT_EQ(archive::ExtractToSink(handle(), kBlocksIndex, nullptr,
                                     codec::BlockSink{RefuseAfterFirst, &calls}, {}, {}),
              format::Status::DiskFull);
    EXPECT_EQ(calls, 2);
#ifndef _WIN32
    // A device that is always full: the free-space check passes, the writes fail.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(vorn_DecompressToFile(h.h, "dir\\big.bin", "/dev/full", nullptr, nullptr),
                  VORN_E_DISK_FULL);
    }
#endif
}

TEST(ExtractionThreads, SeparateHandlesExtractAtTheSameTime) {
    TempFile file("mt.vorn", vorntest::BuildTestArchive(Sample()));
    auto work = [&](bool* ok) {
        Handle h;
        *ok = vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY) == 0;
        std::vector<uint8_t> out(kLarge.size());
        for (int i = 0; i < 6 && *ok; ++i) {
            *ok = vorn_DecompressToPtr(h.h, "dir\\big.bin", out.data(), nullptr, nullptr) == 0 &&
                  out == kLarge;
        }
    };
    bool ok1 = false, ok2 = false;
    std::thread t1(work, &ok1), t2(work, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

#ifndef _WIN32
TEST(PlatformWrite, FileWithoutWriteBitsIsNotOpenedForWritingEvenByRoot) {
    TempFile file("ro.txt", Bytes("x"));
    std::filesystem::permissions(file.path, std::filesystem::perms::owner_read |
                                                std::filesystem::perms::group_read |
                                                std::filesystem::perms::others_read);
    EXPECT_EQ(
        platform::FileOpen(file.path.c_str(), platform::kOpenBinary | platform::kOpenReadWrite, 0),
        -1);
    int fd = platform::FileOpen(file.path.c_str(), platform::kOpenBinary, 0);
    EXPECT_GE(fd, 0);
    if (fd >= 0) platform::FileClose(fd);
}
#endif

// The handle keeps the runs' read buffer, context table and staging area from one extraction to
// the next; whatever a run leaves in them must not reach the run after it.
const std::vector<uint8_t> kGood = SampleData(300000, 21);
const std::vector<uint8_t> kHidden = SampleData(120000, 22);

// Flips bytes in the middle of the first block body of entry index of a built archive.
void DamageEntry(std::vector<uint8_t>& bytes, size_t index) {
    size_t at = format::kHeaderBytes;
    for (size_t i = 0; i < index; ++i) at += format::kRecordBytes + LoadStoredSize(bytes, at);
    size_t body = at + format::kRecordBytes + 4;
    for (size_t k = 200; k < 260; ++k) bytes[body + k] ^= 0x5A;
}

struct SuccessiveRuns : ::testing::Test {
    static vorntest::TestArchive Contents() {
        vorntest::TestArchive archiveSpec;
        for (const char* name : {"good", "damaged"}) {
            vorntest::TestEntry e = Entry(name, kGood);
            e.method = pack::Method::Compressed;
            e.blockSize = 100000;
            archiveSpec.entries.push_back(e);
        }
        vorntest::TestEntry hidden = Entry("hidden", kHidden);
        hidden.method = pack::Method::Compressed;
        hidden.blockSize = 50000;
        hidden.password = "right";
        archiveSpec.entries.push_back(hidden);
        return archiveSpec;
    }
    static std::vector<uint8_t> Built() {
        std::vector<uint8_t> bytes = vorntest::BuildTestArchive(Contents());
        DamageEntry(bytes, 1);
        return bytes;
    }
    TempFile archive{"runs.vorn", Built()};
    Handle h;
    void SetUp() override {
        ASSERT_EQ(vorn_OpenStream(&h.h, archive.path.c_str(), nullptr, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
    }
    uint32_t ToMemory(const char* name, const std::vector<uint8_t>& expected,
                      const char* password = nullptr, ProgressCallback progress = nullptr) {
        std::vector<uint8_t> out(expected.size(), 0xEE);
        uint32_t status = vorn_DecompressToPtr(h.h, name, out.data(), progress, password);
        if (status == VORN_SUCCESS) {
            EXPECT_EQ(out, expected) << name;
        }
        return status;
    }
    uint32_t ToFile(const char* name, const std::vector<uint8_t>& expected,
                    const char* password = nullptr) {
        TempFile out("run.out");
        uint32_t status = vorn_DecompressToFile(h.h, name, out.path.c_str(), nullptr, password);
        if (status == VORN_SUCCESS) {
            EXPECT_EQ(ReadFile(out.path), expected) << name;
        }
        return status;
    }
};

TEST_F(SuccessiveRuns, TwoInARowBothGiveTheirBytes) {
    EXPECT_EQ(ToMemory("good", kGood), VORN_SUCCESS);
    // Mapped once, by the first run, and kept.
    codec::RunMemory kept = static_cast<archive::ArchiveHandle*>(h.h)->runMemory;
    EXPECT_NE(kept.readBuffer, nullptr);
    EXPECT_NE(kept.contextTable, nullptr);
    EXPECT_EQ(ToMemory("good", kGood), VORN_SUCCESS);
    EXPECT_EQ(static_cast<archive::ArchiveHandle*>(h.h)->runMemory.readBuffer, kept.readBuffer);
    EXPECT_EQ(ToFile("good", kGood), VORN_SUCCESS);
    EXPECT_EQ(ToFile("good", kGood), VORN_SUCCESS);
    EXPECT_EQ(ToMemory("hidden", kHidden, "right"), VORN_SUCCESS);
    EXPECT_EQ(ToMemory("good", kGood), VORN_SUCCESS);
}

TEST_F(SuccessiveRuns, RunAfterADamagedEntryGivesTheRightBytes) {
    for (int round = 0; round < 2; ++round) {
        uint32_t status = ToMemory("damaged", kGood);
        EXPECT_TRUE(status == VORN_E_CORRUPT || status == VORN_E_CRC) << status;
        EXPECT_EQ(ToMemory("good", kGood), VORN_SUCCESS);
        status = ToFile("damaged", kGood);
        EXPECT_TRUE(status == VORN_E_CORRUPT || status == VORN_E_CRC) << status;
        EXPECT_EQ(ToFile("good", kGood), VORN_SUCCESS);
    }
}

TEST_F(SuccessiveRuns, RunAfterACancelledOneGivesTheRightBytes) {
    g_handle = h.h;
    g_progress.clear();
    g_cancelAtCall = 2;  // during the second of three blocks
    EXPECT_EQ(ToMemory("good", kGood, nullptr, Record), VORN_E_INVALID_ARGUMENT);
    g_cancelAtCall = 0;
    EXPECT_EQ(ToMemory("good", kGood), VORN_SUCCESS);
    EXPECT_EQ(ToFile("good", kGood), VORN_SUCCESS);
}

TEST_F(SuccessiveRuns, RightPasswordAfterAWrongOneGivesTheRightBytes) {
    uint32_t status = ToMemory("hidden", kHidden, "wrong");
    EXPECT_TRUE(status == VORN_E_CORRUPT || status == VORN_E_CRC) << status;
    EXPECT_EQ(ToMemory("hidden", kHidden, "right"), VORN_SUCCESS);
    status = ToFile("hidden", kHidden, "wrong");
    EXPECT_TRUE(status == VORN_E_CORRUPT || status == VORN_E_CRC) << status;
    EXPECT_EQ(ToFile("hidden", kHidden, "right"), VORN_SUCCESS);
    EXPECT_EQ(ToMemory("good", kGood), VORN_SUCCESS);
}

#if defined(__linux__)
// The bytes this process has read from files so far, by /proc/self/io (0 when it cannot tell).
uint64_t BytesReadSoFar() {
    char text[512] = {};
    int fd = open("/proc/self/io", O_RDONLY);
    if (fd < 0) return 0;
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    unsigned long long bytes = 0;
    if (got <= 0 || std::sscanf(text, "rchar: %llu", &bytes) != 1) return 0;
    return bytes;
}

// What an extraction that fails before touching the data reads: nothing beyond what asking costs.
// Asking twice with nothing between measures that cost (the counter's own text, whose digits may
// grow by a few bytes); the entry's first read would be a block header and the body behind it.
int64_t BytesReadBy(void* handle, const char* name, uint8_t* out, uint32_t* status) {
    uint64_t start = BytesReadSoFar();
    uint64_t asked = BytesReadSoFar();
    *status = vorn_DecompressToPtr(handle, name, out, nullptr, nullptr);
    uint64_t end = BytesReadSoFar();
    return static_cast<int64_t>(end - asked) - static_cast<int64_t>(asked - start);
}

// Run in a child whose address space is capped just above what it uses, so the runs' memory
// cannot be mapped; the cap is lifted again for the second extraction.
TEST_F(SuccessiveRuns, MemoryThatCannotBeMappedAnswersElevenBeforeReadingAndIsMappedLater) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an uncapped address space";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs an uncapped address space";
#endif
#endif
    std::vector<uint8_t> out(kGood.size());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        rlimit old;
        getrlimit(RLIMIT_AS, &old);
        rlimit cap = old;
        cap.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (rlim_t{4} << 20);
        if (pages == 0 || setrlimit(RLIMIT_AS, &cap) != 0) _exit(10);
        uint32_t first = 0;
        int64_t read = BytesReadBy(h.h, "good", out.data(), &first);
        setrlimit(RLIMIT_AS, &old);
        if (first != VORN_E_NO_MEMORY) _exit(1);
        if (BytesReadSoFar() == 0 || read > 8) _exit(2);
        if (vorn_DecompressToPtr(h.h, "good", out.data(), nullptr, nullptr) != VORN_SUCCESS) {
            _exit(3);
        }
        _exit(out == kGood ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not 11, 2: data read, 3/4: the later run failed, "
                                         "10: no cap";
}
#endif

// The record's unpacked size is a limit and a promise, for stored, compressed and LZ blocks alike:
// output past it stops the run with 3 and never reaches the file, the caller's memory or a sink;
// an entry that ends short of it is corrupt too. The honest record of each entry is the control.
TEST(DeclaredSize, OutputNeverPassesItAndAnEntryShortOfItIsCorrupt) {
    const std::vector<uint8_t> data = SampleData(300000, 21);
    struct Kind {
        const char* name;
        pack::Method method;
        int level;
    };
    const Kind kinds[] = {{"stored", pack::Method::Stored, 2},
                          {"compressed", pack::Method::Compressed, 2},
                          {"lz", pack::Method::Best, 3}};
    const int64_t shifts[] = {0, -1, -200000, +1, +100000};
    for (const Kind& kind : kinds) {
        for (int64_t shift : shifts) {
            const uint64_t declared = data.size() + shift;
            const std::string what = std::string(kind.name) + " " + std::to_string(shift);
            vorntest::TestArchive archiveSpec;
            vorntest::TestEntry e = Entry("e", data);
            e.method = kind.method;
            e.encoder.level = kind.level;
            e.blockSize = 65536;
            e.unpackedSizeOverride = declared;
            archiveSpec.entries.push_back(e);
            TempFile file("declared.vorn", vorntest::BuildTestArchive(archiveSpec));
            Handle h;
            ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
                      VORN_SUCCESS);
            const uint32_t expected = shift == 0 ? VORN_SUCCESS : VORN_E_CORRUPT;

            TempFile out("declared.out");
            EXPECT_EQ(vorn_DecompressToFile(h.h, "e", out.path.c_str(), nullptr, nullptr), expected)
                << what;
            // Only an intact entry reaches the path, at its declared size.
            EXPECT_EQ(std::filesystem::exists(out.path), expected == VORN_SUCCESS) << what;
            if (expected == VORN_SUCCESS) {
                EXPECT_EQ(ReadFile(out.path), data) << what;
            }

            std::vector<uint8_t> memory(declared + 16, 0xEE);
            EXPECT_EQ(vorn_DecompressToPtr(h.h, "e", memory.data(), nullptr, nullptr), expected)
                << what;
            EXPECT_EQ(std::vector<uint8_t>(memory.end() - 16, memory.end()),
                      std::vector<uint8_t>(16, 0xEE))
                << what;

            uint64_t sunk = 0;
            auto count = [](void* total, const uint8_t*, uint32_t n) {
                *static_cast<uint64_t*>(total) += n;
                return true;
            };
            archive::Status status =
                archive::ExtractToSink(h.h, 0, nullptr, codec::BlockSink{count, &sunk}, {}, {}, 2);
            EXPECT_EQ(archive::PublicCode(status), expected) << what;
            EXPECT_LE(sunk, declared) << what;
        }
    }
}

// In builds that note failed checks, a corrupt entry names the check that refused it; in others
// nothing is noted.
TEST(DeclaredSize, TheRefusingCheckIsNotedWhereTheBuildRecordsIt) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e = Entry("e", Bytes("eleven bytes"));
    e.unpackedSizeOverride = 4;
    archiveSpec.entries.push_back(e);
    TempFile file("noted.vorn", vorntest::BuildTestArchive(archiveSpec));
    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    format::TakeFailedCheck();
    unsigned char buffer[4];
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "e", buffer, nullptr, nullptr), VORN_E_CORRUPT);
    const char* check = format::TakeFailedCheck();
    if (format::kRecordsFailedChecks) {
        ASSERT_NE(check, nullptr);
        const std::string name = format::ShortCheckName(check);
        EXPECT_EQ(name.rfind("codec/entry_run.cpp:", 0), 0u) << name;
        EXPECT_NE(name.find(": header.length > room"), std::string::npos) << name;
    } else {
        EXPECT_EQ(check, nullptr);
    }
    EXPECT_EQ(format::TakeFailedCheck(), nullptr) << "taking the note clears it";
}

}  // namespace
