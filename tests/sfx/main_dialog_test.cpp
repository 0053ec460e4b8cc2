// The main dialog's state changes: opening with and without a comment, Extract, Close, Browse.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "sfx_fake.h"

using namespace sfx_test;

namespace {

const int kProgressArea[] = {IDC_PROGRESS, IDC_CURRENT_FILE, IDC_FILES_DONE, IDC_FILE_LIST};

class MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetFrontEndState(); }

    // Opens the installed archive the way start-up does and opens the dialog.
    void Open(const vorntest::TestArchive& archiveSpec) {
        platform.InstallArchive(archiveSpec);
        sfx::g_pPlatform = &platform;
        ASSERT_EQ(platform.recorder.OpenStream(&sfx::g_hArchive, platform.ownPath.c_str(), nullptr,
                                               VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        strcpy(sfx::g_szExtractDir, "C:\\Out");
        sfx::MainDialogOpen(platform, dialog());
    }
    void TearDown() override {
        if (sfx::g_hArchive) vorn_CloseStream(sfx::g_hArchive);
        sfx::g_hArchive = nullptr;
    }
    FakeDialog& dialog() { return platform.mainDialog; }

    FakePlatform platform;
};

vorntest::TestArchive TwoFiles() {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("a.txt", "alpha"));
    archiveSpec.entries.push_back(Entry("sub\\b.txt", "beta"));
    return archiveSpec;
}

TEST_F(MainDialogTest, WithoutCommentTheProgressAreaStaysVisible) {
    Open(TwoFiles());
    EXPECT_EQ(dialog().texts[IDC_DEST_DIR], "C:\\Out");
    EXPECT_EQ(dialog().ranges[IDC_PROGRESS], std::make_pair(0, 100));
    EXPECT_EQ(dialog().colours[IDC_PROGRESS], (std::vector<int>{11, 125, 190}));
    EXPECT_FALSE(dialog().commentView);
    for (int id : kProgressArea) EXPECT_EQ(dialog().shown.count(id), 0u) << id;
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(MainDialogTest, CommentIsShownOverTheHiddenProgressArea) {
    vorntest::TestArchive archiveSpec = TwoFiles();
    archiveSpec.comment = "Read me first.\r\nSecond line.";
    Open(archiveSpec);
    EXPECT_TRUE(dialog().commentView);
    EXPECT_TRUE(dialog().commentFont);
    EXPECT_EQ(dialog().commentText, "Read me first.\r\nSecond line.");
    for (int id : kProgressArea) EXPECT_FALSE(dialog().shown[id]) << id;
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(MainDialogTest, FontFailureIsReportedAndTheCommentStillShown) {
    vorntest::TestArchive archiveSpec = TwoFiles();
    archiveSpec.comment = "note";
    dialog().fontFails = true;
    Open(archiveSpec);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "Courier New");
    EXPECT_EQ(platform.boxes[0].caption, "Font failure");
    EXPECT_EQ(platform.boxes[0].owner, "main");
    EXPECT_EQ(dialog().commentText, "note");
}

TEST_F(MainDialogTest, CommentClaimingGigabytesIsNotShown) {
    vorntest::TestArchive archiveSpec = TwoFiles();
    vorntest::TestEntry comment = Entry("$comments$", "short text");
    comment.unpackedSizeOverride = 5ull << 30;  // more than the low 32 bits can say
    archiveSpec.entries.push_back(comment);
    Open(archiveSpec);
    EXPECT_FALSE(dialog().commentView);
    for (int id : kProgressArea) EXPECT_EQ(dialog().shown.count(id), 0u) << id;
}

TEST_F(MainDialogTest, ExtractRemovesTheCommentForGoodAndStartsTheWorker) {
    vorntest::TestArchive archiveSpec = TwoFiles();
    archiveSpec.comment = "note";
    Open(archiveSpec);
    fs::create_directories(platform.Host("C:\\Out"));
    dialog().runWorkerAtOnce = false;
    sfx::g_bCancel = true;
    sfx::g_qwFilesDone = 7;
    sfx::MainDialogExtract(platform, dialog());
    EXPECT_EQ(dialog().workersStarted, 1);
    EXPECT_FALSE(dialog().commentView);
    EXPECT_FALSE(dialog().commentFont);
    for (int id : kProgressArea) {
        EXPECT_TRUE(dialog().shown[id]) << id;
        EXPECT_TRUE(dialog().enabled[id]) << id;
    }
    EXPECT_FALSE(dialog().enabled[IDC_EXTRACT]);
    EXPECT_FALSE(sfx::g_bCancel);
    EXPECT_EQ(sfx::g_qwFilesDone, 0u);
    EXPECT_TRUE(platform.boxes.empty());  // the folder exists: no question
}

TEST_F(MainDialogTest, MissingDestinationDeclinedLeavesEverythingAsItWas) {
    Open(TwoFiles());
    dialog().texts[IDC_DEST_DIR] = "C:\\New\\Deeper";
    platform.Answer({sfx::kAnswerNo});
    sfx::MainDialogExtract(platform, dialog());
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "This directory does not exist, create now?");
    EXPECT_EQ(platform.boxes[0].caption, "Error");
    EXPECT_EQ(platform.boxes[0].style, sfx::kBoxYesNo | sfx::kBoxIconInformation);
    EXPECT_EQ(dialog().workersStarted, 0);
    EXPECT_EQ(dialog().enabled.count(IDC_EXTRACT), 0u);
    EXPECT_FALSE(fs::exists(platform.Host("C:\\New")));
}

TEST_F(MainDialogTest, MissingDestinationAcceptedCreatesEveryLevelAfterOneQuestion) {
    Open(TwoFiles());
    dialog().texts[IDC_DEST_DIR] = "C:\\New\\Deeper\\Deepest";
    dialog().runWorkerAtOnce = false;
    platform.Answer({sfx::kAnswerYes});
    sfx::MainDialogExtract(platform, dialog());
    EXPECT_EQ(platform.BoxesWithCaption("Error").size(), 1u);
    EXPECT_TRUE(fs::is_directory(platform.Host("C:\\New\\Deeper\\Deepest")));
    EXPECT_EQ(platform.createdLevels, (std::vector<std::string>{"C:\\New\\", "C:\\New\\Deeper\\",
                                                                "C:\\New\\Deeper\\Deepest\\"}));
    EXPECT_EQ(dialog().workersStarted, 1);
}

TEST_F(MainDialogTest, RelativeDestinationIsResolvedAgainstTheProgramFolder) {
    Open(TwoFiles());
    dialog().texts[IDC_DEST_DIR] = "unpacked";
    platform.Answer({sfx::kAnswerYes, sfx::kAnswerNo});
    sfx::MainDialogExtract(platform, dialog());
    EXPECT_EQ(dialog().texts[IDC_DEST_DIR], "C:\\Tools\\unpacked");
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Tools\\unpacked\\a.txt")), "alpha");
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Tools\\unpacked\\sub\\b.txt")), "beta");
}

TEST_F(MainDialogTest, CloseAnsweredNoKeepsTheDialogOpen) {
    Open(TwoFiles());
    platform.Answer({sfx::kAnswerNo});
    sfx::MainDialogClose(platform, dialog());
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "Are you sure you wish to cancel extraction?");
    EXPECT_EQ(platform.boxes[0].caption, "Cancel");
    EXPECT_EQ(platform.boxes[0].style, sfx::kBoxYesNo | sfx::kBoxIconQuestion);
    EXPECT_FALSE(dialog().ended.has_value());
    EXPECT_FALSE(sfx::g_bCancel);
    EXPECT_EQ(platform.recorder.cancels, 0);
}

TEST_F(MainDialogTest, CloseAnsweredYesCancelsAndEndsWithTwo) {
    vorntest::TestArchive archiveSpec = TwoFiles();
    archiveSpec.comment = "note";
    Open(archiveSpec);
    platform.Answer({sfx::kAnswerYes});
    sfx::MainDialogClose(platform, dialog());
    EXPECT_EQ(dialog().ended, std::optional<intptr_t>(2));
    EXPECT_TRUE(sfx::g_bCancel);
    EXPECT_EQ(platform.recorder.cancels, 1);
    EXPECT_FALSE(dialog().commentView);
    EXPECT_FALSE(dialog().commentFont);
}

TEST_F(MainDialogTest, BrowseReplacesTheDestinationOnlyWhenAFolderIsChosen) {
    Open(TwoFiles());
    sfx::MainDialogBrowse(platform, dialog());
    EXPECT_EQ(dialog().texts[IDC_DEST_DIR], "C:\\Out");
    dialog().browseAnswer = "D:\\Chosen";
    sfx::MainDialogBrowse(platform, dialog());
    EXPECT_EQ(dialog().texts[IDC_DEST_DIR], "D:\\Chosen");
}

TEST_F(MainDialogTest, BrowsedFolderWithoutTrailingBackslashTakesEntriesDirectly) {
    Open(TwoFiles());
    fs::create_directories(platform.Host("D:\\Chosen"));
    dialog().browseAnswer = "D:\\Chosen";
    sfx::MainDialogBrowse(platform, dialog());
    platform.Answer({sfx::kAnswerNo});
    sfx::MainDialogExtract(platform, dialog());
    EXPECT_EQ(ReadHostFile(platform.Host("D:\\Chosen\\a.txt")), "alpha");
}

}  // namespace
