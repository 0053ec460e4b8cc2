// The tool's name rules on their own: which entry names become which relative paths, which are
// refused, and which command-line patterns select which entries.
#include "tools/entry_path.h"
#include "tools/options.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string PathOf(const std::string& name) {
    std::string relative, reason;
    return tool::EntryNameToRelativePath(name, relative, reason) ? relative : "refused: " + reason;
}

TEST(EntryNames, BackslashLevelsBecomeSlashes) {
    EXPECT_EQ(PathOf("a.txt"), "a.txt");
    EXPECT_EQ(PathOf("docs\\deep\\b.txt"), "docs/deep/b.txt");
    EXPECT_EQ(PathOf("docs/mixed\\c.txt"), "docs/mixed/c.txt");
    EXPECT_EQ(PathOf("a\\.\\b.txt"), "a/b.txt");
    EXPECT_EQ(PathOf("a\\\\b.txt"), "a/b.txt");
    EXPECT_EQ(PathOf("..name.txt"), "..name.txt") << "dots inside a level are a plain name";
}

TEST(EntryNames, NamesThatCouldLeaveTheDestinationAreRefused) {
    for (const char* name : {"..\\x", "a\\..\\..\\x", "a\\..", "..", "\\x", "/x", "\\\\server\\x",
                             "C:\\x", "C:x", "a\\b:c", ""}) {
        std::string relative, reason;
        EXPECT_FALSE(tool::EntryNameToRelativePath(name, relative, reason)) << name;
        EXPECT_FALSE(reason.empty()) << name;
    }
}

TEST(EntryNames, NamesWithoutAFileAreRefused) {
    std::string relative, reason;
    EXPECT_FALSE(tool::EntryNameToRelativePath("folder\\", relative, reason));
    EXPECT_FALSE(tool::EntryNameToRelativePath(".", relative, reason));
}

TEST(EntryPatterns, WildcardsAndFoldersSelectEntries) {
    EXPECT_TRUE(tool::EntryMatchesPattern("docs\\guide.txt", "docs/guide.txt"));
    EXPECT_TRUE(tool::EntryMatchesPattern("docs\\guide.txt", "docs\\guide.txt"));
    EXPECT_TRUE(tool::EntryMatchesPattern("docs\\guide.txt", "*.txt"));
    EXPECT_TRUE(tool::EntryMatchesPattern("docs\\deep\\n.bin", "docs"));
    EXPECT_TRUE(tool::EntryMatchesPattern("docs\\deep\\n.bin", "docs/"));
    EXPECT_TRUE(tool::EntryMatchesPattern("a1.txt", "a?.txt"));
    EXPECT_FALSE(tool::EntryMatchesPattern("docsextra\\n.bin", "docs"));
    EXPECT_FALSE(tool::EntryMatchesPattern("readme.md", "*.txt"));
}

}  // namespace
