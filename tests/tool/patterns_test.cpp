// Which command-line patterns select which entries. (Which names are extracted at all, and
// where they land, is the shared table of entry names, run against the tool in tool_test.cpp.)
#include <gtest/gtest.h>

#include "tools/options.h"

namespace {

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
