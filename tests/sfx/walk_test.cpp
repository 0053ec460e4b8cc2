// The extraction walk: the comment entry, directory levels, the overwrite question, the counters
// and texts, the destination rule for unsafe and over-long names, enumeration errors, a second
// run, and a Close during a run.
#include <gtest/gtest.h>

#include <fstream>

#include "entry_name_cases.h"
#include "sfx/core/messages.h"
#include "sfx_fake.h"

using namespace sfx_test;

namespace {

class Walk : public ::testing::Test {
  protected:
    void SetUp() override { ResetFrontEndState(); }
    void TearDown() override {
        if (sfx::g_hArchive) vorn_CloseStream(sfx::g_hArchive);
        sfx::g_hArchive = nullptr;
    }

    // Opens the archive and the dialog with the destination C:\Out (existing), then runs one walk.
    void Prepare(const vorntest::TestArchive& archiveSpec,
                 const std::string& destination = "C:\\Out") {
        platform.InstallArchive(archiveSpec);
        sfx::g_pPlatform = &platform;
        ASSERT_EQ(platform.recorder.OpenStream(&sfx::g_hArchive, platform.ownPath.c_str(), nullptr,
                                               VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        strcpy(sfx::g_szExtractDir, destination.c_str());
        fs::create_directories(platform.Host("C:\\Out"));
        sfx::MainDialogOpen(platform, dialog());
    }
    void RunWalk() { sfx::ExtractThread(platform, dialog()); }
    FakeDialog& dialog() { return platform.mainDialog; }
    std::string Done() { return dialog().texts[IDC_FILES_DONE]; }
    std::multiset<std::string> Listed() { return dialog().lists[IDC_FILE_LIST]; }

    FakePlatform platform;
};

TEST_F(Walk, SkipsCommentCreatesLevelsAndCountsEveryEntryButTheComment) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("top.txt", "top"));
    archiveSpec.entries.push_back(Entry("a\\b\\c.txt", "deep"));
    archiveSpec.comment = "a comment";
    Prepare(archiveSpec);
    platform.Answer({sfx::kAnswerNo});  // completion question
    RunWalk();
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\top.txt")), "top");
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\a\\b\\c.txt")), "deep");
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out\\$comments$")));
    EXPECT_EQ(platform.entryFolders, (std::vector<std::string>{"", "a\\b"}));
    EXPECT_EQ(platform.partsKept, 2);
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"top.txt", "a\\b\\c.txt"}));
    EXPECT_EQ(Done(), "Extracted files completed: 2 of 3");
    EXPECT_EQ(dialog().textHistory[IDC_CURRENT_FILE],
              (std::vector<std::string>{"Current file: top.txt", "Current file: a\\b\\c.txt"}));
    EXPECT_EQ(dialog().textHistory[IDC_FILES_DONE],
              (std::vector<std::string>{
                  "Extracted files completed: 0 of 3", "Extracted files completed: 1 of 3",
                  "Extracted files completed: 1 of 3", "Extracted files completed: 2 of 3"}));
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "Extraction Complete, Exit?");
    EXPECT_EQ(platform.boxes[0].caption, "Done");
    EXPECT_EQ(platform.boxes[0].style, sfx::kBoxYesNo | sfx::kBoxIconQuestion);
    EXPECT_FALSE(dialog().ended.has_value());
    EXPECT_TRUE(dialog().enabled[IDC_EXTRACT]);
    EXPECT_TRUE(dialog().enabled[IDC_CLOSE]);
    // The bar follows the entry and ends at 100.
    ASSERT_FALSE(dialog().progress[IDC_PROGRESS].empty());
    EXPECT_EQ(dialog().progress[IDC_PROGRESS].back(), 100);
}

TEST_F(Walk, NamesAreSpelledForTheSystemButLookedUpAsStored) {
    // A code-page name the system spells otherwise (kept ASCII here, so that the host's own
    // file names need no conversion), and one that grows past the limit.
    const std::string stored = "caf\xe9.txt";
    const std::string longStored = std::string(200, 'n') + "\xe9";
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry(stored, "coffee"));
    archiveSpec.entries.push_back(Entry(longStored, "long"));
    Prepare(archiveSpec);
    platform.systemTexts[stored] = "cafe (as the system spells it).txt";
    platform.systemTexts[longStored] = std::string(256, 'n');
    platform.Answer({sfx::kAnswerOk, sfx::kAnswerNo});
    RunWalk();
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\cafe (as the system spells it).txt")), "coffee");
    ASSERT_EQ(platform.recorder.extracts.size(), 1u);
    EXPECT_EQ(platform.recorder.extracts[0].name, stored);
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"cafe (as the system spells it).txt"}));
    EXPECT_EQ(dialog().textHistory[IDC_CURRENT_FILE],
              (std::vector<std::string>{"Current file: cafe (as the system spells it).txt"}));
    std::vector<Box> refused = platform.BoxesWithCaption(longStored);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].text.find("longer than 255"), std::string::npos);
}

TEST_F(Walk, CompletionAnsweredYesEndsTheDialogWithZero) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("x.txt", "x"));
    Prepare(archiveSpec);
    platform.Answer({sfx::kAnswerYes});
    RunWalk();
    EXPECT_EQ(dialog().ended, std::optional<intptr_t>(0));
}

TEST_F(Walk, OnlyACommentWritesNothingAndStillAsksTheCompletionQuestion) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.comment = "only a comment";
    Prepare(archiveSpec);
    RunWalk();
    EXPECT_EQ(dialog().textHistory.count(IDC_CURRENT_FILE), 0u);
    EXPECT_EQ(dialog().textHistory.count(IDC_FILES_DONE), 0u);
    EXPECT_TRUE(Listed().empty());
    EXPECT_TRUE(fs::is_empty(platform.Host("C:\\Out")));
    EXPECT_EQ(platform.BoxesWithCaption("Done").size(), 1u);
}

class Overwrite : public Walk {
  protected:
    void SetUp() override {
        Walk::SetUp();
        vorntest::TestArchive archiveSpec;
        archiveSpec.entries.push_back(Entry("a.txt", "new a"));
        archiveSpec.entries.push_back(Entry("b.txt", "new b"));
        Prepare(archiveSpec);
        std::ofstream(platform.Host("C:\\Out\\a.txt")) << "old a";
    }
};

TEST_F(Overwrite, NoSkipsTheEntryWithoutListingOrCountingIt) {
    platform.Answer({sfx::kAnswerNo});
    RunWalk();
    auto asked = platform.BoxesWithCaption("Tarnwick Archiver SFX");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "File C:\\Out\\a.txt exists already, ovewrite it?");
    EXPECT_EQ(asked[0].style, sfx::kBoxYesNoCancel | sfx::kBoxIconQuestion);
    EXPECT_EQ(asked[0].owner, "main");
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\a.txt")), "old a");
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\b.txt")), "new b");
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"b.txt"}));
    EXPECT_EQ(Done(), "Extracted files completed: 1 of 2");
}

TEST_F(Overwrite, YesReplacesTheFile) {
    platform.Answer({sfx::kAnswerYes});
    RunWalk();
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\a.txt")), "new a");
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"a.txt", "b.txt"}));
}

TEST_F(Overwrite, CancelEndsTheWalkButStillAsksTheCompletionQuestion) {
    platform.Answer({sfx::kAnswerCancel});
    RunWalk();
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out\\b.txt")));
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(platform.BoxesWithCaption("Done").size(), 1u);
}

TEST_F(Overwrite, CheckedBoxReplacesWithoutAQuestion) {
    dialog().checked[IDC_OVERWRITE] = true;
    RunWalk();
    EXPECT_TRUE(platform.BoxesWithCaption("Tarnwick Archiver SFX").empty());
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\a.txt")), "new a");
}

TEST_F(Walk, DirectoryInTheWayIsAskedAboutThenFailsCountedNotListed) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("dir", "data"));
    Prepare(archiveSpec);
    fs::create_directories(platform.Host("C:\\Out\\dir"));
    platform.Answer({sfx::kAnswerYes});
    RunWalk();
    EXPECT_EQ(platform.BoxesWithCaption("Tarnwick Archiver SFX").size(), 1u);
    EXPECT_EQ(platform.BoxesWithCaption("dir").size(), 1u);  // the failure, under the name
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(Done(), "Extracted files completed: 1 of 1");
}

// The shared table of entry names under Windows's rule: each refused name gets its own box, is
// counted but not listed, and nothing lands outside the destination; each accepted one lands
// where the table says.
TEST_F(Walk, UnsafeNamesAreRefusedCountedNotListedAndNothingLeavesTheDestination) {
    Prepare(vorntest::EntryNameCaseArchive());
    RunWalk();
    std::multiset<std::string> accepted;
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        if (c.windows == format::EntryNameVerdict::Safe) {
            std::string path = std::string("C:\\Out\\") + c.landsAt;
            for (char& ch : path) ch = ch == '/' ? '\\' : ch;
            EXPECT_EQ(ReadHostFile(platform.Host(path)), std::string("entry ") + c.name);
            accepted.insert(c.name);
            continue;
        }
        auto refused = platform.BoxesWithCaption(c.name);
        ASSERT_EQ(refused.size(), 1u) << c.name;
        EXPECT_EQ(refused[0].text,
                  "This entry's path would leave the destination folder; it is not extracted.");
        EXPECT_EQ(refused[0].style, sfx::kBoxOk | sfx::kBoxIconError);
    }
    EXPECT_EQ(Listed(), accepted);
    size_t total = vorntest::EntryNameCases().size();
    EXPECT_EQ(Done(), "Extracted files completed: " + std::to_string(total) + " of " +
                          std::to_string(total));
    EXPECT_EQ(platform.recorder.extracts.size(), accepted.size());
    // Nothing anywhere but the program's folder and the destination.
    for (const auto& item : fs::recursive_directory_iterator(platform.root)) {
        std::string p = item.path().string();
        EXPECT_TRUE(p.find("escape") == std::string::npos) << p;
    }
}

TEST_F(Walk, TooLongPathIsRefusedNamingTheEntryAndNeverCut) {
    std::string longName = std::string(200, 'n') + ".txt";
    std::string longer = std::string(240, 'm') + ".txt";  // "Current file: " would not fit
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry(longName, "long"));
    archiveSpec.entries.push_back(Entry(longer, "longer"));
    archiveSpec.entries.push_back(Entry("short.txt", "short"));
    std::string destination = "C:\\Out\\" + std::string(40, 'd');
    Prepare(archiveSpec, destination);
    fs::create_directories(platform.Host(destination));
    RunWalk();
    for (const auto& name : {longName, longer}) {
        auto refused = platform.BoxesWithCaption(name);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_NE(refused[0].text.find("longer than 255 characters"), std::string::npos);
    }
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"short.txt"}));
    EXPECT_EQ(Done(), "Extracted files completed: 3 of 3");
    ASSERT_EQ(platform.recorder.extracts.size(), 1u);
    for (const auto& item : fs::directory_iterator(platform.Host(destination))) {
        EXPECT_EQ(item.path().filename(), "short.txt");
    }
}

TEST_F(Walk, LongestPathWhoseMessagesFitIsExtracted) {
#ifdef _WIN32
    GTEST_SKIP() << "the fake's host folder makes this path longer than Windows' own limit";
#endif
    // "File " + path + " exists already, ovewrite it?" is the longest text built from an entry.
    std::string destination = "C:\\Out\\";
    size_t question = std::string("File  exists already, ovewrite it?").size();
    std::string name(255 - question - destination.size(), 'f');
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry(name, "edge"));
    archiveSpec.entries.push_back(Entry(name + "g", "over"));
    Prepare(archiveSpec, destination);
    RunWalk();
    EXPECT_EQ(Listed(), (std::multiset<std::string>{name}));
    EXPECT_EQ(platform.BoxesWithCaption(name + "g").size(), 1u);
}

TEST_F(Walk, EnumerationErrorIsReportedAndEndsTheWalk) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("one.txt", "1"));
    archiveSpec.entries.push_back(Entry("two.txt", "2"));
    Prepare(archiveSpec);
    platform.recorder.enumerateFailsWith = VORN_E_CORRUPT;
    RunWalk();
    auto reported = platform.BoxesWithCaption("Archive Enum Error");
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].text, "Archive is corrupt");
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"one.txt"}));
    EXPECT_EQ(platform.BoxesWithCaption("Done").size(), 1u);
}

TEST_F(Walk, EveryEntryFailingEndsWithNOfN) {
    vorntest::TestArchive archiveSpec;
    for (const char* name : {"p.txt", "q.txt"}) {
        vorntest::TestEntry e = Entry(name, "data");
        e.crcOverride = 0x12345678;
        archiveSpec.entries.push_back(e);
    }
    Prepare(archiveSpec);
    RunWalk();
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(Done(), "Extracted files completed: 2 of 2");
    auto failed = platform.BoxesWithCaption("p.txt");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].text, "Decompressed file CRC does not match original");
    EXPECT_TRUE(platform.prompts.empty());
}

TEST_F(Walk, SecondRunEmptiesTheListAndCountsFromZero) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("r.txt", "r"));
    Prepare(archiveSpec);
    dialog().checked[IDC_OVERWRITE] = true;
    RunWalk();
    dialog().lists[IDC_FILE_LIST].insert("left over");
    dialog().textHistory.clear();
    RunWalk();
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"r.txt"}));
    EXPECT_EQ(dialog().textHistory[IDC_FILES_DONE].front(), "Extracted files completed: 0 of 1");
}

TEST_F(Walk, CloseDuringAnEntryStopsQuietlyAndRemovesThePartialFile) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry big = Entry("big.bin", std::string(300000, 'z'));
    big.blockSize = 4096;  // many blocks, so the cancel lands inside the entry
    archiveSpec.entries.push_back(big);
    archiveSpec.entries.push_back(Entry("after.txt", "after"));
    Prepare(archiveSpec);
    // The user confirms Close while the first blocks are being written.
    bool closed = false;
    dialog().onProgress = [&](int value) {
        if (value > 0 && !closed) {
            closed = true;
            platform.Answer({sfx::kAnswerYes});
            sfx::MainDialogClose(platform, dialog());
        }
    };
    RunWalk();
    ASSERT_TRUE(closed);
    EXPECT_EQ(dialog().ended, std::optional<intptr_t>(2));
    ASSERT_EQ(platform.recorder.extracts.size(), 1u);
    EXPECT_EQ(platform.recorder.extracts[0].status, VORN_E_INVALID_ARGUMENT);
    // No report of the cancelled entry and no completion question while the dialog ends.
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].caption, "Cancel");
    EXPECT_EQ(platform.partsDiscarded, 1);
    EXPECT_EQ(platform.recorder.extracts[0].path, platform.partFiles.at(0));
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out\\big.bin")));
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out\\after.txt")));
    EXPECT_TRUE(Listed().empty());
}

TEST_F(Walk, CloseJustBeforeAnExtractionStartsIsNotLostInTheLibrary) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("first.txt", "1"));
    Prepare(archiveSpec);
    // Confirmed after the walk's test of the flag, before the library's call resets its event.
    sfx::g_bCancel = true;
    EXPECT_NE(sfx::ExtractFile(platform, dialog(), "first.txt", "C:\\Out\\first.txt"), 0u);
    EXPECT_TRUE(platform.recorder.extracts.empty());
    EXPECT_TRUE(platform.boxes.empty());
}

// "Yes" to the overwrite question, then the entry fails: the file that stood there keeps its
// bytes and no part file stays. The right password is the control that the entry does replace it.
TEST_F(Walk, AnExistingFileKeepsItsBytesWhenTheEntryAnsweredYesFails) {
    const struct {
        const char* what;
        std::vector<PromptAction> prompts;
        bool damaged;  // the entry's CRC in its record is false
        const char* left;
    } cases[] = {
        {"right password (control)", {{"correct horse", false, 1, std::nullopt}}, false, "new a"},
        {"prompt cancelled", {{std::nullopt, false, 2, std::nullopt}}, false, "old a"},
        {"wrong password, then cancel",
         {{"wrong horse", false, 1, std::nullopt}, {std::nullopt, false, 2, std::nullopt}},
         false,
         "old a"},
        {"damaged entry", {}, true, "old a"},
    };
    for (const auto& c : cases) {
        ResetFrontEndState();
        FakePlatform each;
        vorntest::TestArchive archiveSpec;
        vorntest::TestEntry a = Entry("a.txt", "new a");
        if (c.damaged) a.crcOverride = 0x12345678;
        if (!c.damaged) a.password = "correct horse";
        archiveSpec.entries.push_back(a);
        each.InstallArchive(archiveSpec);
        sfx::g_pPlatform = &each;
        ASSERT_EQ(each.recorder.OpenStream(&sfx::g_hArchive, each.ownPath.c_str(), nullptr,
                                           VORN_OPEN_READONLY),
                  VORN_SUCCESS);
        strcpy(sfx::g_szExtractDir, "C:\\Out");
        fs::create_directories(each.Host("C:\\Out"));
        std::ofstream(each.Host("C:\\Out\\a.txt")) << "old a";
        sfx::MainDialogOpen(each, each.mainDialog);
        each.Answer({sfx::kAnswerYes});
        for (const PromptAction& action : c.prompts) each.promptScript.push_back(action);
        sfx::ExtractThread(each, each.mainDialog);
        EXPECT_EQ(ReadHostFile(each.Host("C:\\Out\\a.txt")), c.left) << c.what;
        EXPECT_EQ(
            std::distance(fs::directory_iterator(each.Host("C:\\Out")), fs::directory_iterator()),
            1)
            << c.what << ": no part file stays";
        EXPECT_EQ(each.mainDialog.lists[IDC_FILE_LIST].size(), c.left == std::string("new a"))
            << c.what;
        vorn_CloseStream(sfx::g_hArchive);
        sfx::g_hArchive = nullptr;
    }
}

#ifndef _WIN32
// A folder level of an entry that is a link in the destination is not entered: that entry is
// refused under its name, the others are extracted. The control shows a write through the link
// lands outside.
TEST_F(Walk, ALinkAtAFolderLevelIsNeverEntered) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("sub\\x.txt", "x"));
    archiveSpec.entries.push_back(Entry("b.txt", "b"));
    Prepare(archiveSpec);
    fs::path outside = platform.root / "outside";
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, platform.Host("C:\\Out\\sub"));
    std::ofstream(platform.Host("C:\\Out\\sub\\probe")) << "through";
    ASSERT_EQ(ReadHostFile(outside / "probe"), "through");
    fs::remove(outside / "probe");

    platform.Answer({sfx::kAnswerOk, sfx::kAnswerNo});
    RunWalk();
    EXPECT_TRUE(fs::is_empty(outside));
    auto refused = platform.BoxesWithCaption("sub\\x.txt");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].text, sfx::texts::kEntryThroughLink);
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\b.txt")), "b");
    EXPECT_EQ(Listed(), (std::multiset<std::string>{"b.txt"}));
    EXPECT_EQ(Done(), "Extracted files completed: 2 of 2");
}
#endif

#ifndef _WIN32
TEST(WalkPosix, NamesWithBackslashesLandInNativeFolders) {
    ResetFrontEndState();
    FakePlatform platform;
    platform.style = sfx::PathStyle::Posix;
    platform.ownPath = (platform.root / "bin" / "pack").string();
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("docs\\guide.txt", "guide"));
    archiveSpec.entries.push_back(Entry("..\\out.txt", "bad"));
    platform.InstallArchive(archiveSpec);
    sfx::g_pPlatform = &platform;
    ASSERT_EQ(platform.recorder.OpenStream(&sfx::g_hArchive, platform.ownPath.c_str(), nullptr,
                                           VORN_OPEN_READONLY),
              VORN_SUCCESS);
    std::string destination = (platform.root / "dest").string();
    strcpy(sfx::g_szExtractDir, destination.c_str());
    sfx::MainDialogOpen(platform, platform.mainDialog);
    platform.Answer({sfx::kAnswerYes, sfx::kAnswerOk, sfx::kAnswerNo});
    sfx::MainDialogExtract(platform, platform.mainDialog);
    EXPECT_EQ(ReadHostFile(platform.root / "dest" / "docs" / "guide.txt"), "guide");
    EXPECT_FALSE(fs::exists(platform.root / "out.txt"));
    EXPECT_EQ(platform.mainDialog.lists[IDC_FILE_LIST],
              (std::multiset<std::string>{"docs\\guide.txt"}));
    vorn_CloseStream(sfx::g_hArchive);
    sfx::g_hArchive = nullptr;
}
#endif

}  // namespace
