// Start-up: the default destination, the open with its one password retry, and the report of a
// failed open.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "format/builtin_destination.h"
#include "sfx_fake.h"

using namespace sfx_test;

namespace {

class StartUp : public ::testing::Test {
  protected:
    void SetUp() override { ResetFrontEndState(); }
    FakePlatform platform;
};

vorntest::TestArchive PlainArchive() {
    vorntest::TestArchive archiveSpec;
    archiveSpec.prefix = Bytes(std::string(300, 'x'));
    archiveSpec.entries.push_back(Entry("readme.txt", "hello"));
    return archiveSpec;
}

vorntest::TestArchive EncipheredNames() {
    vorntest::TestArchive archiveSpec = PlainArchive();
    archiveSpec.namesPassword = "opensesame";
    return archiveSpec;
}

TEST_F(StartUp, ArchiveWithoutPasswordOpensWithoutPromptAndShowsOwnFolder) {
    platform.InstallArchive(PlainArchive());
    sfx::StartUp(platform);
    EXPECT_TRUE(platform.prompts.empty());
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(platform.mainDialogRuns, 1);
    EXPECT_EQ(platform.mainDialog.texts[IDC_DEST_DIR], "C:\\Tools\\");
    ASSERT_EQ(platform.recorder.openPasswords.size(), 1u);
    EXPECT_FALSE(platform.recorder.openPasswords[0].has_value());
    // Closed after the dialog, once no worker runs.
    EXPECT_EQ(platform.recorder.closes, 1);
    EXPECT_EQ(platform.waits, 1);
    EXPECT_EQ(sfx::g_hArchive, nullptr);
}

TEST_F(StartUp, ProgramInDriveRootDefaultsToTheRoot) {
    platform.ownPath = "C:\\pack.exe";
    platform.InstallArchive(PlainArchive());
    sfx::StartUp(platform);
    EXPECT_EQ(platform.mainDialog.texts[IDC_DEST_DIR], "C:\\");
}

TEST_F(StartUp, BuiltInDestinationLiesRightBehindItsMarker) {
    // The packer finds the field by the marker in front of it.
    const char* marker = sfx::g_szExtractDir - format::kBuiltInDestinationMarkerBytes;
    EXPECT_EQ(
        memcmp(marker, VORN_BUILTIN_DESTINATION_MARKER, format::kBuiltInDestinationMarkerBytes), 0);
}

TEST_F(StartUp, NonEmptyBuiltInDestinationIsShownUnchanged) {
    strcpy(sfx::g_szExtractDir, "D:\\Preset Folder");
    platform.InstallArchive(PlainArchive());
    sfx::StartUp(platform);
    EXPECT_EQ(platform.mainDialog.texts[IDC_DEST_DIR], "D:\\Preset Folder");
}

TEST_F(StartUp, CorruptArchiveIsReportedAndTheDialogNeverShown) {
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(PlainArchive());
    bytes.resize(300 + 24 + 20);  // cut inside the first entry record
    fs::create_directories(platform.Host("C:\\Tools"));
    ASSERT_TRUE(vorntest::WriteWholeFile(platform.Host(platform.ownPath).string(), bytes));
    EXPECT_EQ(sfx::StartUp(platform), 0);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "Archive is corrupt");
    EXPECT_EQ(platform.boxes[0].caption, "Error opening file");
    EXPECT_EQ(platform.boxes[0].owner, "none");
    EXPECT_EQ(platform.boxes[0].style, sfx::kBoxOk | sfx::kBoxIconError);
    EXPECT_EQ(platform.mainDialogRuns, 0);
    EXPECT_EQ(sfx::g_hArchive, nullptr);
}

TEST_F(StartUp, EncipheredNamesPromptCancelledReportsPasswordNeeded) {
    platform.InstallArchive(EncipheredNames());
    platform.promptScript.push_back({std::nullopt, false, 2, std::nullopt});
    sfx::StartUp(platform);
    ASSERT_EQ(platform.prompts.size(), 1u);
    EXPECT_FALSE(platform.prompts[0].ownedByMain);
    EXPECT_EQ(platform.prompts[0].promptText,
              "This archive is protected, please enter the password for it below");
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "The selected operation requires a correct password");
    EXPECT_EQ(platform.boxes[0].caption, "Error opening file");
    EXPECT_EQ(platform.mainDialogRuns, 0);
    EXPECT_EQ(platform.recorder.openPasswords.size(), 1u);
}

TEST_F(StartUp, PromptThatCannotBeCreatedCountsAsCancel) {
    platform.InstallArchive(EncipheredNames());
    platform.promptScript.push_back({std::nullopt, false, 1, intptr_t{-1}});
    sfx::StartUp(platform);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "The selected operation requires a correct password");
    EXPECT_EQ(platform.recorder.openPasswords.size(), 1u);
}

TEST_F(StartUp, WrongPasswordGivesOnePromptAndOneBox) {
    platform.InstallArchive(EncipheredNames());
    platform.promptScript.push_back({std::string("wrongpass"), false, 1, std::nullopt});
    sfx::StartUp(platform);
    EXPECT_EQ(platform.prompts.size(), 1u);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "Decompressed file CRC does not match original");
    EXPECT_EQ(platform.boxes[0].caption, "Error opening file");
    EXPECT_EQ(platform.mainDialogRuns, 0);
    EXPECT_EQ(sfx::g_hArchive, nullptr);
}

TEST_F(StartUp, RightPasswordOpensTheArchive) {
    platform.InstallArchive(EncipheredNames());
    platform.promptScript.push_back({std::string("opensesame"), false, 1, std::nullopt});
    sfx::StartUp(platform);
    EXPECT_TRUE(platform.boxes.empty());
    EXPECT_EQ(platform.mainDialogRuns, 1);
    ASSERT_EQ(platform.recorder.openPasswords.size(), 2u);
    EXPECT_EQ(platform.recorder.openPasswords[1], std::optional<std::string>("opensesame"));
    EXPECT_EQ(platform.recorder.closes, 1);
}

TEST_F(StartUp, ShortPasswordAtStartUpIsRefusedBeforeTheRetry) {
    platform.InstallArchive(EncipheredNames());
    platform.promptScript.push_back({std::string("open"), false, 1, std::nullopt});
    platform.promptScript.push_back({std::string("opensesame"), false, 1, std::nullopt});
    sfx::StartUp(platform);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].owner, "password");
    EXPECT_EQ(platform.boxes[0].text, "The minimum password length is 6 characters");
    EXPECT_EQ(platform.mainDialogRuns, 1);
}

TEST(DefaultDestination, DoubleByteTrailIsNotTakenForASeparator) {
    FakePlatform platform;
    platform.ownPath = "C:\\ab\\x\x81\\name.exe";
    platform.leadBytes = {0x81};
    char out[256];
    sfx::GetDefaultExtractDir(platform, out);
    EXPECT_STREQ(out, "C:\\ab\\");
}

TEST(DefaultDestination, ForwardSlashesSeparateToo) {
    FakePlatform platform;
    platform.ownPath = "D:/apps/tool.exe";
    char out[256];
    sfx::GetDefaultExtractDir(platform, out);
    EXPECT_STREQ(out, "D:/apps/");
}

}  // namespace
