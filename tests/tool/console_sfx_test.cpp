// The Linux self-extractor (the console stub with an archive appended by "vorn pack --sfx") run
// on a pseudo-terminal with answers typed at its prompts, and without a terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry_name_cases.h"
#include "process_support.h"
#include "test_archive.h"

namespace tooltest {
namespace {

const std::string kVorn = VORN_TOOL_PATH;
const std::string kStub = VORN_CONSOLE_STUB;

fs::path MakeSfx(const ScratchFolder& scratch, const std::vector<std::string>& extraArgs) {
    WriteFile(scratch / "src" / "top.txt", "top level\n");
    WriteFile(scratch / "src" / "nested" / "deeper" / "data.bin", SampleBytes(40000, 3));
    fs::path sfx = scratch / "run" / "setup.run";
    fs::create_directories(sfx.parent_path());
    std::vector<std::string> args = {"pack", "-q", "--sfx-stub", kStub};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.push_back(sfx.string());
    args.push_back((scratch / "src").string());
    RunResult pack = RunProgram(kVorn, args);
    EXPECT_EQ(pack.exitCode, 0) << pack.err;
    return sfx;
}

TEST(ConsoleSelfExtractor, ShowsTheCommentAndExtractsWhereTheUserSays) {
    ScratchFolder scratch;
    fs::path sfx = MakeSfx(scratch, {"--comment", "Welcome to the sample"});
    fs::path dest = scratch / "chosen";
    RunResult run = RunOnTerminal(sfx.string(), {},
                                  {{"Directory to extract files to [", dest.string()},
                                   {"Overwrite files automatically?", "n"},
                                   {"create now?", "y"},
                                   {"Extraction Complete, Exit?", "y"}});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Welcome to the sample"), std::string::npos);
    // The default shown is the program's own folder.
    std::string shown = "[";
    shown += (scratch / "run").string();
    shown += "/]";
    EXPECT_NE(run.out.find(shown), std::string::npos) << run.out;
    EXPECT_TRUE(TreeContents(dest / "src") == TreeContents(scratch / "src"));
    EXPECT_NE(run.out.find("2 of 3"), std::string::npos) << "count includes the comment entry";
}

TEST(ConsoleSelfExtractor, BuiltInDestinationIsTheDefaultAnswer) {
    ScratchFolder scratch;
    fs::path preset = scratch / "preset folder";
    fs::path sfx = MakeSfx(scratch, {"--default-dir", preset.string()});
    RunResult run = RunOnTerminal(sfx.string(), {},
                                  {{"Directory to extract files to [" + preset.string() + "]", ""},
                                   {"Overwrite files automatically?", "n"},
                                   {"create now?", "y"},
                                   {"Extraction Complete, Exit?", "y"}});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(TreeContents(preset / "src") == TreeContents(scratch / "src")) << run.out;
}

TEST(ConsoleSelfExtractor, PasswordIsTypedWithoutEchoAndShortOnesAreRefused) {
    ScratchFolder scratch;
    fs::path sfx = MakeSfx(scratch, {"--password", "hunter22"});
    fs::path dest = scratch / "out";
    fs::create_directories(dest);
    RunResult run = RunOnTerminal(sfx.string(), {},
                                  {{"Directory to extract files to [", dest.string()},
                                   {"Overwrite files automatically?", "n"},
                                   {"Password (Enter alone cancels): ", "short"},
                                   {"Password (Enter alone keeps what is filled in", "hunter22"},
                                   {"next files?", "y"},
                                   {"Password (Enter alone keeps what is filled in", ""},
                                   {"next files?", "n"},
                                   {"Extraction Complete, Exit?", "y"}});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out.find("hunter22"), std::string::npos) << "the password was echoed";
    EXPECT_NE(run.out.find("The minimum password length is 6 characters"), std::string::npos);
    EXPECT_TRUE(TreeContents(dest / "src") == TreeContents(scratch / "src")) << run.out;
}

TEST(ConsoleSelfExtractor, ExistingFileQuestionNoKeepsIt) {
    ScratchFolder scratch;
    fs::path sfx = MakeSfx(scratch, {});
    fs::path dest = scratch / "out";
    WriteFile(dest / "src" / "top.txt", "mine");
    RunResult run = RunOnTerminal(sfx.string(), {},
                                  {{"Directory to extract files to [", dest.string()},
                                   {"Overwrite files automatically?", "n"},
                                   {"exists already, ovewrite it?", "n"},
                                   {"Extraction Complete, Exit?", "y"}});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(dest / "src" / "top.txt"), "mine");
    EXPECT_EQ(ReadFile(dest / "src" / "nested" / "deeper" / "data.bin"), SampleBytes(40000, 3));
}

TEST(ConsoleSelfExtractor, WithoutATerminalItExtractsBesideItselfAndReportsPasswords) {
    ScratchFolder scratch;
    fs::path sfx = MakeSfx(scratch, {});
    RunResult run = RunProgram(sfx.string(), {}, (scratch / "run").string());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(TreeContents(scratch / "run" / "src") == TreeContents(scratch / "src"));

    ScratchFolder second;
    fs::path locked = MakeSfx(second, {"-p", "hunter22"});
    RunResult refused = RunProgram(locked.string(), {}, (second / "run").string());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("needs a password"), std::string::npos) << refused.err;
}

// The shared table of entry names under the portable rule: names Windows alone refuses (CON,
// sub\NUL.txt, ok\.. \x) are files here; each refused name is told in every reader's words, and
// nothing lands outside the folder the program extracts to.
TEST(ConsoleSelfExtractor, EveryNameOfTheSharedTableIsExtractedOrRefusedAsTheRuleSays) {
    ScratchFolder scratch;
    vorntest::TestArchive archive = vorntest::EntryNameCaseArchive();
    std::string stub = ReadFile(kStub);
    archive.prefix.assign(stub.begin(), stub.end());
    fs::path sfx = scratch / "run" / "names.run";
    fs::create_directories(sfx.parent_path());
    ASSERT_TRUE(vorntest::WriteWholeFile(sfx.string(), vorntest::BuildTestArchive(archive)));
    fs::permissions(sfx, fs::perms::owner_exec, fs::perm_options::add);
    RunResult run = RunProgram(sfx.string(), {}, (scratch / "run").string());
    size_t accepted = 0;
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        if (c.portable == format::EntryNameVerdict::Safe) {
            EXPECT_EQ(ReadFile(scratch / "run" / c.landsAt), std::string("entry ") + c.name)
                << c.name << run.err;
            ++accepted;
            continue;
        }
        std::string line = std::string(c.name) +
                           ": This entry's path would leave the destination folder; it is not "
                           "extracted.\n";
        EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
    }
    size_t written = 0;
    for (auto& e : fs::recursive_directory_iterator(scratch.path())) {
        if (!e.is_regular_file() || e.path() == sfx) continue;
        ++written;
        EXPECT_EQ(e.path().string().rfind((scratch / "run").string(), 0), 0u) << e.path();
    }
    EXPECT_EQ(written, accepted);
}

TEST(ConsoleSelfExtractor, ProtectedNamesAskForTheArchivePasswordFirst) {
    ScratchFolder scratch;
    fs::path sfx = MakeSfx(scratch, {"-p", "hunter22", "--encrypt-names"});
    RunResult wrong = RunOnTerminal(sfx.string(), {}, {{"Password", "wrongpass"}, {"next", "n"}});
    EXPECT_NE(wrong.out.find("This archive is protected"), std::string::npos) << wrong.out;
    EXPECT_NE(wrong.out.find("Error opening file"), std::string::npos);
    EXPECT_EQ(wrong.exitCode, 1);
}

}  // namespace
}  // namespace tooltest
