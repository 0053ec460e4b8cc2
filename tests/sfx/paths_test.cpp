// Path helpers and the destination rule, without an archive.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "entry_name_cases.h"
#include "sfx_fake.h"

using namespace sfx_test;
using sfx::PathStyle;

namespace {

std::string Trailing(PathStyle style, std::string path) {
    char buffer[256];
    strcpy(buffer, path.c_str());
    sfx::AddTrailingBackslash(style, buffer);
    return buffer;
}

std::string DirectoryPart(PathStyle style, const std::string& path) {
    char out[256];
    sfx::GetDirectoryPart(style, out, path.c_str());
    return out;
}

TEST(PathHelpers, TrailingSeparatorIsAddedOnce) {
    EXPECT_EQ(Trailing(PathStyle::Windows, "C:\\a"), "C:\\a\\");
    EXPECT_EQ(Trailing(PathStyle::Windows, "C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(Trailing(PathStyle::Windows, ""), "\\");
    EXPECT_EQ(Trailing(PathStyle::Posix, "/tmp/a"), "/tmp/a/");
}

TEST(PathHelpers, DirectoryPartEndsAtTheLastSeparator) {
    EXPECT_EQ(DirectoryPart(PathStyle::Windows, "C:\\a\\b\\c.txt"), "C:\\a\\b\\");
    EXPECT_EQ(DirectoryPart(PathStyle::Windows, "c.txt"), "");
    EXPECT_EQ(DirectoryPart(PathStyle::Posix, "/x/y.txt"), "/x/");
}

// Joining follows the shared table of entry names: Windows's rule for the Windows style, the
// portable one for the other.
TEST(DestinationRule, SafeNamesPassAndEscapingOnesAreRefused) {
    char out[256];
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        auto expected = [](format::EntryNameVerdict v) {
            return v == format::EntryNameVerdict::Safe ? sfx::EntryPathVerdict::Fits
                                                       : sfx::EntryPathVerdict::LeavesDestination;
        };
        EXPECT_EQ(sfx::BuildEntryPath(PathStyle::Windows, "C:\\Out", c.name, out),
                  expected(c.windows))
            << c.name;
        EXPECT_EQ(sfx::BuildEntryPath(PathStyle::Posix, "/out", c.name, out), expected(c.portable))
            << c.name;
    }
}

TEST(DestinationRule, EntryPathUsesTheNativeSeparatorAndChecksEveryText) {
    char out[256];
    EXPECT_EQ(sfx::BuildEntryPath(PathStyle::Windows, "C:\\Out", "a/b.txt", out),
              sfx::EntryPathVerdict::Fits);
    EXPECT_STREQ(out, "C:\\Out\\a\\b.txt");
    EXPECT_EQ(sfx::BuildEntryPath(PathStyle::Posix, "/out/", "a\\b.txt", out),
              sfx::EntryPathVerdict::Fits);
    EXPECT_STREQ(out, "/out/a/b.txt");
    EXPECT_EQ(sfx::BuildEntryPath(PathStyle::Windows, "C:\\Out", "..\\x", out),
              sfx::EntryPathVerdict::LeavesDestination);
    std::string longDestination = "C:\\" + std::string(250, 'd');
    EXPECT_EQ(sfx::BuildEntryPath(PathStyle::Windows, longDestination.c_str(), "x.txt", out),
              sfx::EntryPathVerdict::TooLong);
}

TEST(RelativeDestination, IsTakenFromTheProgramFolderNotTheCurrentOne) {
    FakePlatform platform;
    platform.ownPath = "E:\\Apps\\tool.exe";
    auto resolve = [&](const char* in) {
        char out[256];
        EXPECT_TRUE(sfx::ResolveDestination(platform, in, out)) << in;
        return std::string(out);
    };
    EXPECT_EQ(resolve("C:\\Abs"), "C:\\Abs");
    EXPECT_EQ(resolve("\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(resolve("out"), "E:\\Apps\\out");
    EXPECT_EQ(resolve(""), "E:\\Apps\\");
    EXPECT_EQ(resolve("\\Rooted"), "E:\\Rooted");
    EXPECT_EQ(resolve("D:rel"), "D:\\rel");
    char out[256];
    std::string tooLong(250, 'r');
    EXPECT_FALSE(sfx::ResolveDestination(platform, tooLong.c_str(), out));
}

TEST(EnsureDirectoryRule, DriveRootIsNeverTestedAndExistingLevelsPassSilently) {
    FakePlatform platform;
    FakeDialog owner(platform, "main");
    fs::create_directories(platform.Host("C:\\Have\\This"));
    char path[256] = "C:\\Have\\This\\New";
    EXPECT_EQ(sfx::EnsureDirectory(platform, owner, path, false), 1);
    EXPECT_STREQ(path, "C:\\Have\\This\\New\\");
    EXPECT_EQ(platform.probedLevels, (std::vector<std::string>{"C:\\Have\\", "C:\\Have\\This\\",
                                                               "C:\\Have\\This\\New\\"}));
    EXPECT_EQ(platform.createdLevels, (std::vector<std::string>{"C:\\Have\\This\\New\\"}));
    EXPECT_TRUE(platform.boxes.empty());
}

TEST(EnsureDirectoryRule, NetworkShareIsARootLikeADrive) {
    FakePlatform platform;
    FakeDialog owner(platform, "main");
    fs::create_directories(platform.Host("\\\\server\\share"));
    char path[256] = "\\\\server\\share\\out";
    EXPECT_EQ(sfx::EnsureDirectory(platform, owner, path, false), 1);
    EXPECT_EQ(platform.probedLevels, (std::vector<std::string>{"\\\\server\\share\\out\\"}));
    EXPECT_EQ(platform.createdLevels, (std::vector<std::string>{"\\\\server\\share\\out\\"}));
}

TEST(EnsureDirectoryRule, LevelThatCannotBeMadeIsReported) {
    FakePlatform platform;
    FakeDialog owner(platform, "main");
    std::ofstream(platform.Host("C:\\Tools\\file")) << "x";  // a file where a level should go
    char path[256] = "C:\\Tools\\file\\sub";
    EXPECT_EQ(sfx::EnsureDirectory(platform, owner, path, false), 0);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "Error creating directory");
    EXPECT_EQ(platform.boxes[0].caption, "Error");
    EXPECT_EQ(platform.boxes[0].style, sfx::kBoxOk | sfx::kBoxIconError | sfx::kBoxForeground);
}

}  // namespace
