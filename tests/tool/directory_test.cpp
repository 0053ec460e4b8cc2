// The tool's directory: every entry's facts, and its name in the one text of names, still right
// after the directory has moved.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "crypto/crc32.h"
#include "process_support.h"
#include "test_archive.h"
#include "tools/archive_session.h"

namespace {

struct Case {
    std::string name;
    size_t size;
    uint16_t attributes;
    uint64_t fileTime;
};

TEST(ToolDirectory, EveryEntryKeepsItsFactsAndItsOwnNameAfterTheDirectoryMoves) {
    const std::vector<Case> cases = {
        {"a", 0, 0x20, 1},
        {"folder\\next one.txt", 1000, 0x21, 132000000000000000ull},
        {std::string(255, 'n'), 70000, 0x20, 2},
        {"folder\\b", 5, 0x01, 3},
    };
    vorntest::TestArchive contents;
    for (size_t i = 0; i < cases.size(); ++i) {
        vorntest::TestEntry e;
        e.name = cases[i].name;
        const std::string bytes = tooltest::SampleBytes(cases[i].size, static_cast<uint32_t>(i));
        e.data.assign(bytes.begin(), bytes.end());
        e.method = i % 2 ? pack::Method::Compressed : pack::Method::Stored;
        e.attributes = cases[i].attributes;
        e.fileTime = cases[i].fileTime;
        contents.entries.push_back(e);
    }
    tooltest::ScratchFolder scratch;
    const std::string path = (scratch / "d.vorn").string();
    ASSERT_TRUE(vorntest::WriteWholeFile(path, vorntest::BuildTestArchive(contents)));

    tool::Archive archive;
    ASSERT_EQ(archive.Open(path, nullptr), format::Status::Ok);
    tool::Directory read;
    std::vector<uint64_t> unreadable;
    ASSERT_TRUE(tool::ReadDirectory(archive, read, &unreadable));
    EXPECT_TRUE(unreadable.empty());
    const tool::Directory directory = std::move(read);

    ASSERT_EQ(directory.entries.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const tool::DirectoryEntry& e = directory.entries[i];
        const std::vector<uint8_t>& data = contents.entries[i].data;
        Crc32 crc;
        crc.Update(data.data(), static_cast<uint32_t>(data.size()));
        EXPECT_EQ(e.name, cases[i].name) << i;
        EXPECT_EQ(e.unpackedSize, data.size()) << i;
        EXPECT_EQ(e.attributes & 0xFFFFu, cases[i].attributes) << i;
        EXPECT_EQ(e.fileTime, cases[i].fileTime) << i;
        EXPECT_EQ(e.crc, crc.Value()) << i;
        EXPECT_EQ(e.group, 0u) << i;
    }
}

}  // namespace
