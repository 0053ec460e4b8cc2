// Compressed entries end to end: the writer splits each entry into compressed blocks, the archive
// library finds, decodes and checksums them. Blocks split at odd sizes and enciphered bodies must
// come back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "archive/vorn.h"
#include "test_archive.h"

namespace pack {
namespace {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Writes the archive, then extracts every entry to memory and compares it with its data.
void ExpectEntriesExtract(const vorntest::TestArchive& archiveSpec,
                          const char* password = nullptr) {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("vorn_encoder_" + std::to_string(std::random_device{}()) + "_" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin"))
                           .string();
    ASSERT_TRUE(vorntest::WriteWholeFile(path, vorntest::BuildTestArchive(archiveSpec)));
    void* handle = nullptr;
    ASSERT_EQ(vorn_OpenStream(&handle, path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    for (const vorntest::TestEntry& e : archiveSpec.entries) {
        std::vector<uint8_t> buffer(e.data.size() + 1, 0xEE);
        EXPECT_EQ(vorn_DecompressToPtr(handle, e.name.c_str(), buffer.data(), nullptr, password),
                  VORN_SUCCESS)
            << e.name;
        buffer.pop_back();
        EXPECT_TRUE(buffer == e.data) << e.name;
    }
    vorn_CloseStream(handle);
    std::filesystem::remove(path);
}

vorntest::TestEntry Compressed(const std::string& name, std::vector<uint8_t> data, int level,
                               uint32_t blockSize = kMaxBlockSize) {
    vorntest::TestEntry e;
    e.name = name;
    e.data = std::move(data);
    e.method = Method::Compressed;
    e.encoder.level = level;
    e.blockSize = blockSize;
    return e;
}

TEST(CompressedEntries, ExtractAtEveryLevel) {
    std::vector<uint8_t> text = ReadFileBytes("/usr/share/common-licenses/GPL-3");
    ASSERT_FALSE(text.empty());
    vorntest::TestArchive archiveSpec;
    for (int level : {1, 2, 3})
        archiveSpec.entries.push_back(
            Compressed("gpl" + std::to_string(level) + ".txt", text, level));
    archiveSpec.entries.push_back(Compressed("one.bin", {42}, 2));
    ExpectEntriesExtract(archiveSpec);
}

TEST(CompressedEntries, SmallBlocksSplitTheDataAnywhere) {
    std::vector<uint8_t> header = ReadFileBytes("/usr/include/stdio.h");
    ASSERT_FALSE(header.empty());
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Compressed("stdio.h", header, 2, 1000));
    std::vector<uint8_t> head(header.begin(),
                              header.begin() + std::min<size_t>(header.size(), 3000));
    archiveSpec.entries.push_back(Compressed("stdio-odd.h", head, 1, 7));
    archiveSpec.entries.push_back(Compressed("stdio-odd2.h", head, 2, 3));
    ExpectEntriesExtract(archiveSpec);
}

TEST(CompressedEntries, BestChoiceStoresRandomAndCompressesText) {
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(70000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> binary = ReadFileBytes("/bin/ls");
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry a = Compressed("noise.bin", noise, 2, 30000);
    a.method = Method::Best;
    vorntest::TestEntry b = Compressed("ls", binary, 2);
    b.method = Method::Best;
    archiveSpec.entries = {a, b};
    ExpectEntriesExtract(archiveSpec);
}

TEST(CompressedEntries, EncipheredCompressedBlocks) {
    std::vector<uint8_t> text = ReadFileBytes("/usr/share/common-licenses/GPL-3");
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e = Compressed("secret.txt", text, 2, 5000);
    e.password = "open sesame";
    archiveSpec.entries.push_back(e);
    ExpectEntriesExtract(archiveSpec, "open sesame");
}

}  // namespace
}  // namespace pack
