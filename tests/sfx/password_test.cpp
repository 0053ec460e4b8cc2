// The per-entry password loop and the password dialog's rules: minimum length, the kept password,
// the 127-character field, wrong passwords, cancel, and a prompt that cannot be created.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "sfx_fake.h"

using namespace sfx_test;

namespace {

class PasswordLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFrontEndState();
        vorntest::TestArchive archiveSpec;
        for (const char* name : {"one.txt", "two.txt"}) {
            vorntest::TestEntry e = Entry(name, std::string("secret ") + name);
            e.password = kPassword;
            archiveSpec.entries.push_back(e);
        }
        platform.InstallArchive(archiveSpec);
        sfx::g_pPlatform = &platform;
        ASSERT_EQ(platform.recorder.OpenStream(&sfx::g_hArchive, platform.ownPath.c_str(), nullptr,
                                               VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        strcpy(sfx::g_szExtractDir, "C:\\Out");
        fs::create_directories(platform.Host("C:\\Out"));
        sfx::MainDialogOpen(platform, dialog());
    }
    void TearDown() override {
        vorn_CloseStream(sfx::g_hArchive);
        sfx::g_hArchive = nullptr;
    }
    uint32_t Extract(const char* name) {
        return sfx::ExtractFile(platform, dialog(), name,
                                (std::string("C:\\Out\\") + name).c_str());
    }
    void Type(const std::string& text, bool keep = false) {
        platform.promptScript.push_back({text, keep, 1, std::nullopt});
    }
    void Confirm() { platform.promptScript.push_back({std::nullopt, false, 1, std::nullopt}); }
    void CancelPrompt() { platform.promptScript.push_back({std::nullopt, false, 2, std::nullopt}); }
    FakeDialog& dialog() { return platform.mainDialog; }

    static constexpr const char* kPassword = "correct horse";
    FakePlatform platform;
};

TEST_F(PasswordLoop, RightPasswordExtractsAfterAFirstAttemptWithout) {
    Type(kPassword);
    EXPECT_EQ(Extract("one.txt"), 0u);
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\one.txt")), "secret one.txt");
    ASSERT_EQ(platform.recorder.extracts.size(), 2u);
    EXPECT_FALSE(platform.recorder.extracts[0].password.has_value());
    EXPECT_EQ(platform.recorder.extracts[1].password, std::optional<std::string>(kPassword));
    ASSERT_EQ(platform.prompts.size(), 1u);
    EXPECT_TRUE(platform.prompts[0].ownedByMain);
    EXPECT_EQ(platform.prompts[0].promptText,
              "This file is protected through encryption, please enter the password for the "
              "file below");
    EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(PasswordLoop, FiveCharactersAreRefusedAndSixAccepted) {
    Type("abcde");
    Type("abcdef");
    Type(kPassword);
    EXPECT_EQ(Extract("one.txt"), 0u);
    // The short one never reaches the library; the dialog stayed open for the next try.
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].owner, "password");
    EXPECT_EQ(platform.boxes[0].text, "The minimum password length is 6 characters");
    EXPECT_EQ(platform.boxes[0].caption, "Error");
    EXPECT_EQ(platform.boxes[0].style, sfx::kBoxOk | sfx::kBoxIconError);
    ASSERT_EQ(platform.recorder.extracts.size(), 3u);
    EXPECT_EQ(platform.recorder.extracts[1].password, std::optional<std::string>("abcdef"));
    EXPECT_EQ(platform.prompts.size(), 2u);
}

TEST_F(PasswordLoop, WrongPasswordPromptsAgainWithoutABoxAndCancelGivesOne) {
    Type("wrong password");
    CancelPrompt();
    EXPECT_EQ(Extract("one.txt"), 1u);
    EXPECT_EQ(platform.prompts.size(), 2u);
    EXPECT_TRUE(platform.boxes.empty());
    // Cancel deletes nothing; the wrong password's attempt never put a file at the path.
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out\\one.txt")));
    EXPECT_TRUE(platform.removed.empty());
}

TEST_F(PasswordLoop, KeptPasswordIsFilledInAtLaterPromptsButNeverTriedFirst) {
    Type(kPassword, /*keep=*/true);
    ASSERT_EQ(Extract("one.txt"), 0u);
    Confirm();  // the field opens filled in
    ASSERT_EQ(Extract("two.txt"), 0u);
    ASSERT_EQ(platform.prompts.size(), 2u);
    EXPECT_EQ(platform.prompts[0].prefilled, "");
    EXPECT_EQ(platform.prompts[1].prefilled, kPassword);
    EXPECT_FALSE(platform.prompts[1].keepChecked);
    ASSERT_EQ(platform.recorder.extracts.size(), 4u);
    EXPECT_FALSE(platform.recorder.extracts[2].password.has_value());
    EXPECT_EQ(platform.recorder.extracts[3].password, std::optional<std::string>(kPassword));
}

TEST_F(PasswordLoop, UncheckedLaterPromptKeepsTheEarlierPassword) {
    Type(kPassword, true);
    ASSERT_EQ(Extract("one.txt"), 0u);
    Type("another password", false);
    Type(kPassword, false);
    ASSERT_EQ(Extract("two.txt"), 0u);
    CancelPrompt();
    EXPECT_EQ(Extract("one.txt"), 1u);
    EXPECT_EQ(platform.prompts.back().prefilled, kPassword);
}

TEST_F(PasswordLoop, OverlongPasswordReachesTheLibraryAsItsFirst127Characters) {
    std::string typed(200, 'p');
    Type(typed);
    CancelPrompt();
    Extract("one.txt");
    ASSERT_EQ(platform.recorder.extracts.size(), 2u);
    EXPECT_EQ(platform.recorder.extracts[1].password,
              std::optional<std::string>(typed.substr(0, 127)));
}

TEST_F(PasswordLoop, PromptThatCannotBeCreatedEndsTheLoopAsACancel) {
    platform.promptScript.push_back({std::nullopt, false, 1, intptr_t{-1}});
    EXPECT_EQ(Extract("one.txt"), 1u);
    EXPECT_EQ(platform.recorder.extracts.size(), 1u);
}

TEST_F(PasswordLoop, WalkListsOnlyTheEntriesWhosePasswordWasGiven) {
    Type(kPassword);
    CancelPrompt();
    platform.Answer({sfx::kAnswerNo});
    sfx::ExtractThread(platform, dialog());
    EXPECT_EQ(dialog().lists[IDC_FILE_LIST], (std::multiset<std::string>{"one.txt"}));
    EXPECT_EQ(dialog().texts[IDC_FILES_DONE], "Extracted files completed: 2 of 2");
}

TEST(PasswordDialog, StartUpPromptShowsTheArchiveTextAndOtherCommandsAreNotHandled) {
    ResetFrontEndState();
    FakePlatform platform;
    FakeDialog dialog(platform, "password");
    char buffer[256] = {};
    sfx::PasswordDialogInit(dialog, buffer);
    EXPECT_EQ(dialog.texts[IDC_PASSWORD_TEXT],
              "This archive is protected, please enter the password for it below");
    EXPECT_EQ(dialog.texts.count(IDC_PASSWORD), 0u);
    EXPECT_FALSE(sfx::PasswordDialogCommand(dialog, IDC_REUSE_PASSWORD));
    EXPECT_FALSE(dialog.ended.has_value());
    EXPECT_TRUE(sfx::PasswordDialogCommand(dialog, 2));
    EXPECT_EQ(dialog.ended, std::optional<intptr_t>(2));
}

}  // namespace
