// Level 3 end to end: the writer's LZ blocks in marked archives, read back by the library; the
// mark's rules (type 2 only where the header allows it, marked archives of old blocks read as
// before); the same bytes whatever the number of threads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "archive/vorn.h"
#include "encoder/lz_block_encoder.h"
#include "format/block.h"
#include "format/lz_block.h"
#include "memory_sink.h"
#include "test_archive.h"

namespace pack {
namespace {

std::string TempPath(const std::string& what) {
    return (std::filesystem::temp_directory_path() /
            ("vorn_lz_" + std::to_string(std::random_device{}()) + "_" + what))
        .string();
}

// Extracts every entry to memory; the statuses in entry order, and whether each matched.
std::vector<int> ExtractAll(const std::vector<uint8_t>& archive,
                            const std::vector<vorntest::TestEntry>& entries,
                            const char* password = nullptr) {
    std::string path = TempPath("archive.bin");
    EXPECT_TRUE(vorntest::WriteWholeFile(path, archive));
    void* handle = nullptr;
    std::vector<int> statuses;
    EXPECT_EQ(vorn_OpenStream(&handle, path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    for (const vorntest::TestEntry& e : entries) {
        std::vector<uint8_t> buffer(e.data.size() + 1, 0xEE);
        int status = static_cast<int>(
            vorn_DecompressToPtr(handle, e.name.c_str(), buffer.data(), nullptr, password));
        EXPECT_EQ(buffer.back(), 0xEE) << e.name << ": wrote past the buffer";
        buffer.pop_back();
        if (status == VORN_SUCCESS) {
            EXPECT_TRUE(buffer == e.data) << e.name;
        }
        statuses.push_back(status);
    }
    vorn_CloseStream(handle);
    std::filesystem::remove(path);
    return statuses;
}

vorntest::TestEntry Entry(const std::string& name, std::vector<uint8_t> data, int level = 3,
                          Method method = Method::Best) {
    vorntest::TestEntry e;
    e.name = name;
    e.data = std::move(data);
    e.method = method;
    e.encoder.level = level;
    return e;
}

std::vector<uint8_t> Text(size_t size, uint32_t seed) {
    static const char* kWords[] = {"archive ",  "block ",  "entry ", "the ",     "of ",
                                   "distance ", "length ", "code\n", "segment ", "VORN "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        const char* w = kWords[rng() % 10];
        out.insert(out.end(), w, w + strlen(w));
    }
    out.resize(size);
    return out;
}

// x86-like code: calls to a few dozen functions from all over the data.
std::vector<uint8_t> Code(size_t size) {
    std::mt19937 rng(5);
    std::vector<uint8_t> out;
    while (out.size() + 16 < size) {
        const uint8_t body[] = {0x48, 0x89, 0xC1, 0x8B, 0x45, static_cast<uint8_t>(rng() % 4 * 8)};
        out.insert(out.end(), body, body + sizeof body);
        uint32_t target = (rng() % 40) * 4096;
        int32_t rel = static_cast<int32_t>(target) - static_cast<int32_t>(out.size() + 5);
        out.push_back(0xE8);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(rel >> (8 * i)));
    }
    out.resize(size, 0x90);
    return out;
}

std::vector<uint8_t> Noise(size_t size) {
    std::mt19937 rng(9);
    std::vector<uint8_t> out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// The block types of an entry's data area, walked by its headers.
std::vector<uint32_t> BlockTypes(const std::vector<uint8_t>& area) {
    std::vector<uint32_t> types;
    for (size_t at = 0; at + format::kBlockHeaderBytes <= area.size();) {
        format::BlockHeader h = format::DecodeBlockHeader(&area[at]);
        types.push_back(h.type);
        at += format::kBlockHeaderBytes + format::BodyBytes(h);
    }
    return types;
}

TEST(LzArchive, EveryKindOfDataRoundTripsAtLevel3) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("empty", {}),
                           Entry("one", {42}),
                           Entry("text.txt", Text(300000, 1)),
                           Entry("code.exe", Code(200000)),
                           Entry("noise.bin", Noise(100000)),
                           Entry("zeros", std::vector<uint8_t>(1 << 20, 0)),
                           Entry("forced.txt", Text(5000, 2), 3, Method::Compressed)};
    std::vector<uint8_t> archive = vorntest::BuildTestArchive(archiveSpec);
    EXPECT_TRUE(format::ArchiveAllowsLzBlocks(format::DecodeHeader(archive.data()).reserved));
    for (int status : ExtractAll(archive, archiveSpec.entries)) EXPECT_EQ(status, VORN_SUCCESS);
}

TEST(LzArchive, BlocksOfExactly8MiBAndEncipheredEntriesRoundTrip) {
    // One block of noise seen once and then repeated: quick to search, exactly 8 MiB.
    std::vector<uint8_t> chunk = Noise(1 << 16), big;
    while (big.size() < format::kBlockBufferSize) big.insert(big.end(), chunk.begin(), chunk.end());
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("big.txt", big), Entry("secret.txt", Text(70000, 4))};
    archiveSpec.entries[1].password = "swordfish";
    std::vector<uint8_t> archive = vorntest::BuildTestArchive(archiveSpec);
    for (int status : ExtractAll(archive, archiveSpec.entries, "swordfish")) {
        EXPECT_EQ(status, VORN_SUCCESS);
    }
    std::vector<uint8_t> area =
        vorntest::EncodeTestEntryData(big, Method::Best, kMaxBlockSize, EncoderOptions{3});
    EXPECT_EQ(BlockTypes(area), std::vector<uint32_t>{format::kBlockLz});
}

TEST(LzArchive, WhatTheLzCodecCannotShrinkIsStored) {
    std::vector<uint8_t> area =
        vorntest::EncodeTestEntryData(Noise(50000), Method::Best, kMaxBlockSize, EncoderOptions{3});
    EXPECT_EQ(BlockTypes(area), std::vector<uint32_t>{format::kBlockStored});
}

TEST(LzArchive, TheMarkDecidesWhetherType2IsValid) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries = {Entry("lz.txt", Text(20000, 5))};
    archiveSpec.reserved = 0;  // the writer's mark taken away: type 2 is corrupt, as it always was
    EXPECT_EQ(ExtractAll(vorntest::BuildTestArchive(archiveSpec), archiveSpec.entries),
              std::vector<int>{static_cast<int>(VORN_E_CORRUPT)});

    // Marked, but holding only the older blocks: reads as before.
    vorntest::TestArchive old;
    old.entries = {Entry("level2.txt", Text(20000, 6), 2),
                   Entry("stored", Text(100, 7), 2, Method::Stored)};
    old.reserved = format::kMarkLzBlocks;
    for (int status : ExtractAll(vorntest::BuildTestArchive(old), old.entries)) {
        EXPECT_EQ(status, VORN_SUCCESS);
    }
    // Level 2 alone leaves the word as it was.
    old.reserved.reset();
    EXPECT_EQ(format::DecodeHeader(vorntest::BuildTestArchive(old).data()).reserved, 0u);
}

TEST(LzArchive, BlocksOfTypes3To7StayCorruptInMarkedArchives) {
    for (uint32_t type = 3; type <= 7; ++type) {
        vorntest::TestEntry e = Entry("bad", Text(1000, 8));
        std::vector<uint8_t> area =
            vorntest::EncodeTestEntryData(e.data, Method::Best, kMaxBlockSize, EncoderOptions{3});
        area[0] = static_cast<uint8_t>((area[0] & ~7u) | type);
        e.rawStoredData = area;
        vorntest::TestArchive archiveSpec;
        archiveSpec.entries = {e};
        archiveSpec.reserved = format::kMarkLzBlocks;
        EXPECT_EQ(ExtractAll(vorntest::BuildTestArchive(archiveSpec), archiveSpec.entries),
                  std::vector<int>{static_cast<int>(VORN_E_CORRUPT)})
            << "type " << type;
    }
}

TEST(LzArchive, ParallelPackingWritesTheSameBytes) {
    std::vector<std::string> paths;
    std::vector<ArchiveWriter::FileEntry> files;
    std::vector<std::vector<uint8_t>> contents = {Text(600000, 10), Code(300000), {}, {7}};
    for (size_t i = 0; i < contents.size(); ++i) {
        paths.push_back(TempPath("input" + std::to_string(i)));
        ASSERT_TRUE(vorntest::WriteWholeFile(paths.back(), contents[i]));
        EntryOptions options;
        options.method = Method::Best;
        options.encoder.level = 3;
        options.blockSize = 1 << 18;
        files.push_back({"f" + std::to_string(i), paths.back(), options});
    }
    std::vector<std::vector<uint8_t>> archives;
    for (unsigned jobs : {1u, 2u, 3u}) {
        vorntest::MemorySink memory;
        ArchiveWriter writer;
        ASSERT_EQ(writer.Open(memory), Status::Ok);
        ASSERT_EQ(writer.AddFiles(files, jobs), Status::Ok) << writer.Error();
        ASSERT_EQ(writer.Finish(), Status::Ok);
        archives.push_back(memory.bytes());
    }
    EXPECT_TRUE(archives[0] == archives[1]);
    EXPECT_TRUE(archives[0] == archives[2]);
    std::vector<vorntest::TestEntry> expected;
    for (size_t i = 0; i < contents.size(); ++i) {
        expected.push_back(Entry("f" + std::to_string(i), contents[i]));
    }
    for (int status : ExtractAll(archives[0], expected)) EXPECT_EQ(status, VORN_SUCCESS);
    for (const std::string& p : paths) std::filesystem::remove(p);
}

}  // namespace
}  // namespace pack
