// The known folders at the start of a built-in destination: which names each system knows, what
// follows them, and that the other system's names and unknown ones are refused.
#include "format/known_folder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using format::FolderSystem;
using format::KnownFolder;
using format::KnownFolderParse;

TEST(KnownFolder, EachSystemReadsItsOwnNamesAndRefusesTheRest) {
    const struct {
        const char* text;
        FolderSystem system;
        KnownFolderParse parse;
        KnownFolder folder;
        size_t length;
    } cases[] = {
        {"C:\\Program Files\\Sample", FolderSystem::Windows, KnownFolderParse::Literal,
         KnownFolder::None, 0},
        {"%ProgramFiles%\\Sample", FolderSystem::Windows, KnownFolderParse::Known,
         KnownFolder::ProgramFiles, 14},
        {"%programfiles(X86)%/Sample", FolderSystem::Windows, KnownFolderParse::Known,
         KnownFolder::ProgramFilesX86, 19},
        {"%LocalAppData%", FolderSystem::Windows, KnownFolderParse::Known,
         KnownFolder::LocalAppData, 14},
        {"%AppData%\\x", FolderSystem::Windows, KnownFolderParse::Known, KnownFolder::AppData, 9},
        {"%USERPROFILE%\\x", FolderSystem::Windows, KnownFolderParse::Known,
         KnownFolder::UserProfile, 13},
        {"%Temp%\\x", FolderSystem::Windows, KnownFolderParse::Known, KnownFolder::Temp, 6},
        {"%ProgramFile%\\x", FolderSystem::Windows, KnownFolderParse::Unknown, KnownFolder::None,
         0},
        {"%Temp%x", FolderSystem::Windows, KnownFolderParse::NoSeparator, KnownFolder::None, 0},
        {"~/x", FolderSystem::Windows, KnownFolderParse::Unknown, KnownFolder::None, 0},
        {"~", FolderSystem::Posix, KnownFolderParse::Known, KnownFolder::Home, 1},
        {"~/sample", FolderSystem::Posix, KnownFolderParse::Known, KnownFolder::Home, 1},
        {"$HOME/sample", FolderSystem::Posix, KnownFolderParse::Known, KnownFolder::Home, 5},
        {"$XDG_DATA_HOME/sample", FolderSystem::Posix, KnownFolderParse::Known,
         KnownFolder::XdgDataHome, 14},
        {"$home/x", FolderSystem::Posix, KnownFolderParse::Unknown, KnownFolder::None, 0},
        {"~user/x", FolderSystem::Posix, KnownFolderParse::NoSeparator, KnownFolder::None, 0},
        {"$HOMEDIR/x", FolderSystem::Posix, KnownFolderParse::NoSeparator, KnownFolder::None, 0},
        {"%AppData%/x", FolderSystem::Posix, KnownFolderParse::Unknown, KnownFolder::None, 0},
        {"$HOME\\x", FolderSystem::Posix, KnownFolderParse::NoSeparator, KnownFolder::None, 0},
        {"/opt/sample", FolderSystem::Posix, KnownFolderParse::Literal, KnownFolder::None, 0},
    };
    for (const auto& c : cases) {
        format::KnownFolderPrefix prefix;
        EXPECT_EQ(format::ParseKnownFolder(c.text, strlen(c.text), c.system, &prefix), c.parse)
            << c.text;
        EXPECT_EQ(prefix.folder, c.folder) << c.text;
        EXPECT_EQ(prefix.length, c.length) << c.text;
    }
}

}  // namespace
