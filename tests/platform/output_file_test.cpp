// The one way extracted files are written (platform/output_file.h), on whichever platform the
// tests were built for: part names under a path limit, folder levels that refuse links, a part
// file that replaces the final file only when committed, and writing by path.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/part_name.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
    fs::path path;
    Scratch() {
        static int counter = 0;
        path = fs::temp_directory_path() /
               ("vorn-output-test-" + std::to_string(counter++) + "-" +
                std::to_string(reinterpret_cast<uintptr_t>(this) & 0xFFFFFF));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
};

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

size_t Count(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST(OutputFileNames, PartNamesGiveWayToThePathLimitInTurn) {
    const unsigned char random[platform::kPartRandomBytes] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case {
        size_t folder, limit;
        const char* expected;  // null: refused
    };
    const Case cases[] = {
        {10, 0, ".file.txt.vorn-AQIDBAUGBwgJ"},
        {10, 255, ".file.txt.vorn-AQIDBAUGBwgJ"},
        {10, 10 + 2 + 4 + 18, ".file.vorn-AQIDBAUGBwgJ"},  // the name is cut first
        {10, 10 + 2 + 17, ".AQIDBAUGBwgJ"},                // then the mark goes
        {10, 10 + 2 + 8, ".AQIDBAUG"},                     // random down to eight
        {10, 10 + 2 + 7, nullptr},
        {300, 255, nullptr},
    };
    for (const Case& c : cases) {
        char name[platform::kOutputPathBytes];
        bool made = platform::PartFileName(c.folder, "file.txt", c.limit, random, name);
        EXPECT_EQ(made, c.expected != nullptr) << c.limit;
        if (made && c.expected) {
            EXPECT_STREQ(name, c.expected) << c.limit;
        }
    }
}

// One entry written the whole way: levels, part file, bytes, then commit or discard.
platform::OutputResult WriteEntry(const fs::path& root, const char* relative, const char* leaf,
                                  const std::string& bytes, bool commit) {
    platform::OutputRoot out;
    EXPECT_EQ(platform::OpenOutputRoot(root.string().c_str(), &out), platform::OutputResult::Ok);
    platform::OutputFolder folder;
    platform::OutputResult result = platform::OpenOutputFolder(out, relative, &folder);
    if (result == platform::OutputResult::Ok) {
        platform::PartFile part;
        result = platform::CreatePartFile(folder, leaf, 0, &part);
        if (result == platform::OutputResult::Ok) {
            EXPECT_EQ(
                platform::FileWrite(part.fd, bytes.data(), static_cast<uint32_t>(bytes.size())),
                static_cast<int64_t>(bytes.size()));
            if (commit) {
                result = platform::CommitPartFile(&part);
            } else {
                platform::DiscardPartFile(&part);
            }
        }
        platform::CloseOutputFolder(&folder);
    }
    platform::CloseOutputRoot(&out);
    return result;
}

TEST(OutputFile, CommitReplacesTheFileAndDiscardLeavesItAsItWas) {
    Scratch scratch;
    EXPECT_EQ(WriteEntry(scratch.path, "a/b", "f.txt", "first", true), platform::OutputResult::Ok);
    EXPECT_EQ(Read(scratch.path / "a" / "b" / "f.txt"), "first");
    EXPECT_EQ(WriteEntry(scratch.path, "a/b", "f.txt", "second", false),
              platform::OutputResult::Ok);
    EXPECT_EQ(Read(scratch.path / "a" / "b" / "f.txt"), "first");
    EXPECT_EQ(Count(scratch.path / "a" / "b"), 1u) << "a part file stayed behind";
    EXPECT_EQ(WriteEntry(scratch.path, "a/b", "f.txt", "third", true), platform::OutputResult::Ok);
    EXPECT_EQ(Read(scratch.path / "a" / "b" / "f.txt"), "third");
    EXPECT_EQ(Count(scratch.path / "a" / "b"), 1u);
}

TEST(OutputFile, LevelsThatAreFilesOrClimbOutAreRefused) {
    Scratch scratch;
    Write(scratch.path / "file", "x");
    EXPECT_EQ(WriteEntry(scratch.path, "file/sub", "f.txt", "x", true),
              platform::OutputResult::NotFolder);
    EXPECT_EQ(WriteEntry(scratch.path, "a/../..", "f.txt", "x", true),
              platform::OutputResult::BadLevel);
    EXPECT_EQ(WriteEntry(scratch.path, "a//b", "f.txt", "x", true),
              platform::OutputResult::BadLevel);
    EXPECT_FALSE(fs::exists(scratch.path.parent_path() / "f.txt"));
}

// A symbolic link; the standard library of the Windows build makes none, so the system's call.
bool MakeLink(const fs::path& target, const fs::path& link, bool folder) {
#ifdef _WIN32
    DWORD flags = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    return CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), flags) != 0;
#else
    std::error_code ec;
    if (folder) {
        fs::create_directory_symlink(target, link, ec);
    } else {
        fs::create_symlink(target, link, ec);
    }
    return !ec;
#endif
}

// A link to a folder outside at a level, and a link to a file outside at the final name: a plain
// write goes through both (the control), the output layer through neither.
TEST(OutputFile, LinksInTheDestinationAreNotFollowed) {
    Scratch scratch;
    fs::path outside = scratch.path / "outside";
    fs::path dest = scratch.path / "dest";
    fs::create_directories(outside / "dir");
    fs::create_directories(dest);
    Write(outside / "file.txt", "outside");
    if (!MakeLink(outside / "dir", dest / "sub", true) ||
        !MakeLink(outside / "file.txt", dest / "f.txt", false)) {
        GTEST_SKIP() << "no symbolic links here";
    }

    // Wine makes links that its own file calls do not follow: there the attack cannot be shown.
    Write(dest / "sub" / "x.txt", "through");
    if (!fs::exists(outside / "dir" / "x.txt")) GTEST_SKIP() << "links here are not followed";
    fs::remove(outside / "dir" / "x.txt");

    EXPECT_EQ(WriteEntry(dest, "sub", "x.txt", "entry", true), platform::OutputResult::ThroughLink);
    EXPECT_FALSE(fs::exists(outside / "dir" / "x.txt"));
    EXPECT_EQ(WriteEntry(dest, "", "f.txt", "entry", true), platform::OutputResult::Ok);
    EXPECT_EQ(Read(outside / "file.txt"), "outside");
    EXPECT_FALSE(fs::is_symlink(dest / "f.txt"));
    EXPECT_EQ(Read(dest / "f.txt"), "entry");
}

// The Windows stub writes by path through the library: the part file's path, then commit.
TEST(OutputFile, ACallerWritingByPathCommitsThePartFile) {
    Scratch scratch;
    Write(scratch.path / "f.txt", "old");
    platform::OutputRoot out;
    ASSERT_EQ(platform::OpenOutputRoot(scratch.path.string().c_str(), &out),
              platform::OutputResult::Ok);
    platform::OutputFolder folder;
    ASSERT_EQ(platform::OpenOutputFolder(out, "", &folder), platform::OutputResult::Ok);
    for (bool commit : {false, true}) {
        platform::PartFile part;
        ASSERT_EQ(platform::CreatePartFile(folder, "f.txt", 255, &part),
                  platform::OutputResult::Ok);
        platform::ReleasePartFileForPath(&part);
        EXPECT_LE(std::strlen(part.path), 255u);
        int fd = platform::FileOpen(part.path,
                                    platform::kOpenBinary | platform::kOpenTruncate |
                                        platform::kOpenCreate | platform::kOpenReadWrite,
                                    platform::kPermReadWrite);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(platform::FileWrite(fd, "new", 3), 3);
        platform::FileClose(fd);
        if (commit) {
            EXPECT_EQ(platform::CommitPartFile(&part), platform::OutputResult::Ok);
        } else {
            platform::DiscardPartFile(&part);
        }
        EXPECT_EQ(Read(scratch.path / "f.txt"), commit ? "new" : "old");
        EXPECT_EQ(Count(scratch.path), 1u);
    }
    platform::CloseOutputFolder(&folder);
    platform::CloseOutputRoot(&out);
}

}  // namespace
