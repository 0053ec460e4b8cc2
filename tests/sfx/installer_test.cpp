// Installers: the program run after extraction (only when every entry extracted), the temporary
// folder, runs without questions with their password and overwrite rules, and the exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "sfx/core/messages.h"
#include "sfx_fake.h"

using namespace sfx_test;

namespace {

constexpr char kPassword[] = "secret7";

vorntest::TestArchive SampleArchive(bool enciphered = false) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("readme.txt", "read me"));
    vorntest::TestEntry program = Entry("bin\\setup.exe", "MZ program");
    if (enciphered) program.password = kPassword;
    archiveSpec.entries.push_back(program);
    archiveSpec.comment = "welcome";
    return archiveSpec;
}

class Installer : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFrontEndState();
        sfx::g_pPlatform = &platform;
    }
    void TearDown() override {
        if (sfx::g_hArchive) vorn_CloseStream(sfx::g_hArchive);
        sfx::g_hArchive = nullptr;
        ResetFrontEndState();
    }
    int Unattended(sfx::Invocation invocation) {
        invocation.unattended = true;
        return sfx::Run(invocation, platform);
    }
    FakeDialog& dialog() { return platform.mainDialog; }

    FakePlatform platform;
};

TEST_F(Installer, DecisionsOverPlainData) {
    sfx::RunReport report;
    EXPECT_EQ(sfx::RunExitCode(report), 2) << "not opened";
    report.opened = true;
    EXPECT_EQ(sfx::RunExitCode(report), 0) << "left before a walk: nothing failed";
    report.walk.started = true;
    report.walk.complete = true;
    EXPECT_EQ(sfx::RunExitCode(report), 0);
    report.walk.failed = 1;
    EXPECT_EQ(sfx::RunExitCode(report), 1);
    report.walk.failed = 0;
    report.walk.complete = false;
    EXPECT_EQ(sfx::RunExitCode(report), 1) << "walk left early";
    report.walk.complete = true;
    report.programWanted = true;
    EXPECT_EQ(sfx::RunExitCode(report), 2) << "program could not start";
    report.programStarted = true;
    report.programExitCode = 7;
    EXPECT_EQ(sfx::RunExitCode(report), 7);
    report.interrupted = true;
    EXPECT_EQ(sfx::RunExitCode(report), 2);
    report.interrupted = false;
    report.walk.wrongPassword = true;
    EXPECT_EQ(sfx::RunExitCode(report), 2);

    bool failure = false;
    EXPECT_EQ(sfx::UnattendedOverwriteAnswer(format::SfxOverwrite::Always, &failure),
              sfx::kAnswerYes);
    EXPECT_FALSE(failure);
    EXPECT_EQ(sfx::UnattendedOverwriteAnswer(format::SfxOverwrite::Never, &failure),
              sfx::kAnswerNo);
    EXPECT_FALSE(failure);
    EXPECT_EQ(sfx::UnattendedOverwriteAnswer(format::SfxOverwrite::Ask, &failure), sfx::kAnswerNo);
    EXPECT_TRUE(failure) << "nobody said to keep it";

    PackSettings(std::nullopt, false, format::SfxOverwrite::Never);
    sfx::Session& session = platform.session;
    ASSERT_EQ(sfx::LoadSettings(session), format::SfxSettingsStatus::Ok);
    EXPECT_EQ(sfx::EffectiveOverwrite(session), format::SfxOverwrite::Never);
    session.invocation.overwrite = format::SfxOverwrite::Always;
    EXPECT_EQ(sfx::EffectiveOverwrite(session), format::SfxOverwrite::Always);
}

TEST_F(Installer, ProgramPathStaysInsideTheFolder) {
    const struct {
        const char* line;
        const char* path;  // null: refused
        const char* arguments;
    } cases[] = {
        {"bin/setup.exe /q", "C:\\Out\\bin\\setup.exe", " /q"},
        {"\"my app\\run.bat\" \"a b\"", "C:\\Out\\my app\\run.bat", " \"a b\""},
        {"..\\evil.exe", nullptr, ""},
        {"C:\\Windows\\evil.exe", nullptr, ""},
    };
    for (const auto& c : cases) {
        memset(sfx::g_abSettings, 0, sizeof sfx::g_abSettings);
        std::string line = c.line;
        sfx::g_abSettings[0] = format::kSfxTagRun;
        sfx::g_abSettings[1] = static_cast<uint8_t>(line.size());
        memcpy(sfx::g_abSettings + 3, line.data(), line.size());
        ASSERT_EQ(sfx::LoadSettings(platform.session), format::SfxSettingsStatus::Ok) << c.line;
        char path[sfx::kTextBytes];
        size_t at = 0;
        bool ok = sfx::ProgramPath(platform.session.settings, sfx::PathStyle::Windows, "C:\\Out",
                                   path, &at);
        EXPECT_EQ(ok, c.path != nullptr) << c.line;
        if (!ok) continue;
        EXPECT_STREQ(path, c.path);
        EXPECT_EQ(line.substr(at), c.arguments);
    }
}

TEST_F(Installer, WithoutSettingsTheDialogRunIsAsBefore) {
    platform.InstallArchive(SampleArchive());
    platform.onMainDialog = [](FakeDialog& d) {
        d.texts[IDC_DEST_DIR] = "C:\\Out";
        sfx::MainDialogExtract(d.platform, d);
    };
    platform.Answer({sfx::kAnswerYes, sfx::kAnswerYes});
    EXPECT_EQ(sfx::StartUp(platform), 0);
    EXPECT_TRUE(platform.started.empty());
    EXPECT_TRUE(platform.removedTrees.empty());
    EXPECT_FALSE(dialog().checked[IDC_OVERWRITE]);
    EXPECT_EQ(platform.BoxesWithCaption("Done").size(), 1u);
}

TEST_F(Installer, DialogRunStartsTheProgramInsteadOfTheCompletionQuestion) {
    PackSettings("bin/setup.exe /quiet", false, format::SfxOverwrite::Always);
    const char* extra[] = {"--mode", "x y"};
    platform.session.invocation.programArgs = extra;
    platform.session.invocation.programArgCount = 2;
    platform.InstallArchive(SampleArchive());
    platform.onMainDialog = [](FakeDialog& d) {
        EXPECT_TRUE(d.checked[IDC_OVERWRITE]) << "packed always checks the box";
        d.texts[IDC_DEST_DIR] = "C:\\Out";
        sfx::MainDialogExtract(d.platform, d);
    };
    platform.Answer({sfx::kAnswerYes});  // create C:\Out
    EXPECT_EQ(sfx::StartUp(platform), 0);
    ASSERT_EQ(platform.started.size(), 1u);
    EXPECT_EQ(platform.started[0].path, "C:\\Out\\bin\\setup.exe");
    EXPECT_EQ(platform.started[0].folder, "C:\\Out");
    EXPECT_EQ(platform.started[0].arguments, " /quiet|--mode|x y");
    EXPECT_FALSE(platform.started[0].wait);
    EXPECT_FALSE(platform.started[0].wholeTree);
    EXPECT_TRUE(platform.BoxesWithCaption("Done").empty());
    EXPECT_EQ(dialog().ended, std::optional<intptr_t>(sfx::kDialogDone));
}

TEST_F(Installer, DialogRunWithAFailedEntrySaysWhyAndDoesNotStartTheProgram) {
    PackSettings("bin/setup.exe", false);
    platform.InstallArchive(
        SampleArchive(true));  // the program is enciphered: its prompt is cancelled
    PromptAction cancel;
    cancel.command = 2;
    platform.promptScript.push_back(cancel);
    platform.onMainDialog = [](FakeDialog& d) {
        d.texts[IDC_DEST_DIR] = "C:\\Out";
        sfx::MainDialogExtract(d.platform, d);
    };
    platform.Answer({sfx::kAnswerYes, sfx::kAnswerOk, sfx::kAnswerYes});
    EXPECT_EQ(sfx::StartUp(platform), 0);
    EXPECT_TRUE(platform.started.empty());
    ASSERT_FALSE(platform.BoxesWithCaption("Tarnwick Archiver SFX").empty());
    EXPECT_EQ(platform.BoxesWithCaption("Tarnwick Archiver SFX")[0].text,
              "Not every file was extracted, so the program is not started.");
    EXPECT_EQ(platform.BoxesWithCaption("Done").size(), 1u) << "the usual question follows";
}

TEST_F(Installer, TemporaryDialogRunWaitsForTheProgramThenRemovesTheFolder) {
    PackSettings("bin/setup.exe", true);
    platform.InstallArchive(SampleArchive());
    platform.onMainDialog = [](FakeDialog& d) {
        EXPECT_FALSE(d.enabled[IDC_DEST_DIR]);
        EXPECT_FALSE(d.enabled[IDC_BROWSE]);
        EXPECT_EQ(d.texts[IDC_DEST_DIR], "C:\\Temp\\vorn-0");
        sfx::MainDialogExtract(d.platform, d);
    };
    EXPECT_EQ(sfx::StartUp(platform), 0);
    ASSERT_EQ(platform.started.size(), 1u);
    EXPECT_TRUE(platform.started[0].wait);
    EXPECT_TRUE(platform.started[0].wholeTree);
    EXPECT_TRUE(platform.started[0].folderExisted);
    EXPECT_EQ(platform.started[0].path, "C:\\Temp\\vorn-0\\bin\\setup.exe");
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Temp\\vorn-0")));
}

TEST_F(Installer, TemporaryDialogClosedBeforeExtractRemovesTheFolder) {
    PackSettings("bin/setup.exe", true);
    platform.InstallArchive(SampleArchive());
    platform.onMainDialog = [](FakeDialog& d) { sfx::MainDialogClose(d.platform, d); };
    platform.Answer({sfx::kAnswerYes});
    EXPECT_EQ(sfx::StartUp(platform), 0);
    EXPECT_TRUE(platform.started.empty());
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Temp\\vorn-0")));
}

TEST_F(Installer, UnattendedExtractsEverythingAndEndsWithTheProgramsExitCode) {
    PackSettings("bin/setup.exe /S", false);
    platform.InstallArchive(SampleArchive());
    platform.programExitCode = 7;
    sfx::Invocation options;
    options.destination = "C:\\Deploy\\App";
    EXPECT_EQ(Unattended(options), 7);
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Deploy\\App\\readme.txt")), "read me");
    EXPECT_TRUE(platform.boxes.empty()) << "no window, no questions";
    ASSERT_EQ(platform.started.size(), 1u);
    EXPECT_TRUE(platform.started[0].wait);
    EXPECT_FALSE(platform.started[0].wholeTree);
    EXPECT_EQ(platform.lines,
              (std::vector<std::string>{"extracted readme.txt", "extracted bin\\setup.exe",
                                        "the program ended with exit code 7"}));
    EXPECT_EQ(sfx::g_hArchive, nullptr) << "closed";
}

TEST_F(Installer, UnattendedDestinationFallsBackToBuiltInThenOwnFolder) {
    platform.InstallArchive(SampleArchive());
    EXPECT_EQ(Unattended({}), 0);
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Tools\\readme.txt")), "read me");
    strcpy(sfx::g_szExtractDir, "C:\\Preset");
    EXPECT_EQ(Unattended({}), 0);
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Preset\\bin\\setup.exe")), "MZ program");
}

TEST_F(Installer, KnownFolderOfTheBuiltInDestinationIsLookedUpAtStart) {
    const struct {
        const char* packed;
        bool machineHasIt;
        int exitCode;
        const char* lands;  // null: nothing extracted
    } cases[] = {
        {"%LocalAppData%\\Sample", true, 0, "C:\\Users\\u\\AppData\\Local\\Sample"},
        {"%LocalAppData%\\Sample", false, 2, nullptr},
        // An older packer's literal text, which no known-folder rule refused: as it stands.
        {"~Backup", false, 0, "C:\\Tools\\~Backup"},
    };
    platform.InstallArchive(SampleArchive());
    for (const auto& c : cases) {
        platform.knownFolders.clear();
        if (c.machineHasIt) {
            platform.knownFolders[format::KnownFolder::LocalAppData] =
                "C:\\Users\\u\\AppData\\Local";
        }
        strcpy(sfx::g_szExtractDir, c.packed);
        platform.errorLines.clear();
        EXPECT_EQ(Unattended({}), c.exitCode) << c.packed;
        if (c.lands != nullptr) {
            EXPECT_EQ(ReadHostFile(platform.Host(std::string(c.lands) + "\\readme.txt")),
                      "read me");
        } else {
            ASSERT_EQ(platform.errorLines.size(), 1u);
            EXPECT_EQ(platform.errorLines[0].rfind(sfx::texts::kKnownFolderFailed, 0), 0u);
        }
    }
}

TEST_F(Installer, UnattendedExistingFilesFollowTheSwitchThenThePackedChoice) {
    const struct {
        std::optional<format::SfxOverwrite> packed;
        std::optional<format::SfxOverwrite> given;
        int exitCode;
        const char* content;
    } cases[] = {
        {std::nullopt, std::nullopt, 1, "mine"},  // kept, counted as failed
        {std::nullopt, format::SfxOverwrite::Always, 0, "read me"},
        {std::nullopt, format::SfxOverwrite::Never, 0, "mine"},
        {format::SfxOverwrite::Always, std::nullopt, 0, "read me"},
        {format::SfxOverwrite::Always, format::SfxOverwrite::Never, 0, "mine"},
        {format::SfxOverwrite::Never, std::nullopt, 0, "mine"},
    };
    platform.InstallArchive(SampleArchive());
    for (const auto& c : cases) {
        PackSettings(std::nullopt, false, c.packed);
        fs::create_directories(platform.Host("C:\\Out"));
        std::ofstream(platform.Host("C:\\Out\\readme.txt")) << "mine";
        sfx::Invocation options;
        options.destination = "C:\\Out";
        options.overwrite = c.given;
        EXPECT_EQ(Unattended(options), c.exitCode)
            << static_cast<int>(c.given.value_or(format::SfxOverwrite::Ask));
        EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\readme.txt")), c.content);
        EXPECT_TRUE(platform.boxes.empty());
    }
}

TEST_F(Installer, UnattendedPasswordIsNeverAskedAndAWrongOneWritesNothing) {
    platform.InstallArchive(SampleArchive(true));
    sfx::Invocation options;
    options.destination = "C:\\Out";
    options.password = "wrong-password";
    EXPECT_EQ(Unattended(options), 2);
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out"))) << "nothing written";
    options.password = nullptr;
    EXPECT_EQ(Unattended(options), 2) << "missing password";
    EXPECT_FALSE(fs::exists(platform.Host("C:\\Out")));
    EXPECT_TRUE(platform.prompts.empty()) << "never asked";
    options.password = kPassword;
    EXPECT_EQ(Unattended(options), 0);
    EXPECT_EQ(ReadHostFile(platform.Host("C:\\Out\\bin\\setup.exe")), "MZ program");

    ResetFrontEndState();
    vorntest::TestArchive names = SampleArchive();
    names.namesPassword = kPassword;
    platform.InstallArchive(names);
    options.password = "wrong-password";
    EXPECT_EQ(Unattended(options), 2) << "the archive cannot be opened";
    EXPECT_FALSE(platform.errorLines.empty());
}

TEST_F(Installer, UnattendedTemporaryFolderIsRemovedOnSuccessAndFailure) {
    PackSettings("bin/setup.exe", true);
    platform.InstallArchive(SampleArchive());
    platform.programExitCode = 3;
    EXPECT_EQ(Unattended({}), 3);
    ASSERT_EQ(platform.started.size(), 1u);
    EXPECT_TRUE(platform.started[0].folderExisted);
    EXPECT_FALSE(fs::exists(platform.Host(platform.started[0].folder)));

    platform.programStarts = false;
    EXPECT_EQ(Unattended({}), 2) << "a program that cannot start";
    EXPECT_FALSE(fs::exists(platform.Host(platform.started[1].folder)));
    EXPECT_NE(std::find(platform.errorLines.begin(), platform.errorLines.end(),
                        "The program could not be started."),
              platform.errorLines.end());

    sfx::Invocation keep;
    keep.keep = true;
    keep.noexec = true;
    EXPECT_EQ(Unattended(keep), 0);
    EXPECT_EQ(platform.started.size(), 2u) << "--noexec runs nothing";
    EXPECT_TRUE(fs::exists(platform.Host(platform.lines.back()))) << "kept, and its path printed";

    platform.temporaryFails = true;
    EXPECT_EQ(Unattended({}), 2);
}

TEST_F(Installer, UnattendedFolderThatCannotBeMadeExtractsNothing) {
    platform.InstallArchive(SampleArchive());
    std::ofstream(platform.Host("C:\\Tools\\file")) << "in the way";
    sfx::Invocation options;
    options.destination = "C:\\Tools\\file\\sub";
    EXPECT_EQ(Unattended(options), 2);
    EXPECT_TRUE(platform.recorder.extracts.empty());
}

TEST_F(Installer, DamagedSettingsStopTheProgramBeforeAnything) {
    sfx::g_abSettings[0] = format::kSfxTagTemporary;
    sfx::g_abSettings[1] = 1;  // a temporary flag with a value it cannot have
    platform.InstallArchive(SampleArchive());
    EXPECT_EQ(sfx::StartUp(platform), 0);
    EXPECT_EQ(platform.mainDialogRuns, 0);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, "This self-extractor's settings are damaged; it cannot run.");
}

}  // namespace
