// The Linux self-extractor (the console stub with an archive appended by "vorn pack --sfx") run
// on a pseudo-terminal with answers typed at its prompts, and without a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "entry_name_cases.h"
#include "format/sfx_settings.h"
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
    // The passwords these cases try are those of the first scheme, Blowfish.
    for (const std::string& arg : extraArgs) {
        if (arg == "-p" || arg == "--password" || arg == "--password-file") {
            args.insert(args.end(), {"--cipher", "blowfish"});
            break;
        }
    }
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
    EXPECT_EQ(wrong.exitCode, 2) << "an archive that does not open";
}

// The exit code says how the run went, as the usage, the README and the manual say: 0 all
// extracted, 1 when the walk stops short (a name table cut short by 5 bytes opens, and its walk
// ends at the entry it cannot read), 2 when the archive does not open (the stub alone).
TEST(ConsoleSelfExtractor, ExitCodesSayHowTheRunWent) {
    ScratchFolder scratch;
    fs::path whole = MakeSfx(scratch, {});
    const struct {
        const char* name;
        uintmax_t cut;  // bytes cut off the end; -1: the stub without an archive
        const char* said;
        int exitCode;
    } cases[] = {
        {"whole.run", 0, "completed: 2 of 2", 0},
        {"cut.run", 5, "Archive Enum Error: Not found", 1},
        {"bare.run", static_cast<uintmax_t>(-1), "Error opening file", 2},
    };
    for (const auto& c : cases) {
        fs::path file = scratch / "run" / c.name;
        if (file != whole)
            fs::copy_file(c.cut == static_cast<uintmax_t>(-1) ? fs::path(kStub) : whole, file);
        if (c.cut != 0 && c.cut != static_cast<uintmax_t>(-1)) {
            fs::resize_file(file, fs::file_size(file) - c.cut);
        }
        RunResult run = RunProgram(file.string(), {"--target", (scratch / c.name).string()});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << c.name << run.out;
    }
}

// A name can neither fake a line of its own nor drive the terminal: the files are written with
// their names as stored, and every line shows those names escaped.
TEST(ConsoleSelfExtractor, ControlBytesInNamesAreShownEscaped) {
    ScratchFolder scratch;
    const std::string names[] = {"a\nextracted fake ok", "\x1b[2Jb",
                                 "c\xc2\x9b"
                                 "2J"};
    for (const std::string& name : names) WriteFile(scratch / "src" / name, "x");
    fs::path sfx = MakeSfx(scratch, {});
    RunResult run = RunProgram(sfx.string(), {"--target", (scratch / "out").string()});
    RunResult list = RunProgram(sfx.string(), {"--list"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const std::string& name : names) {
        EXPECT_TRUE(fs::exists(scratch / "out" / "src" / name)) << "stored as it was";
    }
    for (const std::string& out : {run.out, list.out}) {
        EXPECT_EQ(out.find("\nextracted fake ok"), std::string::npos) << out;
        EXPECT_EQ(out.find('\x1b'), std::string::npos);
        EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos);
        EXPECT_NE(out.find("a\\x0Aextracted fake ok"), std::string::npos) << out;
        EXPECT_NE(out.find("\\x1B[2Jb"), std::string::npos);
        EXPECT_NE(out.find("c\\xC2\\x9B2J"), std::string::npos);
    }
}

// ---- Options, and the program run after extraction

// A setup script that writes a marker with its folder and arguments and ends with code 7.
const char kSetupScript[] = "echo \"$(pwd)|$*\" > \"$(dirname \"$0\")/../ran.txt\"\nexit 7\n";

fs::path MakeInstaller(const ScratchFolder& scratch, const std::vector<std::string>& extraArgs,
                       const std::string& script = kSetupScript) {
    WriteFile(scratch / "src" / "bin" / "setup.sh", script);
    return MakeSfx(scratch, extraArgs);
}

// The folders a run left in its temporary folder.
std::vector<std::string> LeftIn(const fs::path& tmp) {
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(tmp)) left.push_back(e.path().filename().string());
    return left;
}

// Each test gets its own temporary folder, which the program under test inherits.
class ConsoleInstaller : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(scratch / "tmp");
        const char* saved = std::getenv("TMPDIR");
        if (saved != nullptr) savedTmp_ = saved;
        setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (savedTmp_.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", savedTmp_.c_str(), 1);
        }
    }
    ScratchFolder scratch;

  private:
    std::string savedTmp_;
};

TEST_F(ConsoleInstaller, HelpAndRefusedOptionsExtractNothing) {
    fs::path sfx = MakeSfx(scratch, {});
    RunResult help = RunProgram(sfx.string(), {"--help"}, (scratch / "run").string());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--password-file FILE"), std::string::npos) << help.out;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--hlep"},
                                               {"-h"},
                                               {"target"},
                                               {"--target"},
                                               {"--quiet=1"},
                                               {"--list", "--info"},
                                               {"--overwrite", "--skip-existing"}}) {
        RunResult bad = RunProgram(sfx.string(), args, (scratch / "run").string());
        EXPECT_EQ(bad.exitCode, 2) << args[0];
        EXPECT_NE(bad.err.find("Usage:"), std::string::npos) << bad.err;
    }
    EXPECT_EQ(LeftIn(scratch / "run"), std::vector<std::string>{"setup.run"})
        << "nothing extracted";
}

TEST_F(ConsoleInstaller, InfoListAndCheckLookWithoutExtracting) {
    fs::path sfx = MakeInstaller(scratch, {"--comment", "Sample", "--run", "src/bin/setup.sh --x",
                                           "--sfx-overwrite", "always"});
    RunResult info = RunProgram(sfx.string(), {"--info"}, (scratch / "run").string());
    EXPECT_EQ(info.exitCode, 0);
    for (const char* shown : {"Sample", "Entries: 3", "Runs after extraction: src/bin/setup.sh --x",
                              "Temporary folder: no", "Existing files: always",
                              "Default folder: the folder this program is in"}) {
        EXPECT_NE(info.out.find(shown), std::string::npos) << shown << "\n" << info.out;
    }
    RunResult list = RunProgram(sfx.string(), {"--list"}, (scratch / "run").string());
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.out.find("40000  src/nested/deeper/data.bin"), std::string::npos) << list.out;
    RunResult check = RunProgram(sfx.string(), {"--check"}, (scratch / "run").string());
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("ok      src/top.txt"), std::string::npos) << check.out;
    EXPECT_EQ(LeftIn(scratch / "run"), std::vector<std::string>{"setup.run"});

    ScratchFolder locked;
    fs::path protectedSfx = MakeSfx(locked, {"-p", "hunter22"});
    RunResult unchecked = RunProgram(protectedSfx.string(), {"--check"});
    EXPECT_EQ(unchecked.exitCode, 1) << "entries need the password";
    WriteFile(locked / "pw", "hunter22\n");
    RunResult checked =
        RunProgram(protectedSfx.string(), {"--check", "--password-file", (locked / "pw").string()});
    EXPECT_EQ(checked.exitCode, 0) << checked.out;
}

TEST_F(ConsoleInstaller, QuietExtractsIntoTheTargetAndFollowsTheOverwriteOptions) {
    fs::path sfx = MakeSfx(scratch, {});
    fs::path target = scratch / "target";
    RunResult first = RunProgram(sfx.string(), {"--quiet", "--target", target.string()});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_TRUE(TreeContents(target / "src") == TreeContents(scratch / "src"));

    const struct {
        std::vector<std::string> extra;
        int exitCode;
        const char* content;
    } cases[] = {
        {{}, 1, "mine"},  // kept, and nobody said to keep it
        {{"--skip-existing"}, 0, "mine"},
        {{"--overwrite"}, 0, "top level\n"},
    };
    for (const auto& c : cases) {
        WriteFile(target / "src" / "top.txt", "mine");
        std::vector<std::string> args = {"--quiet", "--target=" + target.string()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        RunResult run = RunProgram(sfx.string(), args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_EQ(ReadFile(target / "src" / "top.txt"), c.content);
    }
}

// A packed licence: shown (through $PAGER on a terminal) and asked [y/N]; without a terminal to
// ask it is declined; --quiet needs --accept. Declined, nothing is extracted and the exit code is
// 2. --quiet --progress draws its one updating line on a terminal only.
TEST_F(ConsoleInstaller, LicenceIsAskedOrAcceptedAndProgressIsOneLineOnATerminal) {
    WriteFile(scratch / "licence.txt", "Sample licence: use it well.\n");
    fs::path sfx = MakeSfx(scratch, {"--license", (scratch / "licence.txt").string()});
    setenv("PAGER", "cat", 1);
    const std::string target = (scratch / "out").string();
    const struct {
        std::vector<std::string> args;
        bool terminal;
        std::vector<PtyStep> steps;
        int exitCode;
        bool shown;  // the licence text is shown
        bool bar;    // a progress line is drawn
    } cases[] = {
        {{"--target", target}, true, {{"[y/N]", "n"}}, 2, true, false},
        {{"--target", target},
         true,
         {{"[y/N]", "y"}, {"Overwrite files", "n"}, {"create now?", "y"}, {"Exit?", "y"}},
         0,
         true,
         true},
        {{"--target", target}, false, {}, 2, true, false},
        {{"--quiet", "--target", target}, false, {}, 2, false, false},
        {{"--quiet", "--accept", "--target", target}, false, {}, 0, false, false},
        {{"--quiet", "--accept", "--progress", "--target", target}, false, {}, 0, false, false},
        {{"--quiet", "--accept", "--progress", "--target", target}, true, {}, 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + (c.terminal ? " on a terminal" : ""));
        fs::remove_all(scratch / "out");
        RunResult run = c.terminal ? RunOnTerminal(sfx.string(), c.args, c.steps)
                                   : RunProgram(sfx.string(), c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_EQ(run.out.find("use it well") != std::string::npos, c.shown) << run.out;
        EXPECT_EQ(run.out.find("%  (") != std::string::npos, c.bar) << run.out;
        EXPECT_EQ(fs::exists(scratch / "out" / "src" / "top.txt"), c.exitCode == 0);
        EXPECT_FALSE(fs::exists(scratch / "out" / "$license$"));
        if (c.exitCode == 2 && !c.terminal && c.args[0] == "--quiet") {
            EXPECT_NE(run.err.find("give --accept"), std::string::npos) << run.err;
        }
    }
    unsetenv("PAGER");
}

TEST_F(ConsoleInstaller, PasswordFileRightExtractsWrongWritesNothing) {
    fs::path sfx = MakeSfx(scratch, {"-p", "hunter22"});
    WriteFile(scratch / "right", "hunter22\n");
    WriteFile(scratch / "wrong", "hunter23\n");
    fs::path target = scratch / "target";
    RunResult wrong = RunProgram(sfx.string(), {"--quiet", "--target", target.string(),
                                                "--password-file", (scratch / "wrong").string()});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_FALSE(fs::exists(target)) << "nothing written";
    RunResult missing = RunProgram(sfx.string(), {"--quiet", "--target", target.string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_FALSE(fs::exists(target));
    RunResult right = RunProgram(sfx.string(), {"--quiet", "--target", target.string(),
                                                "--password-file", (scratch / "right").string()});
    EXPECT_EQ(right.exitCode, 0) << right.err;
    EXPECT_TRUE(TreeContents(target / "src") == TreeContents(scratch / "src"));
    RunResult unreadable = RunProgram(sfx.string(), {"--quiet", "--password-file", "/nonexistent"});
    EXPECT_EQ(unreadable.exitCode, 2);
}

TEST_F(ConsoleInstaller, PasswordFilesThatGiveNoPasswordStopTheRunBeforeAnything) {
    fs::path sfx = MakeSfx(scratch, {"-p", "hunter22"});
    WriteFile(scratch / "empty", "");
    WriteFile(scratch / "huge", std::string(1 << 20, 'h'));
    const struct {
        const char* file;
        const char* why;
    } cases[] = {{"missing", "cannot read the password file"},
                 {"empty", "its first line is empty"},
                 {"huge", "longer than 259 bytes"}};
    for (const auto& c : cases) {
        fs::path target = scratch / (std::string("target-") + c.file);
        RunResult run = RunProgram(sfx.string(), {"--quiet", "--target", target.string(),
                                                  "--password-file", (scratch / c.file).string()});
        EXPECT_EQ(run.exitCode, 2) << c.file;
        EXPECT_NE(run.err.find(c.why), std::string::npos) << c.file << ": " << run.err;
        EXPECT_FALSE(fs::exists(target)) << c.file;
    }
}

TEST_F(ConsoleInstaller, MisspeltOptionIsNamedWithoutItsValue) {
    fs::path sfx = MakeSfx(scratch, {});
    for (const char* word : {"--password=hunter22", "--passwrod=hunter22", "--quiet=hunter22"}) {
        RunResult run = RunProgram(sfx.string(), {word});
        EXPECT_EQ(run.exitCode, 2) << word;
        EXPECT_EQ(run.out.find("hunter22") + run.err.find("hunter22"), 2 * std::string::npos)
            << run.err;
        std::string named = std::string(word).substr(0, std::string(word).find('=')) + "... ";
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
    // Control: a word with nothing to hide is named whole.
    RunResult plain = RunProgram(sfx.string(), {"--hlep"});
    EXPECT_NE(plain.err.find("--hlep is not an option"), std::string::npos) << plain.err;
}

TEST_F(ConsoleInstaller, ProgramRunsInTheFolderWithItsArgumentsAndGivesItsExitCode) {
    fs::path sfx = MakeInstaller(scratch, {"--run", "src/bin/setup.sh \"two words\" --flag"});
    fs::path target = scratch / "target";
    RunResult run =
        RunProgram(sfx.string(), {"--quiet", "--target", target.string(), "--", "extra", "--help"});
    EXPECT_EQ(run.exitCode, 7) << run.out << run.err;
    EXPECT_EQ(ReadFile(target / "src" / "ran.txt"), (target / "src" / "bin").string().substr(0, 0) +
                                                        target.string() +
                                                        "|two words --flag extra --help\n");

    fs::remove(target / "src" / "ran.txt");
    RunResult noexec = RunProgram(
        sfx.string(), {"--quiet", "--overwrite", "--noexec", "--target", target.string()});
    EXPECT_EQ(noexec.exitCode, 0);
    EXPECT_FALSE(fs::exists(target / "src" / "ran.txt"));

    // Without a terminal and without --quiet the program still runs, and its code is the exit code.
    RunResult plain = RunProgram(sfx.string(), {"--overwrite", "--target", target.string()});
    EXPECT_EQ(plain.exitCode, 7) << plain.out << plain.err;
    EXPECT_TRUE(fs::exists(target / "src" / "ran.txt"));
}

// Settings changed after packing (here the program line, pointed at another script of the
// archive): a sealed archive's digest of them refuses the run; under the first scheme, which
// keeps no digest, the changed line runs.
TEST_F(ConsoleInstaller, ChangedSettingsOfASealedSelfExtractorRunNothing) {
    WriteFile(scratch / "src" / "bin" / "setup.sh", "exit 0\n");
    WriteFile(scratch / "src" / "bin" / "other.sh", "echo pwned > \"$(dirname \"$0\")/pwned\"\n");
    WriteFile(scratch / "pw", "hunter22\n");
    for (const char* cipher : {"blowfish", "chacha20"}) {
        fs::path sfx = scratch / cipher / "setup.run";
        fs::create_directories(sfx.parent_path());
        RunResult pack = RunProgram(
            kVorn, {"pack", "-q", "--sfx-stub", kStub, "-p", "hunter22", "--cipher", cipher,
                    "--run", "src/bin/setup.sh", sfx.string(), (scratch / "src").string()});
        ASSERT_EQ(pack.exitCode, 0) << pack.err;
        std::string image = ReadFile(sfx);
        const std::string marker = std::string(VORN_SFX_SETTINGS_MARKER) + '\0';
        const size_t line = image.find("src/bin/setup.sh", image.find(marker));
        ASSERT_NE(line, std::string::npos);
        image.replace(line + 8, 5, "other");
        WriteFile(sfx, image);
        fs::permissions(sfx, fs::perms::owner_all);
        fs::path target = scratch / cipher / "out";
        RunResult run = RunProgram(sfx.string(), {"--quiet", "--target", target.string(),
                                                  "--password-file", (scratch / "pw").string()});
        const bool sealed = std::string(cipher) == "chacha20";
        EXPECT_EQ(run.exitCode, sealed ? 2 : 0) << cipher << run.err;
        EXPECT_EQ(fs::exists(target / "src" / "bin" / "pwned"), !sealed) << cipher;
        EXPECT_EQ(fs::exists(target), !sealed) << cipher << ": nothing extracted";
    }
}

TEST_F(ConsoleInstaller, ScriptWithoutShebangRunsWithTheShellAndAFailedEntryRunsNothing) {
    fs::path sfx = MakeInstaller(scratch, {"--run", "src/bin/setup.sh"}, "exit 3\n");
    RunResult run = RunProgram(sfx.string(), {"--quiet", "--target", (scratch / "t").string()});
    EXPECT_EQ(run.exitCode, 3) << run.err;

    WriteFile(scratch / "t" / "src" / "top.txt", "mine");  // kept: counted as not extracted
    RunResult failed = RunProgram(sfx.string(), {"--quiet", "--target", (scratch / "t").string()});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("so the program is not started"), std::string::npos) << failed.err;
}

TEST_F(ConsoleInstaller, TemporaryFolderIsUsedThenRemovedOnSuccessAndFailure) {
    fs::path sfx = MakeInstaller(scratch, {"--run", "src/bin/setup.sh", "--temporary"},
                                 "pwd > \"$TMPDIR/../where\"\nexit ${CODE:-0}\n");
    RunResult ok = RunProgram(sfx.string(), {"--quiet"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    std::string where = ReadFile(scratch / "where");
    EXPECT_EQ(where.rfind((scratch / "tmp" / "vorn-").string(), 0), 0u) << where;
    EXPECT_TRUE(LeftIn(scratch / "tmp").empty());

    setenv("CODE", "5", 1);
    RunResult failing = RunProgram(sfx.string(), {"--quiet"});
    unsetenv("CODE");
    EXPECT_EQ(failing.exitCode, 5);
    EXPECT_TRUE(LeftIn(scratch / "tmp").empty()) << "removed when the program fails too";

    RunResult kept = RunProgram(sfx.string(), {"--quiet", "--keep"});
    EXPECT_EQ(kept.exitCode, 0);
    EXPECT_EQ(LeftIn(scratch / "tmp").size(), 1u) << "--keep";
}

// A bootstrapper: it leaves a job behind that writes into the folder two seconds later. The
// self-extractor returns only after that job, with the program's own exit code, and removes the
// folder afterwards; had it not waited, the folder would be gone before the write.
TEST_F(ConsoleInstaller, TemporaryFolderOutlivesEveryProcessTheProgramStarted) {
    fs::path sfx = MakeInstaller(
        scratch, {"--run", "src/bin/setup.sh", "--temporary"},
        "(sleep 2; echo late > late.txt && pwd > \"$TMPDIR/../written\") >/dev/null 2>&1 &\n"
        "exit 4\n");
    auto start = std::chrono::steady_clock::now();
    RunResult run = RunProgram(sfx.string(), {"--quiet"});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_GE(took, std::chrono::seconds(2));
    ASSERT_TRUE(fs::exists(scratch / "written")) << "the late job did not write into the folder";
    EXPECT_EQ(ReadFile(scratch / "written").rfind((scratch / "tmp" / "vorn-").string(), 0), 0u);
    EXPECT_TRUE(LeftIn(scratch / "tmp").empty()) << "removed after the job";
}

// Started in a process group of its own; SIGINT goes to the group once the file appears.
int RunAndInterrupt(const fs::path& program, const std::vector<std::string>& args,
                    const fs::path& waitFor) {
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(126);
    }
    setpgid(child, child);
    for (int i = 0; i < 1000 && !fs::exists(waitFor); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(ConsoleInstaller, TemporaryFolderIsRemovedOnInterrupt) {
    fs::path sfx = MakeInstaller(scratch, {"--run", "src/bin/setup.sh", "--temporary"},
                                 "touch \"$TMPDIR/../started\"\nsleep 20\n");
    int code = RunAndInterrupt(sfx, {"--quiet"}, scratch / "started");
    EXPECT_TRUE(fs::exists(scratch / "started"));
    EXPECT_NE(code, 0);
    EXPECT_TRUE(LeftIn(scratch / "tmp").empty());
}

TEST_F(ConsoleInstaller, InterruptDuringExtractionRemovesTheTemporaryFolderAndExitsTwo) {
    // Enough data that the extraction is still running when the signal comes.
    WriteFile(scratch / "src" / "big.bin", SampleBytes(96u << 20, 9));
    fs::path sfx = MakeInstaller(scratch, {"--run", "src/bin/setup.sh", "--temporary", "--store"});
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(sfx.c_str(), sfx.c_str(), "--quiet", static_cast<char*>(nullptr));
        _exit(126);
    }
    // Interrupted as soon as its temporary folder holds something.
    for (int i = 0; i < 2000; ++i) {
        bool started = false;
        for (const auto& e : fs::recursive_directory_iterator(scratch / "tmp")) {
            started = started || e.is_regular_file();
        }
        if (started) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_FALSE(fs::exists(scratch / "src" / "ran.txt"));
    EXPECT_TRUE(LeftIn(scratch / "tmp").empty());
}

// ---- A hostile destination and failing entries: links planted where entries go are never
// followed, and a file that stood at an entry's path keeps its bytes unless the entry is intact.
// Each link case first shows that a plain write through the link reaches outside.

struct SfxLinkCase {
    const char* what;
    const char* linkAt;      // below the target; the packed entries are src/top.txt and more
    const char* linkTarget;  // below the outside folder
    bool targetIsFile;       // a file (with "outside" in it) stands at the link's target
    bool targetIsFolder;
    std::vector<std::string> options;
    int exitCode;
    bool replacedByEntry;  // the link's place holds the entry's bytes afterwards
};

TEST(ConsoleSelfExtractor, LinksInTheDestinationAreNeverFollowed) {
    const std::vector<SfxLinkCase> cases = {
        {"link to a folder outside at a folder level",
         "src",
         "dir",
         false,
         true,
         {"--overwrite"},
         1,
         false},
        {"dangling link at an entry's path",
         "src/top.txt",
         "missing.txt",
         false,
         false,
         {},
         1,
         false},
        {"dangling link, overwrite on",
         "src/top.txt",
         "missing.txt",
         false,
         false,
         {"--overwrite"},
         0,
         true},
        {"link to a file outside, overwrite on",
         "src/top.txt",
         "file.txt",
         true,
         false,
         {"--overwrite"},
         0,
         true},
    };
    for (const SfxLinkCase& c : cases) {
        ScratchFolder scratch;
        fs::path sfx = MakeSfx(scratch, {});
        fs::path outside = scratch / "outside";
        fs::path target = scratch / "target";
        fs::create_directories(outside);
        fs::create_directories(target / "src");
        fs::path linkTarget = outside / c.linkTarget;
        if (c.targetIsFolder) fs::create_directories(linkTarget);
        if (c.targetIsFile) WriteFile(linkTarget, "outside");
        fs::path placed = target / c.linkAt;
        fs::remove(placed);
        fs::create_symlink(linkTarget, placed);

        // Control: a plain write to the entry's path lands outside the target.
        fs::path landing = c.targetIsFolder ? linkTarget / "top.txt" : linkTarget;
        WriteFile(target / "src" / "top.txt", "through");
        ASSERT_EQ(ReadFile(landing), "through") << c.what;
        if (c.targetIsFile) {
            WriteFile(linkTarget, "outside");
        } else {
            fs::remove(landing);
        }

        std::vector<std::string> args = {"--quiet", "--target", target.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult run = RunProgram(sfx.string(), args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.out << run.err;
        if (c.targetIsFolder) {
            EXPECT_TRUE(fs::is_empty(linkTarget)) << c.what;
        } else if (c.targetIsFile) {
            EXPECT_EQ(ReadFile(linkTarget), "outside") << c.what;
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(linkTarget))) << c.what;
        }
        if (c.replacedByEntry) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(placed))) << c.what;
            EXPECT_EQ(ReadFile(placed), "top level\n") << c.what;
        } else {
            EXPECT_TRUE(fs::is_symlink(placed)) << c.what;
        }
        EXPECT_EQ(PartFilesIn(target), 0u) << c.what;
    }
}

struct SfxFailingEntryCase {
    const char* what;
    const char* packPassword;  // null: not enciphered
    std::vector<std::string> options;
    bool damageData;  // a byte in the middle of the packed data flipped
    int exitCode;
};

TEST(ConsoleSelfExtractor, AnExistingFileKeepsItsBytesUnlessTheEntryIsIntact) {
    const std::vector<SfxFailingEntryCase> cases = {
        {"intact entry (control)", nullptr, {}, false, 0},
        {"wrong password", "hunter22", {"--password-file", "wrong"}, false, 2},
        {"no password", "hunter22", {}, false, 2},
        {"corrupt block", nullptr, {}, true, 1},
    };
    for (const SfxFailingEntryCase& c : cases) {
        ScratchFolder scratch;
        const std::string data = SampleBytes(1u << 20, 7);
        WriteFile(scratch / "one" / "file.bin", data);
        WriteFile(scratch / "wrong", "hunter23\n");
        fs::path sfx = scratch / "setup.run";
        std::vector<std::string> pack = {"pack", "-q", "--sfx-stub", kStub};
        if (c.packPassword) pack.insert(pack.end(), {"-p", c.packPassword, "--cipher", "blowfish"});
        pack.insert(pack.end(), {sfx.string(), (scratch / "one").string()});
        ASSERT_EQ(RunProgram(kVorn, pack).exitCode, 0) << c.what;
        if (c.damageData) {
            std::string image = ReadFile(sfx);
            size_t stub = fs::file_size(kStub);
            image[stub + (image.size() - stub) / 2] ^= 0x5A;
            WriteFile(sfx, image);
        }
        fs::path target = scratch / "target";
        WriteFile(target / "one" / "file.bin", "the user's own file");

        std::vector<std::string> args = {"--quiet", "--overwrite", "--target", target.string()};
        for (const std::string& option : c.options) {
            args.push_back(option == "wrong" ? (scratch / "wrong").string() : option);
        }
        RunResult run = RunProgram(sfx.string(), args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.out << run.err;
        if (c.exitCode == 0) {
            EXPECT_TRUE(ReadFile(target / "one" / "file.bin") == data) << c.what;
        } else {
            EXPECT_EQ(ReadFile(target / "one" / "file.bin"), "the user's own file") << c.what;
        }
        EXPECT_EQ(PartFilesIn(target), 0u) << c.what;
    }
}

}  // namespace
}  // namespace tooltest

namespace tooltest {
namespace {

// ---- Deployment: the log, known folders, the archive beside the program

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

TEST_F(ConsoleInstaller, LogHoldsEveryEntryAndDecisionStampedAndNeverThePassword) {
    fs::path sfx =
        MakeInstaller(scratch, {"--run", "src/bin/setup.sh", "--temporary", "-p", "hunter22"});
    WriteFile(scratch / "pw", "hunter22\n");
    fs::path log = scratch / "run.log";
    for (int run = 0; run < 2; ++run) {
        RunResult ok = RunProgram(sfx.string(), {"--quiet", "--password-file",
                                                 (scratch / "pw").string(), "--log", log.string()});
        EXPECT_EQ(ok.exitCode, 7) << ok.err;  // the program's own
    }
    const std::string text = ReadFile(log);
    EXPECT_EQ(text.find("hunter22"), std::string::npos) << text;
    const std::vector<std::string> lines = LinesOf(text);
    size_t starts = 0;
    for (const std::string& line : lines) {
        // "2026-12-10T00:05:00Z ": the shape of an ISO 8601 UTC stamp.
        ASSERT_GT(line.size(), 21u) << line;
        EXPECT_TRUE(line[4] == '-' && line[10] == 'T' && line[19] == 'Z' && line[20] == ' ')
            << line;
        starts += line.compare(21, 8, "started:") == 0;
    }
    EXPECT_EQ(starts, 2u) << "appended, not replaced:\n" << text;
    for (const char* expected : {"temporary folder made:", "extracted src\\top.txt",
                                 "program started:", "the program ended with exit code 7",
                                 "temporary folder removed:", "finished with exit code 7"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
}

TEST_F(ConsoleInstaller, LogThatCannotBeOpenedStopsTheRunBeforeAnything) {
    fs::path sfx = MakeSfx(scratch, {});
    fs::path target = scratch / "t";
    fs::create_directories(scratch / "a folder");
    WriteFile(scratch / "read-only.log", "old\n");
    fs::permissions(scratch / "read-only.log", fs::perms::owner_read);
    std::vector<fs::path> logs = {scratch / "missing" / "run.log", scratch / "a folder"};
    // Permissions do not hold back the superuser, who can append to a read-only file.
    if (geteuid() != 0) logs.push_back(scratch / "read-only.log");
    for (const fs::path& log : logs) {
        RunResult run = RunProgram(sfx.string(),
                                   {"--quiet", "--target", target.string(), "--log", log.string()});
        EXPECT_EQ(run.exitCode, 2) << log;
        EXPECT_NE(run.err.find("the log file cannot be opened"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(target)) << log;
    }
}

TEST_F(ConsoleInstaller, KnownFoldersResolveAtStartAndListingsShowThemAsPacked) {
    const std::string home = (scratch / "home").string();
    const char* savedHome = std::getenv("HOME");
    const std::string restore = savedHome ? savedHome : "";
    setenv("HOME", home.c_str(), 1);
    const fs::path share = scratch / "home" / ".local" / "share" / "app";
    const struct {
        const char* packed;
        std::optional<std::string> xdg;  // none: unset
        fs::path lands;
    } cases[] = {
        {"~/app", std::nullopt, scratch / "home" / "app"},
        {"$HOME/app", std::nullopt, scratch / "home" / "app"},
        {"$XDG_DATA_HOME/app", std::nullopt, share},
        {"$XDG_DATA_HOME/app", "relative/is/ignored", share},
        {"$XDG_DATA_HOME/app", (scratch / "data").string(), scratch / "data" / "app"},
    };
    for (const auto& c : cases) {
        if (c.xdg) {
            setenv("XDG_DATA_HOME", c.xdg->c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
        fs::path sfx = MakeSfx(scratch, {"--default-dir", c.packed});
        RunResult info = RunProgram(sfx.string(), {"--info"});
        EXPECT_NE(info.out.find(std::string("Default folder: ") + c.packed), std::string::npos)
            << info.out;
        RunResult run = RunProgram(sfx.string(), {"--quiet"});
        EXPECT_EQ(run.exitCode, 0) << c.packed << run.err;
        EXPECT_EQ(ReadFile(c.lands / "src" / "top.txt"), "top level\n") << c.packed;
        fs::remove_all(c.lands);
    }
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    fs::path sfx = MakeSfx(scratch, {"--default-dir", "~/app"});
    RunResult homeless = RunProgram(sfx.string(), {"--quiet"});
    EXPECT_EQ(homeless.exitCode, 2);
    EXPECT_NE(homeless.err.find("this system does not have"), std::string::npos) << homeless.err;
    setenv("HOME", restore.c_str(), 1);
}

TEST_F(ConsoleInstaller, ArchiveBesideIsExtractedAndRefusedWhenItDiffersAtAll) {
    WriteFile(scratch / "src" / "top.txt", "top level\n");
    fs::path sfx = scratch / "run" / "setup.run", archive = scratch / "run" / "setup.vorn";
    fs::create_directories(sfx.parent_path());
    RunResult pack = RunProgram(kVorn, {"pack", "-q", "--sfx-stub", kStub, "--payload-beside",
                                        sfx.string(), (scratch / "src").string()});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    const std::string intact = ReadFile(archive);
    RunResult listed = RunProgram(kVorn, {"list", sfx.string()});
    EXPECT_EQ(listed.exitCode, 2);
    EXPECT_NE(listed.err.find("kept beside it, in setup.vorn"), std::string::npos) << listed.err;
    std::string changed = intact;
    changed[changed.size() / 2] ^= 1;
    const struct {
        std::optional<std::string> bytes;  // none: missing
        int exitCode;
        const char* says;
    } cases[] = {
        {intact, 0, "Checking the archive beside the program"},
        {std::nullopt, 2, "cannot be read"},
        {intact.substr(0, intact.size() - 1), 2, "has not the size"},
        {intact + "x", 2, "has not the size"},
        {changed, 2, "has been changed"},
    };
    for (const auto& c : cases) {
        fs::remove(archive);
        if (c.bytes) WriteFile(archive, *c.bytes);
        fs::path target = scratch / "t";
        RunResult run = RunProgram(sfx.string(), {"--quiet", "--target", target.string()});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.says << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        EXPECT_EQ(fs::exists(target / "src" / "top.txt"), c.exitCode == 0) << c.says;
        RunResult list = RunProgram(sfx.string(), {"--list"});
        EXPECT_EQ(list.exitCode == 0, c.exitCode == 0) << c.says;
        fs::remove_all(target);
    }
}

TEST(ConsolePacking, UnknownFoldersAndMisplacedOptionsAreRefused) {
    ScratchFolder scratch;
    WriteFile(scratch / "src" / "a.txt", "a");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--sfx-stub", kStub, "--default-dir", "$HOMEDIR/x"}, "followed by a separator"},
        {{"--sfx-stub", kStub, "--default-dir", "$DATA/x"}, "known are ~, $HOME"},
        {{"--sfx-stub", kStub, "--default-dir", "%AppData%/x"}, "of a Linux self-extractor"},
        {{"--payload-beside"}, "--payload-beside is for self-extractors"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"pack", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back((scratch / "out.run").string());
        args.push_back((scratch / "src").string());
        RunResult pack = RunProgram(kVorn, args);
        EXPECT_EQ(pack.exitCode, 2) << c.says;
        EXPECT_NE(pack.err.find(c.says), std::string::npos) << pack.err;
        EXPECT_FALSE(fs::exists(scratch / "out.run")) << c.says;
    }
    RunResult named =
        RunProgram(kVorn, {"pack", "-q", "--sfx-stub", kStub, "--payload-beside",
                           (scratch / "out.vorn").string(), (scratch / "src").string()});
    EXPECT_EQ(named.exitCode, 2);
    EXPECT_NE(named.err.find("already ends in .vorn"), std::string::npos) << named.err;
}

}  // namespace
}  // namespace tooltest
