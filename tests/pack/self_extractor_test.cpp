// Self-extractor assembly: the stub followed by the archive, and the signature check that refuses
// stubs in which a reader's scan would stop before the real archive.
#include "pack/self_extractor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "byte_reading.h"
#include "pack/archive_writer.h"

namespace {

using namespace packtest;

const std::vector<uint8_t> kCurrent = {'V', 'O', 'R', 'N', 2, 0, 0, 0x8f};
const std::vector<uint8_t> kOld = {'V', 'O', 'R', 'N', 1, 0, 0, 0x8f};

std::string TempPath(const std::string& name) {
    // The test's own name keeps tests that run side by side off each other's files.
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "pack_sx_" + (test ? std::string(test->name()) + "_" : "") + name;
}

std::vector<uint8_t> With(std::vector<uint8_t> bytes, size_t at, const std::vector<uint8_t>& put) {
    std::copy(put.begin(), put.end(), bytes.begin() + at);
    return bytes;
}

std::vector<uint8_t> SmallArchive() {
    pack::ArchiveSpec archiveSpec;
    pack::EntrySpec entry;
    entry.name = "readme.txt";
    entry.data = Bytes("hello");
    archiveSpec.entries = {entry};
    return pack::BuildArchive(archiveSpec);
}

// ---- Finding the signature

TEST(ArchiveSignature, LowestOfBothVersionWordsIsFound) {
    const auto bytes = With(With(Pattern(500), 300, kCurrent), 120, kOld);
    EXPECT_EQ(pack::FindArchiveSignature(bytes), std::optional<size_t>(120));
    EXPECT_EQ(pack::FindArchiveSignature(With(Pattern(500), 300, kCurrent)),
              std::optional<size_t>(300));
}

TEST(ArchiveSignature, MagicWithOtherVersionWordsIsNoSignature) {
    auto bytes = Pattern(500);
    bytes = With(bytes, 10, {'V', 'O', 'R', 'N', 3, 0, 0, 0x8f});
    bytes = With(bytes, 40, {'V', 'O', 'R', 'N', 2, 0, 0, 0x8e});
    bytes = With(bytes, 80, {'V', 'V', 'O', 'R', 'N', 'V'});
    EXPECT_EQ(pack::FindArchiveSignature(bytes), std::nullopt);
}

TEST(ArchiveSignature, SignatureInTheLastEightBytesIsFound) {
    const auto bytes = With(Pattern(64), 56, kOld);
    EXPECT_EQ(pack::FindArchiveSignature(bytes), std::optional<size_t>(56));
    EXPECT_EQ(pack::FindArchiveSignature(Slice(bytes, 0, 63)), std::nullopt);
}

TEST(ArchiveSignature, ArchivesStartWithIt) {
    EXPECT_EQ(pack::FindArchiveSignature(SmallArchive()), std::optional<size_t>(0));
}

TEST(StubCheck, CleanStubIsUsableAndOneHoldingTheSignatureIsNot) {
    EXPECT_TRUE(pack::StubIsUsable(Pattern(3000)));
    EXPECT_TRUE(pack::StubIsUsable({}));
    EXPECT_FALSE(pack::StubIsUsable(With(Pattern(3000), 2992, kCurrent)));
    EXPECT_FALSE(pack::StubIsUsable(With(Pattern(3000), 0, kOld)));
}

// ---- Assembly

class SelfExtractorFiles : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& path : {stubPath, archivePath, outPath}) std::remove(path.c_str());
    }
    std::string stubPath = TempPath("stub.exe");
    std::string archivePath = TempPath("archive.vorn");
    std::string outPath = TempPath("out.exe");
};

TEST_F(SelfExtractorFiles, OutputIsTheStubFollowedByTheArchive) {
    const auto stub = Pattern(70000, 3);
    const auto archive = SmallArchive();
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, stub));
    ASSERT_TRUE(pack::WriteWholeFile(archivePath, archive));
    std::string error;
    ASSERT_TRUE(pack::MakeSelfExtractor(stubPath, archivePath, outPath, &error)) << error;
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack::ReadWholeFile(outPath, out));
    auto expected = stub;
    expected.insert(expected.end(), archive.begin(), archive.end());
    EXPECT_EQ(out, expected);
    EXPECT_EQ(pack::FindArchiveSignature(out), std::optional<size_t>(stub.size()));
}

TEST_F(SelfExtractorFiles, StubHoldingTheSignatureIsRefusedAndNothingIsWritten) {
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, With(Pattern(5000), 4321, kCurrent)));
    ASSERT_TRUE(pack::WriteWholeFile(archivePath, SmallArchive()));
    std::string error;
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, outPath, &error));
    EXPECT_NE(error.find("4321"), std::string::npos) << error;
    std::vector<uint8_t> out;
    EXPECT_FALSE(pack::ReadWholeFile(outPath, out));
}

TEST_F(SelfExtractorFiles, FileThatIsNoArchiveIsRefused) {
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, Pattern(5000)));
    ASSERT_TRUE(pack::WriteWholeFile(archivePath, Pattern(100)));
    std::string error;
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, outPath, &error));
    EXPECT_NE(error.find(archivePath), std::string::npos) << error;
    ASSERT_TRUE(pack::WriteWholeFile(archivePath, Slice(SmallArchive(), 0, 7)));
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, outPath));
}

TEST_F(SelfExtractorFiles, MissingInputsAreReported) {
    std::string error;
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, outPath, &error));
    EXPECT_NE(error.find(stubPath), std::string::npos) << error;
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, Pattern(100)));
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, outPath, &error));
    EXPECT_NE(error.find(archivePath), std::string::npos) << error;
}

TEST_F(SelfExtractorFiles, OutputNamingAnInputIsRefusedAndTheInputKept) {
    const auto archive = SmallArchive();
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, Pattern(100)));
    ASSERT_TRUE(pack::WriteWholeFile(archivePath, archive));
    std::string error;
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, archivePath, &error));
    EXPECT_FALSE(error.empty());
    std::vector<uint8_t> kept;
    ASSERT_TRUE(pack::ReadWholeFile(archivePath, kept));
    EXPECT_EQ(kept, archive);
    EXPECT_FALSE(pack::MakeSelfExtractor(stubPath, archivePath, stubPath, &error));
}

#ifndef _WIN32
TEST_F(SelfExtractorFiles, OutputTakesTheStubsPermissionBits) {
    ASSERT_TRUE(pack::WriteWholeFile(stubPath, Pattern(100)));
    ASSERT_TRUE(pack::WriteWholeFile(archivePath, SmallArchive()));
    ASSERT_EQ(chmod(stubPath.c_str(), 0750), 0);
    ASSERT_TRUE(pack::MakeSelfExtractor(stubPath, archivePath, outPath));
    struct stat info;
    ASSERT_EQ(stat(outPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);
}
#endif

}  // namespace
