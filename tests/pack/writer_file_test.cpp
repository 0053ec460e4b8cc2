// The archive writer into files: its files must equal the bytes it writes into memory for the
// same entries, whether the data comes from memory or from files read block by block, and its
// failures must leave a message and stop the writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "byte_reading.h"
#include "memory_sink.h"
#include "pack/archive_writer.h"
#include "pack/byte_sink.h"
#include "pack/stub_image.h"
#include "pe/pe_image.h"
#include "test_archive.h"
#include "test_pe.h"

namespace {

using namespace packtest;
using pack::ArchiveWriter;
using pack::Status;
using vorntest::TestArchive;
using vorntest::TestEntry;

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

vorntest::TestEntry Entry(const std::string& name, std::vector<uint8_t> data) {
    vorntest::TestEntry entry;
    entry.name = name;
    entry.data = std::move(data);
    return entry;
}

// Writes archiveSpec through the writer into a file, and reads the file back.
std::vector<uint8_t> StreamSpec(const vorntest::TestArchive& archiveSpec, const std::string& name) {
    const std::string path = TempPath(name);
    ArchiveWriter writer;
    EXPECT_EQ(vorntest::WriteTestArchive(archiveSpec, path, writer), Status::Ok) << writer.Error();
    auto bytes = ReadBack(path);
    std::remove(path.c_str());
    return bytes;
}

vorntest::TestArchive MixedSpec() {
    vorntest::TestArchive archiveSpec;
    archiveSpec.prefix = Pattern(777, 9);
    archiveSpec.flags = format::kFlagLocked;
    vorntest::TestEntry empty = Entry("empty", {});
    vorntest::TestEntry odd = Entry("dir\\odd.bin", Pattern(134, 2));
    odd.attributes = 0x01;
    odd.fileTime = 0x01D000000000ABCDull;
    vorntest::TestEntry split = Entry("dir\\sub\\split.bin", Pattern(1000, 3));
    split.blockSize = 96;
    vorntest::TestEntry secret = Entry("secret.bin", Pattern(300, 4));
    secret.blockSize = 128;
    secret.password = "entry password";
    archiveSpec.entries = {empty, odd, split, secret};
    archiveSpec.comment = "A comment\r\nof two lines";
    archiveSpec.namesPassword = "names";
    archiveSpec.paddingByte = 0xC3;
    return archiveSpec;
}

// ---- Same bytes as into memory

TEST(StreamingWriter, FileGetsTheBytesWrittenIntoMemory) {
    const vorntest::TestArchive archiveSpec = MixedSpec();
    EXPECT_EQ(StreamSpec(archiveSpec, "mixed.bin"), vorntest::BuildTestArchive(archiveSpec));
}

TEST(StreamingWriter, EmptyArchiveGetsTheSameBytes) {
    EXPECT_EQ(StreamSpec(vorntest::TestArchive{}, "empty.bin"),
              vorntest::BuildTestArchive(vorntest::TestArchive{}));
}

TEST(StreamingWriter, BrokenFormsOfEntriesAreWrittenAlike) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry wrongCrc = Entry("crc", Pattern(40));
    wrongCrc.crcOverride = 0x01020304;
    wrongCrc.unpackedSizeOverride = 99;
    vorntest::TestEntry raw = Entry("raw", Pattern(40, 5));
    raw.rawStoredData = std::vector<uint8_t>{0x0F, 0, 0, 0, 9, 9};
    raw.storedSizeOverride = 1ull << 33;
    archiveSpec.entries = {wrongCrc, raw, Entry("after", Pattern(3))};
    EXPECT_EQ(StreamSpec(archiveSpec, "broken.bin"), vorntest::BuildTestArchive(archiveSpec));
}

TEST(StreamingWriter, FilesReadBlockByBlockGiveTheBytesOfTheirData) {
    // Larger than one default block, so the file is read in several 8 MiB slices.
    const auto big = Pattern(pack::kMaxBlockSize + 4096 + 5, 6);
    const auto small = Pattern(5000, 7);
    const std::string bigPath = TempPath("big.src");
    const std::string smallPath = TempPath("small.src");
    const std::string emptyPath = TempPath("empty.src");
    ASSERT_TRUE(vorntest::WriteWholeFile(bigPath, big));
    ASSERT_TRUE(vorntest::WriteWholeFile(smallPath, small));
    ASSERT_TRUE(vorntest::WriteWholeFile(emptyPath, {}));

    pack::EntryOptions smallOptions;
    smallOptions.blockSize = 1024;
    smallOptions.password = "pw";
    smallOptions.fileTime = 42;
    const std::string out = TempPath("files.vorn");
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out), Status::Ok);
    ASSERT_EQ(writer.AddFile("big", bigPath, {}), Status::Ok) << writer.Error();
    ASSERT_EQ(writer.AddFile("small", smallPath, smallOptions), Status::Ok) << writer.Error();
    ASSERT_EQ(writer.AddFile("empty", emptyPath, {}), Status::Ok) << writer.Error();
    ASSERT_EQ(writer.Finish("note"), Status::Ok) << writer.Error();

    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry smallEntry = Entry("small", small);
    smallEntry.blockSize = 1024;
    smallEntry.password = "pw";
    smallEntry.fileTime = 42;
    archiveSpec.entries = {Entry("big", big), smallEntry, Entry("empty", {})};
    archiveSpec.comment = "note";
    EXPECT_EQ(ReadBack(out), vorntest::BuildTestArchive(archiveSpec));
    for (const auto& path : {bigPath, smallPath, emptyPath, out}) std::remove(path.c_str());
}

TEST(StreamingWriter, HeaderCountAndRecordSizesAreFilledInAfterTheData) {
    const std::string out = TempPath("fill.vorn");
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out), Status::Ok);
    pack::EntryOptions options;
    options.blockSize = 16;
    ASSERT_EQ(writer.AddEntry("a", Pattern(33), options), Status::Ok);
    ASSERT_EQ(writer.AddEntry("b", Pattern(1), {}), Status::Ok);
    ASSERT_EQ(writer.Finish(), Status::Ok);
    const auto bytes = ReadBack(out);
    std::remove(out.c_str());
    EXPECT_EQ(GetU64(bytes, 8), 2u);
    EXPECT_EQ(GetU64(bytes, 24 + 8), 3 * 4u + 16 + 16 + 16);  // blocks of 16, 16 and 1 bytes
    EXPECT_EQ(GetU64(bytes, 24 + 16), 33u);
    EXPECT_EQ(GetU32(bytes, 24 + 32), BitwiseCrc32(Pattern(33)));
}

// Blocks are encoded on several threads; the archive is the same bytes whatever their number.
TEST(StreamingWriter, FilesOnSeveralThreadsGiveTheSameBytes) {
    std::vector<pack::ArchiveWriter::FileEntry> files;
    const std::vector<std::vector<uint8_t>> contents = {
        Pattern(5000, 1), {}, Pattern(70000, 2), Pattern(1, 3), Pattern(32768, 4)};
    for (size_t i = 0; i < contents.size(); ++i) {
        const std::string path = TempPath("source" + std::to_string(i));
        ASSERT_TRUE(vorntest::WriteWholeFile(path, contents[i]));
        pack::EntryOptions options;
        options.method = i % 2 ? pack::Method::Compressed : pack::Method::Best;
        options.blockSize = 4096;  // many blocks in flight at once
        if (i == 2) options.password = "threads";
        files.push_back({"entry" + std::to_string(i), path, options});
    }
    std::vector<uint8_t> first;
    for (unsigned jobs : {1u, 2u, 3u, 8u}) {
        const std::string out = TempPath("jobs.vorn");
        std::vector<uint64_t> reports;
        ArchiveWriter writer;
        writer.SetProgress([&](uint64_t done) { reports.push_back(done); });
        ASSERT_EQ(writer.Open(out), Status::Ok);
        ASSERT_EQ(writer.AddFiles(files, jobs), Status::Ok) << writer.Error();
        ASSERT_EQ(writer.Finish("threads"), Status::Ok);
        const auto bytes = ReadBack(out);
        if (first.empty()) first = bytes;
        EXPECT_EQ(bytes, first) << jobs << " jobs";
        ASSERT_FALSE(reports.empty());
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end())) << jobs << " jobs";
        EXPECT_EQ(reports.back(), 5000u + 70000 + 1 + 32768 + 7) << jobs << " jobs";  // + comment
        std::remove(out.c_str());
    }
    for (const auto& file : files) std::remove(file.sourcePath.c_str());
}

// ---- Progress

TEST(StreamingWriter, ProgressCountsUnpackedBytesAfterEveryBlock) {
    const std::string out = TempPath("progress.vorn");
    std::vector<uint64_t> reports;
    ArchiveWriter writer;
    writer.SetProgress([&](uint64_t done) { reports.push_back(done); });
    ASSERT_EQ(writer.Open(out), Status::Ok);
    pack::EntryOptions options;
    options.blockSize = 100;
    ASSERT_EQ(writer.AddEntry("a", Pattern(250), options), Status::Ok);
    ASSERT_EQ(writer.AddEntry("b", Pattern(30), options), Status::Ok);
    ASSERT_EQ(writer.AddEntry("empty", {}, options), Status::Ok);
    ASSERT_EQ(writer.Finish(), Status::Ok);
    std::remove(out.c_str());
    EXPECT_EQ(reports, (std::vector<uint64_t>{100, 200, 250, 280}));
}

// ---- Failures

// The file sink holds the last bytes it is given: rewrites and reads back land alike whether the
// bytes are still held, already in the file, or partly each, and the file ends as the model does.
TEST(StreamingWriter, FileSinkRewritesAndReadsBackHeldAndWrittenBytesAlike) {
    const std::string path = TempPath("sink.bin");
    pack::FileSink sink;
    ASSERT_EQ(sink.Create(path), Status::Ok);
    std::vector<uint8_t> model;
    uint32_t state = 12345;
    const auto next = [&state](uint32_t below) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % below;
    };
    const size_t appendSizes[] = {40, 700, 5000, 100000, (size_t{3} << 20) / 2};
    for (int step = 0; step < 400; ++step) {
        const std::vector<uint8_t> data = Pattern(appendSizes[next(step % 50 == 49 ? 5 : 4)], step);
        ASSERT_EQ(sink.Append(data.data(), data.size()), Status::Ok);
        model.insert(model.end(), data.begin(), data.end());
        const size_t size = 1 + next(4096);
        const size_t at =
            next(static_cast<uint32_t>(model.size() - std::min(size, model.size()) + 1));
        const std::vector<uint8_t> patch = Pattern(std::min(size, model.size() - at), step + 7);
        ASSERT_EQ(sink.Rewrite(at, patch.data(), patch.size()), Status::Ok);
        std::copy(patch.begin(), patch.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
        if (step % 7 == 0) {
            std::vector<uint8_t> read(patch.size());
            ASSERT_EQ(sink.ReadBack(at, read.data(), read.size()), Status::Ok);
            ASSERT_EQ(read, patch) << step;
        }
    }
    ASSERT_EQ(sink.Size(), model.size());
    ASSERT_EQ(sink.Close(), Status::Ok);
    EXPECT_TRUE(ReadBack(path) == model);
    std::remove(path.c_str());
}

TEST(StreamingWriterFailure, OverlongNameFailsAndStopsTheWriter) {
    const std::string out = TempPath("long.vorn");
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out), Status::Ok);
    EXPECT_NE(writer.AddEntry(std::string(256, 'n'), Pattern(3), {}), Status::Ok);
    EXPECT_NE(writer.Error().find("255"), std::string::npos) << writer.Error();
    EXPECT_NE(writer.AddEntry("fine", Pattern(3), {}), Status::Ok);
    EXPECT_NE(writer.Finish(), Status::Ok);
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, BadBlockSizeFails) {
    const std::string out = TempPath("block.vorn");
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out), Status::Ok);
    pack::EntryOptions options;
    options.blockSize = 0;
    EXPECT_NE(writer.AddEntry("x", Pattern(3), options), Status::Ok);
    EXPECT_FALSE(writer.Error().empty());
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, MissingSourceFileFailsWithItsPath) {
    const std::string out = TempPath("missing.vorn");
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out), Status::Ok);
    const std::string missing = TempPath("no_such_source");
    EXPECT_NE(writer.AddFile("x", missing, {}), Status::Ok);
    EXPECT_NE(writer.Error().find(missing), std::string::npos) << writer.Error();
    std::remove(out.c_str());
}

TEST(StreamingWriterFailure, UnwritablePathFailsAtOpen) {
    ArchiveWriter writer;
    EXPECT_NE(writer.Open(TempPath("no/such/dir/x.vorn")), Status::Ok);
    EXPECT_FALSE(writer.Error().empty());
    EXPECT_NE(writer.AddEntry("x", Pattern(3), {}), Status::Ok);
}

TEST(StreamingWriterFailure, CallsBeforeOpenFail) {
    ArchiveWriter writer;
    EXPECT_NE(writer.AddEntry("x", Pattern(3), {}), Status::Ok);
    EXPECT_NE(writer.Finish(), Status::Ok);
}

TEST(StreamingWriterFailure, ArchiveCannotBeAddedToItself) {
    const std::string out = TempPath("self.vorn");
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out), Status::Ok);
    EXPECT_NE(writer.AddFile("self", out, {}), Status::Ok);
    EXPECT_NE(writer.Error().find("itself"), std::string::npos) << writer.Error();
    std::remove(out.c_str());
}

// ---- Stub as prefix

TEST(StreamingWriterStub, StubBytesComeFirst) {
    const auto stub = Pattern(4096, 11);
    const std::string stubPath = TempPath("stub.exe");
    const std::string out = TempPath("stubbed.exe");
    ASSERT_TRUE(vorntest::WriteWholeFile(stubPath, stub));
    pack::SelfExtractorImage image;
    std::string error;
    ASSERT_TRUE(
        pack::MakeSelfExtractorImage(stubPath, std::nullopt, {}, std::nullopt, &image, &error))
        << error;
    EXPECT_FALSE(image.checksum.has_value());
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(out, image.bytes), Status::Ok) << writer.Error();
    ASSERT_EQ(writer.AddEntry("a", Pattern(10), {}), Status::Ok);
    ASSERT_EQ(writer.Finish(), Status::Ok);
    vorntest::TestArchive archiveSpec;
    archiveSpec.prefix = stub;
    archiveSpec.entries = {Entry("a", Pattern(10))};
    EXPECT_EQ(ReadBack(out), vorntest::BuildTestArchive(archiveSpec));
    std::remove(stubPath.c_str());
    std::remove(out.c_str());
}

TEST(StreamingWriterStub, StubHoldingTheSignatureIsRefused) {
    auto stub = Pattern(4096, 12);
    const std::vector<uint8_t> signature = {'V', 'O', 'R', 'N', 1, 0, 0, 0x8f};
    std::copy(signature.begin(), signature.end(), stub.begin() + 1000);
    const std::string stubPath = TempPath("bad_stub.exe");
    ASSERT_TRUE(vorntest::WriteWholeFile(stubPath, stub));
    pack::SelfExtractorImage image;
    std::string error;
    EXPECT_FALSE(
        pack::MakeSelfExtractorImage(stubPath, std::nullopt, {}, std::nullopt, &image, &error));
    EXPECT_NE(error.find("1000"), std::string::npos) << error;
    std::remove(stubPath.c_str());
}

TEST(StreamingWriterStub, ImageChecksumCoversTheArchiveAndAFieldOutsideThePrefixIsRefused) {
    const std::vector<uint8_t> stub = vorntest::BuildTestStub();
    const size_t field = *pe::FindPeChecksumField(stub.data(), stub.size());
    std::optional<pack::ImageChecksum> checksum = pack::ImageChecksumOf(stub);
    ASSERT_TRUE(checksum.has_value());
    EXPECT_EQ(checksum->Field(), field);
    vorntest::MemorySink memory;
    pack::ArchiveWriter writer;
    ASSERT_EQ(writer.Open(memory, stub, &*checksum), pack::Status::Ok);
    ASSERT_EQ(writer.AddEntry("a.txt", std::vector<uint8_t>(1001, 'a'), {}), pack::Status::Ok);
    ASSERT_EQ(writer.Finish(std::string("comment")), pack::Status::Ok);
    const std::vector<uint8_t>& out = memory.bytes();
    EXPECT_EQ(GetU32(out, field), vorntest::DwordChecksum(out, field));
    EXPECT_NE(GetU32(out, field), GetU32(stub, field));
    EXPECT_EQ(Slice(out, 0, field), Slice(stub, 0, field));
    // Archives without a program in front are written as they always were.
    vorntest::MemorySink plainMemory;
    pack::ArchiveWriter plain;
    ASSERT_EQ(plain.Open(plainMemory, std::vector<uint8_t>(300, 'x')), pack::Status::Ok);
    ASSERT_EQ(plain.Finish(), pack::Status::Ok);
    EXPECT_EQ(Slice(plainMemory.bytes(), 0, 300), std::vector<uint8_t>(300, 'x'));
    // A field that would reach past the prefix is the caller's mistake, not a write past it.
    pack::ImageChecksum outside(297);
    vorntest::MemorySink refusedMemory;
    pack::ArchiveWriter refused;
    EXPECT_EQ(refused.Open(refusedMemory, std::vector<uint8_t>(300, 'x'), &outside),
              Status::InvalidArgument);
}

}  // namespace
