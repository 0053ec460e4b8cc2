// The streaming archive writer: its files must equal BuildArchive's bytes for the same entries,
// whether the data comes from memory or from files read block by block, and its failures must
// leave a message and stop the writer.
#include "pack/archive_file_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "byte_reading.h"
#include "pack/archive_writer.h"

namespace {

using namespace packtest;
using pack::ArchiveFileWriter;
using pack::ArchiveSpec;
using pack::EntrySpec;

std::string TempPath(const std::string& name) {
    // The test's own name keeps tests that run side by side off each other's files.
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "pack_fw_" + (test ? std::string(test->name()) + "_" : "") + name;
}

std::vector<uint8_t> ReadBack(const std::string& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(pack::ReadWholeFile(path, bytes)) << path;
    return bytes;
}

EntrySpec Entry(const std::string& name, std::vector<uint8_t> data) {
    EntrySpec entry;
    entry.name = name;
    entry.data = std::move(data);
    return entry;
}

// Writes archiveSpec's entries through the streaming writer, entries as they are.
std::vector<uint8_t> StreamSpec(const ArchiveSpec& archiveSpec, const std::string& name) {
    const std::string path = TempPath(name);
    ArchiveFileWriter writer;
    EXPECT_TRUE(writer.Open(path, archiveSpec.prefix, archiveSpec.flags)) << writer.Error();
    for (const EntrySpec& entry : archiveSpec.entries) {
        EXPECT_TRUE(writer.AddEntry(entry)) << writer.Error();
    }
    EXPECT_TRUE(writer.Finish(archiveSpec.comment, archiveSpec.namesPassword,
                              archiveSpec.paddingByte, archiveSpec.commentMethod))
        << writer.Error();
    auto bytes = ReadBack(path);
    std::remove(path.c_str());
    return bytes;
}

ArchiveSpec MixedSpec() {
    ArchiveSpec archiveSpec;
    archiveSpec.prefix = Pattern(777, 9);
    archiveSpec.flags = pack::kFlagLocked;
    EntrySpec empty = Entry("empty", {});
    EntrySpec odd = Entry("dir\\odd.bin", Pattern(134, 2));
    odd.attributes = 0x01;
    odd.fileTime = 0x01D000000000ABCDull;
    EntrySpec split = Entry("dir\\sub\\split.bin", Pattern(1000, 3));
    split.blockSize = 96;
    EntrySpec secret = Entry("secret.bin", Pattern(300, 4));
    secret.blockSize = 128;
    secret.password = "entry password";
    archiveSpec.entries = {empty, odd, split, secret};
    archiveSpec.comment = "A comment\r\nof two lines";
    archiveSpec.namesPassword = "names";
    archiveSpec.paddingByte = 0xC3;
    return archiveSpec;
}

// ---- Same bytes as the in-memory builder

TEST(StreamingWriter, EntriesFromMemoryGiveBuildArchiveBytes) {
    const ArchiveSpec archiveSpec = MixedSpec();
    EXPECT_EQ(StreamSpec(archiveSpec, "mixed.bin"), pack::BuildArchive(archiveSpec));
}

TEST(StreamingWriter, EmptyArchiveGivesBuildArchiveBytes) {
    EXPECT_EQ(StreamSpec(ArchiveSpec{}, "empty.bin"), pack::BuildArchive(ArchiveSpec{}));
}

TEST(StreamingWriter, BrokenFormsOfEntriesAreWrittenAlike) {
    ArchiveSpec archiveSpec;
    EntrySpec wrongCrc = Entry("crc", Pattern(40));
    wrongCrc.crcOverride = 0x01020304;
    wrongCrc.unpackedSizeOverride = 99;
    EntrySpec raw = Entry("raw", Pattern(40, 5));
    raw.rawStoredData = std::vector<uint8_t>{0x0F, 0, 0, 0, 9, 9};
    raw.storedSizeOverride = 1ull << 33;
    archiveSpec.entries = {wrongCrc, raw, Entry("after", Pattern(3))};
    EXPECT_EQ(StreamSpec(archiveSpec, "broken.bin"), pack::BuildArchive(archiveSpec));
}

TEST(StreamingWriter, FilesReadBlockByBlockGiveBuildArchiveBytes) {
    // Larger than one default block, so the file is read in several 8 MiB slices.
    const auto big = Pattern(pack::kMaxBlockSize + 4096 + 5, 6);
    const auto small = Pattern(5000, 7);
    const std::string bigPath = TempPath("big.src");
    const std::string smallPath = TempPath("small.src");
    const std::string emptyPath = TempPath("empty.src");
    ASSERT_TRUE(pack::WriteWholeFile(bigPath, big));
    ASSERT_TRUE(pack::WriteWholeFile(smallPath, small));
    ASSERT_TRUE(pack::WriteWholeFile(emptyPath, {}));

    pack::EntryOptions smallOptions;
    smallOptions.blockSize = 1024;
    smallOptions.password = "pw";
    smallOptions.fileTime = 42;
    const std::string out = TempPath("files.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    ASSERT_TRUE(writer.AddFile("big", bigPath, {})) << writer.Error();
    ASSERT_TRUE(writer.AddFile("small", smallPath, smallOptions)) << writer.Error();
    ASSERT_TRUE(writer.AddFile("empty", emptyPath, {})) << writer.Error();
    ASSERT_TRUE(writer.Finish("note")) << writer.Error();
    EXPECT_EQ(writer.EntryCount(), 4u);

    ArchiveSpec archiveSpec;
    EntrySpec smallEntry = Entry("small", small);
    smallEntry.blockSize = 1024;
    smallEntry.password = "pw";
    smallEntry.fileTime = 42;
    archiveSpec.entries = {Entry("big", big), smallEntry, Entry("empty", {})};
    archiveSpec.comment = "note";
    EXPECT_EQ(ReadBack(out), pack::BuildArchive(archiveSpec));
    for (const auto& path : {bigPath, smallPath, emptyPath, out}) std::remove(path.c_str());
}

TEST(StreamingWriter, HeaderCountAndRecordSizesAreFilledInAfterTheData) {
    const std::string out = TempPath("fill.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    pack::EntryOptions options;
    options.blockSize = 16;
    ASSERT_TRUE(writer.AddEntry("a", Pattern(33), options));
    ASSERT_TRUE(writer.AddEntry("b", Pattern(1), {}));
    ASSERT_TRUE(writer.Finish());
    const auto bytes = ReadBack(out);
    std::remove(out.c_str());
    EXPECT_EQ(GetU64(bytes, 8), 2u);
    EXPECT_EQ(GetU64(bytes, 24 + 8), 3 * 4u + 16 + 16 + 16);  // blocks of 16, 16 and 1 bytes
    EXPECT_EQ(GetU64(bytes, 24 + 16), 33u);
    EXPECT_EQ(GetU32(bytes, 24 + 32), BitwiseCrc32(Pattern(33)));
}

// ---- Progress

TEST(StreamingWriter, ProgressCountsUnpackedBytesAfterEveryBlock) {
    const std::string out = TempPath("progress.vorn");
    std::vector<uint64_t> reports;
    ArchiveFileWriter writer;
    writer.SetProgress([&](uint64_t done) { reports.push_back(done); });
    ASSERT_TRUE(writer.Open(out));
    pack::EntryOptions options;
    options.blockSize = 100;
    ASSERT_TRUE(writer.AddEntry("a", Pattern(250), options));
    ASSERT_TRUE(writer.AddEntry("b", Pattern(30), options));
    ASSERT_TRUE(writer.AddEntry("empty", {}, options));
    ASSERT_TRUE(writer.Finish());
    std::remove(out.c_str());
    EXPECT_EQ(reports, (std::vector<uint64_t>{100, 200, 250, 280}));
}

// ---- Failures

TEST(StreamingWriterFailure, OverlongNameFailsAndStopsTheWriter) {
    const std::string out = TempPath("long.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    EXPECT_FALSE(writer.AddEntry(std::string(256, 'n'), Pattern(3), {}));
    EXPECT_NE(writer.Error().find("255"), std::string::npos) << writer.Error();
    EXPECT_FALSE(writer.AddEntry("fine", Pattern(3), {}));
    EXPECT_FALSE(writer.Finish());
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, BadBlockSizeFails) {
    const std::string out = TempPath("block.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    pack::EntryOptions options;
    options.blockSize = 0;
    EXPECT_FALSE(writer.AddEntry("x", Pattern(3), options));
    EXPECT_FALSE(writer.Error().empty());
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, MissingSourceFileFailsWithItsPath) {
    const std::string out = TempPath("missing.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    const std::string missing = TempPath("no_such_source");
    EXPECT_FALSE(writer.AddFile("x", missing, {}));
    EXPECT_NE(writer.Error().find(missing), std::string::npos) << writer.Error();
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, UnwritablePathFailsAtOpen) {
    ArchiveFileWriter writer;
    EXPECT_FALSE(writer.Open(TempPath("no/such/dir/x.vorn")));
    EXPECT_FALSE(writer.Error().empty());
    EXPECT_FALSE(writer.AddEntry("x", Pattern(3), {}));
}

TEST(StreamingWriterFailure, CallsBeforeOpenFail) {
    ArchiveFileWriter writer;
    EXPECT_FALSE(writer.AddEntry("x", Pattern(3), {}));
    EXPECT_FALSE(writer.Finish());
}

TEST(StreamingWriterFailure, ArchiveCannotBeAddedToItself) {
    const std::string out = TempPath("self.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    EXPECT_FALSE(writer.AddFile("self", out, {}));
    EXPECT_NE(writer.Error().find("itself"), std::string::npos) << writer.Error();
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, AbandonRemovesTheUnfinishedFile) {
    const std::string out = TempPath("abandoned.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    ASSERT_TRUE(writer.AddEntry("a", Pattern(10), {}));
    writer.Abandon();
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(pack::ReadWholeFile(out, bytes));
    EXPECT_FALSE(writer.Finish());
}

TEST(StreamingWriterFailure, AbandonAfterFinishKeepsTheArchive) {
    const std::string out = TempPath("kept.vorn");
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.Open(out));
    ASSERT_TRUE(writer.Finish());
    writer.Abandon();
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(pack::ReadWholeFile(out, bytes));
    EXPECT_EQ(bytes, pack::BuildArchive(ArchiveSpec{}));
    std::remove(out.c_str());
}

// ---- Stub as prefix

TEST(StreamingWriterStub, StubBytesComeFirst) {
    const auto stub = Pattern(4096, 11);
    const std::string stubPath = TempPath("stub.exe");
    const std::string out = TempPath("stubbed.exe");
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, stub));
    ArchiveFileWriter writer;
    ASSERT_TRUE(writer.OpenWithStub(out, stubPath)) << writer.Error();
    ASSERT_TRUE(writer.AddEntry("a", Pattern(10), {}));
    ASSERT_TRUE(writer.Finish());
    ArchiveSpec archiveSpec;
    archiveSpec.prefix = stub;
    archiveSpec.entries = {Entry("a", Pattern(10))};
    EXPECT_EQ(ReadBack(out), pack::BuildArchive(archiveSpec));
    std::remove(stubPath.c_str());
    std::remove(out.c_str());
}

TEST(StreamingWriterStub, StubHoldingTheSignatureIsRefused) {
    auto stub = Pattern(4096, 12);
    const std::vector<uint8_t> signature = {'V', 'O', 'R', 'N', 1, 0, 0, 0x8f};
    std::copy(signature.begin(), signature.end(), stub.begin() + 1000);
    const std::string stubPath = TempPath("bad_stub.exe");
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, stub));
    ArchiveFileWriter writer;
    EXPECT_FALSE(writer.OpenWithStub(TempPath("bad_out.exe"), stubPath));
    EXPECT_NE(writer.Error().find("1000"), std::string::npos) << writer.Error();
    std::remove(stubPath.c_str());
}

}  // namespace
