// The vorn tool driven as a user drives it: real files in scratch folders, the built binary run
// with arguments, its exit code, output and the files it leaves checked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "entry_name_cases.h"
#include "format/failed_check.h"
#include "process_support.h"
#include "test_archive.h"

namespace tooltest {
namespace {

const std::string kVorn = VORN_TOOL_PATH;

RunResult Vorn(const std::vector<std::string>& args, const std::string& cwd = ".") {
    return RunProgram(kVorn, args, cwd);
}

// A folder of files in nested folders, with one read-only file and an old modification time.
fs::path MakeSampleTree(const ScratchFolder& scratch) {
    fs::path root = scratch / "tree";
    WriteFile(root / "readme.txt", "A small archive for the tests.\n");
    WriteFile(root / "docs" / "guide.txt", SampleBytes(70000, 1));
    WriteFile(root / "docs" / "deep" / "notes.bin", SampleBytes(5000, 2));
    WriteFile(root / "empty.dat", "");
    WriteFile(root / "locked.txt", "read only\n");
    fs::permissions(root / "locked.txt",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(root / "docs" / "guide.txt", old);
    return root;
}

TEST(ToolCommandLine, HelpVersionAndUsageErrorsHaveTheirExitCodes) {
    RunResult help = Vorn({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("extract"), std::string::npos);
    RunResult commandHelp = Vorn({"extract", "--help"});
    EXPECT_EQ(commandHelp.exitCode, 0);
    EXPECT_NE(commandHelp.out.find("--overwrite"), std::string::npos);
    RunResult version = Vorn({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("vorn ", 0), 0u);
    EXPECT_EQ(Vorn({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Vorn({"list"}).exitCode, 2);
    EXPECT_EQ(Vorn({"x", "a.vorn", "--no-such-option"}).exitCode, 2);
    EXPECT_EQ(Vorn({"list", "/nonexistent/archive.vorn"}).exitCode, 2);
    // The short forms the usage names: "help" and -V.
    RunResult helpWord = Vorn({"help"});
    EXPECT_EQ(helpWord.exitCode, 0);
    EXPECT_EQ(helpWord.out, help.out);
    EXPECT_NE(help.out.find("--version (or -V)"), std::string::npos) << help.out;
    EXPECT_EQ(Vorn({"-V"}).out, version.out);
    // A listing has nothing to leave out: list refuses -q rather than ignore it.
    RunResult quietList = Vorn({"list", "-q", "/nonexistent/archive.vorn"});
    EXPECT_EQ(quietList.exitCode, 2);
    EXPECT_NE(quietList.err.find("unknown option -q"), std::string::npos) << quietList.err;
}

TEST(ToolRoundTrip, PackThenListShowsEveryFileWithBackslashNamesAndTheComment) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "sample.vorn";
    RunResult pack =
        Vorn({"pack", "-q", archive.string(), tree.string(), "--comment", "Comment line one"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    RunResult list = Vorn({"list", archive.string()});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("tree\\docs\\deep\\notes.bin"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("tree\\readme.txt"), std::string::npos);
    EXPECT_NE(list.out.find("R..A"), std::string::npos) << "read-only bit not kept";
    EXPECT_NE(list.out.find("5 files"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Comment line one"), std::string::npos);
    EXPECT_EQ(list.out.find("$comments$"), std::string::npos) << "the comment is not a file";

    RunResult json = Vorn({"l", "--json", archive.string()});
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_NE(json.out.find("\"name\": \"tree\\\\docs\\\\guide.txt\", \"size\": 70000"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"comment\": \"Comment line one\""), std::string::npos);
}

#ifndef _WIN32
// A link to a file is stored as a file under the link's own name, whether what it leads to lies
// beside it in the tree or outside it; a link to a folder is left out.
TEST(ToolRoundTrip, LinksToFilesAreStoredUnderTheirOwnNames) {
    ScratchFolder scratch;
    fs::path tree = scratch / "tree";
    WriteFile(tree / "b" / "real.txt", "inside\n");
    WriteFile(scratch / "outside.txt", "outside\n");
    fs::create_directories(tree / "a");
    fs::create_symlink("../b/real.txt", tree / "a" / "beside.txt");
    fs::create_symlink(scratch / "outside.txt", tree / "a" / "away.txt");
    fs::create_directory_symlink("../b", tree / "folder");
    fs::path archive = scratch / "links.vorn";
    RunResult pack = Vorn({"pack", "-q", archive.string(), "."}, tree.string());
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    RunResult extract = Vorn({"extract", "-q", "-o", (scratch / "out").string(), archive.string()});
    ASSERT_EQ(extract.exitCode, 0) << extract.err;
    EXPECT_EQ(ReadFile(scratch / "out" / "a" / "beside.txt"), "inside\n");
    EXPECT_EQ(ReadFile(scratch / "out" / "a" / "away.txt"), "outside\n");
    EXPECT_EQ(ReadFile(scratch / "out" / "b" / "real.txt"), "inside\n");
    EXPECT_FALSE(fs::exists(scratch / "out" / "folder"));
}
#endif

TEST(ToolRoundTrip, ExtractGivesBackTheBytesTimesAndReadOnlyBit) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "sample.vorn";
    ASSERT_EQ(Vorn({"a", "-q", archive.string(), tree.string()}).exitCode, 0);
    ASSERT_EQ(Vorn({"t", "-q", archive.string()}).exitCode, 0);
    RunResult extract = Vorn({"x", "-q", archive.string(), "-o", (scratch / "out").string()});
    ASSERT_EQ(extract.exitCode, 0) << extract.err;
    EXPECT_EQ(TreeContents(scratch / "out" / "tree"), TreeContents(tree));
    auto original = fs::last_write_time(tree / "docs" / "guide.txt");
    auto restored = fs::last_write_time(scratch / "out" / "tree" / "docs" / "guide.txt");
    EXPECT_LT(std::chrono::abs(original - restored), std::chrono::seconds(1));
    auto perms = fs::status(scratch / "out" / "tree" / "locked.txt").permissions();
    EXPECT_EQ(perms & fs::perms::owner_write, fs::perms::none);
    auto writable = fs::status(scratch / "out" / "tree" / "readme.txt").permissions();
    EXPECT_NE(writable & fs::perms::owner_write, fs::perms::none);
}

// Files are written under a temporary name and renamed when their CRC checked out.
TEST(ToolRoundTrip, ExtractedFilesGetTheUsualPermissionsAndNoTemporaryFileRemains) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "sample.vorn";
    ASSERT_EQ(Vorn({"a", "-q", "-p", "secret", "--cipher", "blowfish", "--encrypt-only",
                    "tree/docs/*", archive.string(), tree.string()})
                  .exitCode,
              0);
    const mode_t mask = umask(022);
    umask(mask);
    for (const char* jobs : {"1", "2"}) {
        fs::path out = scratch / (std::string("out") + jobs);
        // No password: the enciphered entries fail, the others are written.
        RunResult run = Vorn({"x", "-q", "-j", jobs, archive.string(), "-o", out.string()});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        struct stat st;
        ASSERT_EQ(stat((out / "tree" / "readme.txt").c_str(), &st), 0) << jobs;
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << jobs;
        EXPECT_FALSE(fs::exists(out / "tree" / "docs" / "guide.txt")) << jobs;
        for (const auto& item : fs::recursive_directory_iterator(out)) {
            EXPECT_EQ(item.path().filename().string().find(".vorn-"), std::string::npos)
                << "left behind: " << item.path();
        }
    }
}

// A folder below base whose path is exactly length bytes long, in levels of at most 100 bytes.
fs::path FolderOfLength(const fs::path& base, size_t length) {
    std::string path = base.string();
    while (path.size() < length) {
        size_t room = length - path.size() - 1;  // after the "/"
        size_t part = std::min<size_t>(room, 100);
        if (room - part == 1) --part;  // never leave room for a "/" alone
        path += '/' + std::string(part, 'd');
    }
    return path;
}

// The part file is written through its descriptor, so the library's 255-byte path limit no
// longer bounds the destination: paths around and beyond it extract, and only a path beyond the
// output layer's room (1,023 bytes) is a clear error that leaves nothing behind.
TEST(ToolRoundTrip, DeepDestinationsBeyondTheLibrarysPathLimit) {
    ScratchFolder scratch;
    WriteFile(scratch / "src" / "a.txt", "deep\n");
    fs::path archive = scratch / "a.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", archive.string(), (scratch / "src").string()}).exitCode, 0);
    ASSERT_LT(scratch.path().string().size(), 150u);

    // The folder of the entry is the given folder plus "/src", 4 bytes.
    for (size_t depth : {233u, 245u, 246u, 400u}) {
        fs::path fits = FolderOfLength(scratch / ("fits" + std::to_string(depth)), depth - 4);
        ASSERT_EQ((fits / "src").string().size(), depth);
        RunResult ok = Vorn({"x", "-q", archive.string(), "-o", fits.string()});
        EXPECT_EQ(ok.exitCode, 0) << depth << ": " << ok.err;
        EXPECT_EQ(ReadFile(fits / "src" / "a.txt"), "deep\n") << depth;
        EXPECT_EQ(std::distance(fs::directory_iterator(fits / "src"), fs::directory_iterator()), 1)
            << depth << ": the part file stayed behind";
    }

    fs::path deep = FolderOfLength(scratch / "deep", 1021);
    RunResult refused = Vorn({"x", "-q", archive.string(), "-o", deep.string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("the path is too long"), std::string::npos) << refused.err;
    EXPECT_TRUE(fs::is_empty(deep));
}

TEST(ToolRoundTrip, StoredArchivesAndSubsetsByPattern) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "stored.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", "--store", archive.string(), tree.string()}).exitCode, 0);
    RunResult extract = Vorn({"extract", "-q", archive.string(), "-o", (scratch / "out").string(),
                              "tree/docs", "*.txt"});
    ASSERT_EQ(extract.exitCode, 0) << extract.err;
    EXPECT_TRUE(fs::exists(scratch / "out" / "tree" / "docs" / "deep" / "notes.bin"));
    EXPECT_TRUE(fs::exists(scratch / "out" / "tree" / "readme.txt"));
    EXPECT_FALSE(fs::exists(scratch / "out" / "tree" / "empty.dat"));
    RunResult none = Vorn({"x", "-q", archive.string(), "-o", (scratch / "o2").string(), "nope"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("no entry matches nope"), std::string::npos);
}

TEST(ToolPasswords, EncipheredEntriesNeedTheRightPassword) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "secret.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", "--password", "opensesame", "--cipher", "blowfish",
                    archive.string(), tree.string()})
                  .exitCode,
              0);
    RunResult list = Vorn({"list", archive.string()});
    ASSERT_EQ(list.exitCode, 0) << "plain names list without a password";
    EXPECT_NE(list.out.find("...A*"), std::string::npos) << list.out;

    RunResult none = Vorn({"x", "-q", archive.string(), "-o", (scratch / "none").string()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("needs a password"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(scratch / "none" / "tree" / "readme.txt"));

    RunResult wrong = Vorn(
        {"x", "-q", "-p", "not-the-one", archive.string(), "-o", (scratch / "wrong").string()});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
    EXPECT_FALSE(fs::exists(scratch / "wrong" / "tree" / "readme.txt"))
        << "a wrongly deciphered file must not be left behind";

    RunResult wrongTest = Vorn({"test", "-p", "not-the-one", archive.string()});
    EXPECT_EQ(wrongTest.exitCode, 1);
    EXPECT_NE(wrongTest.out.find("wrong password") + wrongTest.err.find("wrong password"),
              2 * std::string::npos);

    WriteFile(scratch / "pw.txt", "opensesame\n");
    RunResult right = Vorn({"x", "-q", "--password-file", (scratch / "pw.txt").string(),
                            archive.string(), "-o", (scratch / "right").string()});
    ASSERT_EQ(right.exitCode, 0) << right.err;
    EXPECT_EQ(TreeContents(scratch / "right" / "tree"), TreeContents(tree));
}

// A password seals the archive unless --cipher blowfish asks for the first scheme, which warns;
// what would mix plain entries into a sealed archive, or seal with an empty password, is refused
// and leaves no file.
TEST(ToolPasswords, PackSealsByDefaultAndRefusesWhatASealedArchiveCannotHold) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        int exitCode;
        const char* message;  // in stderr
        uint32_t reserved;    // the written header's reserved word
    };
    const std::vector<Case> cases = {
        {"default: sealed", {"-p", "pw"}, 0, nullptr, 3},
        {"chacha20 named, names implied",
         {"-p", "pw", "--cipher", "chacha20", "--encrypt-names"},
         0,
         nullptr,
         3},
        {"blowfish warns", {"-p", "pw", "--cipher", "blowfish"}, 0, "does not resist", 0},
        {"blowfish keeps --encrypt-only",
         {"-p", "pw", "--cipher", "blowfish", "--encrypt-only", "tree/docs/*"},
         0,
         "does not resist",
         0},
        {"--encrypt-only in a sealed archive",
         {"-p", "pw", "--encrypt-only", "tree/docs/*"},
         2,
         "--cipher blowfish",
         0},
        {"empty password", {"-p", ""}, 2, "empty", 0},
        {"unknown cipher", {"-p", "pw", "--cipher", "des"}, 2, "chacha20 or blowfish", 0},
        {"cipher without password", {"--cipher", "chacha20"}, 2, "needs a password", 0},
    };
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    for (const Case& c : cases) {
        fs::path archive = scratch / "out.vorn";
        std::vector<std::string> args = {"pack", "-q"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {archive.string(), tree.string()});
        RunResult run = Vorn(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.err;
        if (c.message) {
            EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << run.err;
        }
        EXPECT_EQ(fs::exists(archive), c.exitCode == 0) << c.what;
        if (c.exitCode != 0) continue;
        const std::string bytes = ReadFile(archive);
        ASSERT_GE(bytes.size(), 24u) << c.what;
        EXPECT_EQ(static_cast<uint8_t>(bytes[20]) & 3u, c.reserved & 3u) << c.what;
        fs::remove(archive);
    }
}

TEST(ToolPasswords, EncryptOnlyEnciphersJustTheMatchingEntries) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "some.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", "-p", "opensesame", "--cipher", "blowfish", "--encrypt-only",
                    "tree/docs/*", archive.string(), tree.string()})
                  .exitCode,
              0);
    RunResult json = Vorn({"list", "--json", archive.string()});
    EXPECT_NE(json.out.find("guide.txt\", \"size\": 70000, \"stored\""), std::string::npos);
    size_t guide = json.out.find("guide.txt");
    size_t readme = json.out.find("readme.txt");
    ASSERT_NE(guide, std::string::npos);
    ASSERT_NE(readme, std::string::npos);
    EXPECT_NE(json.out.find("\"encrypted\": true", guide), std::string::npos);
    EXPECT_EQ(
        json.out.substr(readme, json.out.find('}', readme) - readme).find("\"encrypted\": true"),
        std::string::npos)
        << "an entry outside the pattern was enciphered";
    RunResult partial = Vorn({"x", "-q", archive.string(), "-o", (scratch / "out").string()});
    EXPECT_EQ(partial.exitCode, 1);
    EXPECT_EQ(ReadFile(scratch / "out" / "tree" / "readme.txt"), ReadFile(tree / "readme.txt"));
    EXPECT_FALSE(fs::exists(scratch / "out" / "tree" / "docs" / "guide.txt"));
}

TEST(ToolPasswords, EncipheredNameTableIsRefusedWithoutOrWithAWrongPassword) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "names.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", "-p", "opensesame", "--cipher", "blowfish", "--encrypt-names",
                    archive.string(), tree.string()})
                  .exitCode,
              0);
    RunResult none = Vorn({"list", archive.string()});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("password"), std::string::npos);
    RunResult wrong = Vorn({"list", "-p", "wrongpass", archive.string()});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
    RunResult right = Vorn({"list", "-p", "opensesame", archive.string()});
    EXPECT_EQ(right.exitCode, 0);
    EXPECT_NE(right.out.find("tree\\readme.txt"), std::string::npos);
    EXPECT_EQ(Vorn({"extract", "-q", "-p", "opensesame", archive.string(), "-o",
                    (scratch / "out").string()})
                  .exitCode,
              0);
    EXPECT_EQ(TreeContents(scratch / "out" / "tree"), TreeContents(tree));
}

TEST(ToolParallel, ParallelExtractionGivesTheSameBytesAsSerial) {
    ScratchFolder scratch;
    fs::path tree = scratch / "many";
    for (int i = 0; i < 40; ++i) {
        std::string folder = "d", leaf = "f";
        folder += std::to_string(i % 5);
        leaf += std::to_string(i);
        leaf += ".bin";
        WriteFile(tree / folder / leaf,
                  SampleBytes(static_cast<size_t>(1000 + i * 7919), static_cast<uint32_t>(i)));
    }
    fs::path archive = scratch / "many.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", archive.string(), tree.string()}).exitCode, 0);
    ASSERT_EQ(
        Vorn({"x", "-q", "--jobs", "1", archive.string(), "-o", (scratch / "serial").string()})
            .exitCode,
        0);
    ASSERT_EQ(Vorn({"x", "-q", "-j", "8", archive.string(), "-o", (scratch / "parallel").string()})
                  .exitCode,
              0);
    auto serial = TreeContents(scratch / "serial" / "many");
    EXPECT_EQ(serial.size(), 40u);
    EXPECT_EQ(serial, TreeContents(tree));
    EXPECT_EQ(serial, TreeContents(scratch / "parallel" / "many"));
}

TEST(ToolParallel, EntriesOfSeveralBlocksDecodeAlikeOnOneThreadOrMany) {
    ScratchFolder scratch;
    // Three blocks of input, so that the blocks of the large entry are decoded on threads.
    WriteFile(scratch / "big" / "large.bin", SampleBytes((17u << 20) + 12345, 77));
    WriteFile(scratch / "big" / "small.txt", "small");
    fs::path archive = scratch / "big.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", archive.string(), (scratch / "big").string()}).exitCode, 0);
    for (const char* jobs : {"1", "3"}) {
        EXPECT_EQ(Vorn({"test", "-q", "-j", jobs, archive.string()}).exitCode, 0) << jobs;
        fs::path out = scratch / (std::string("out") + jobs);
        ASSERT_EQ(Vorn({"x", "-q", "-j", jobs, archive.string(), "-o", out.string()}).exitCode, 0);
        EXPECT_TRUE(TreeContents(out / "big") == TreeContents(scratch / "big")) << jobs;
    }

    // A damaged byte in the middle of the large entry fails it alike whatever the threads.
    std::string bytes = ReadFile(archive);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);
    fs::path damaged = scratch / "damaged.vorn";
    WriteFile(damaged, bytes);
    RunResult one = Vorn({"test", "-j", "1", damaged.string()});
    RunResult three = Vorn({"test", "-j", "3", damaged.string()});
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(three.exitCode, one.exitCode);
    EXPECT_NE(one.err.find("FAILED  big\\large.bin"), std::string::npos) << one.err;
    EXPECT_EQ(three.err, one.err);
}

TEST(ToolOverwrite, ExistingFilesFollowTheChosenPolicy) {
    ScratchFolder scratch;
    WriteFile(scratch / "src" / "a.txt", "new a");
    WriteFile(scratch / "src" / "b.txt", "new b");
    fs::path archive = scratch / "ab.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", archive.string(), (scratch / "src").string()}).exitCode, 0);
    auto seed = [&](const std::string& dir) {
        WriteFile(scratch / dir / "src" / "a.txt", "old a");
    };

    seed("unattended");
    RunResult unattended =
        Vorn({"x", "-q", archive.string(), "-o", (scratch / "unattended").string()});
    EXPECT_EQ(unattended.exitCode, 1) << "a kept file without --skip-existing is reported";
    EXPECT_NE(unattended.err.find("not overwritten"), std::string::npos);
    EXPECT_EQ(ReadFile(scratch / "unattended" / "src" / "a.txt"), "old a");
    EXPECT_EQ(ReadFile(scratch / "unattended" / "src" / "b.txt"), "new b");

    seed("skip");
    EXPECT_EQ(
        Vorn({"x", "-q", "--skip-existing", archive.string(), "-o", (scratch / "skip").string()})
            .exitCode,
        0);
    EXPECT_EQ(ReadFile(scratch / "skip" / "src" / "a.txt"), "old a");

    seed("over");
    EXPECT_EQ(Vorn({"x", "-q", "--overwrite", archive.string(), "-o", (scratch / "over").string()})
                  .exitCode,
              0);
    EXPECT_EQ(ReadFile(scratch / "over" / "src" / "a.txt"), "new a");
}

TEST(ToolOverwrite, TheTerminalQuestionTakesYesNoAllAndQuit) {
    ScratchFolder scratch;
    for (const char* leaf : {"a.txt", "b.txt", "c.txt"}) {
        WriteFile(scratch / "src" / leaf, std::string("new ") + leaf);
    }
    fs::path archive = scratch / "abc.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", archive.string(), (scratch / "src").string()}).exitCode, 0);
    auto seed = [&](const std::string& dir) {
        for (const char* leaf : {"a.txt", "b.txt", "c.txt"}) {
            WriteFile(scratch / dir / "src" / leaf, std::string("old ") + leaf);
        }
    };
    seed("yn");
    RunResult yn =
        RunOnTerminal(kVorn, {"x", "-q", archive.string(), "-o", (scratch / "yn").string()},
                      {{"Overwrite?", "n"}, {"Overwrite?", "y"}, {"Overwrite?", "n"}});
    EXPECT_EQ(yn.exitCode, 0) << yn.out;
    EXPECT_EQ(ReadFile(scratch / "yn" / "src" / "a.txt"), "old a.txt");
    EXPECT_EQ(ReadFile(scratch / "yn" / "src" / "b.txt"), "new b.txt");
    EXPECT_EQ(ReadFile(scratch / "yn" / "src" / "c.txt"), "old c.txt");

    seed("all");
    RunResult all =
        RunOnTerminal(kVorn, {"x", "-q", archive.string(), "-o", (scratch / "all").string()},
                      {{"Overwrite?", "n"}, {"Overwrite?", "a"}});
    EXPECT_EQ(all.exitCode, 0) << all.out;
    EXPECT_EQ(ReadFile(scratch / "all" / "src" / "a.txt"), "old a.txt");
    EXPECT_EQ(ReadFile(scratch / "all" / "src" / "c.txt"), "new c.txt");

    seed("quit");
    RunResult quit =
        RunOnTerminal(kVorn, {"x", "-q", archive.string(), "-o", (scratch / "quit").string()},
                      {{"Overwrite?", "q"}});
    EXPECT_EQ(ReadFile(scratch / "quit" / "src" / "a.txt"), "old a.txt");
    EXPECT_EQ(ReadFile(scratch / "quit" / "src" / "c.txt"), "old c.txt");
}

TEST(ToolSafety, HostileNamesAreRefusedAndNothingLandsOutsideTheDestination) {
    ScratchFolder scratch;
    vorntest::TestArchive archiveSpec;
    for (const char* name : {"..\\escape.txt", "\\rooted.txt", "C:\\drive.txt",
                             "inner\\..\\..\\up.txt", "/slash.txt", "good\\kept.txt"}) {
        vorntest::TestEntry e;
        e.name = name;
        std::string text = std::string("payload of ") + name;
        e.data.assign(text.begin(), text.end());
        archiveSpec.entries.push_back(e);
    }
    fs::path archive = scratch / "hostile.vorn";
    ASSERT_TRUE(
        vorntest::WriteWholeFile(archive.string(), vorntest::BuildTestArchive(archiveSpec)));
    fs::path dest = scratch / "a" / "b" / "dest";
    fs::create_directories(dest);
    RunResult extract = Vorn({"x", archive.string(), "-o", dest.string()});
    EXPECT_EQ(extract.exitCode, 1);
    EXPECT_NE(extract.err.find("refused ..\\escape.txt"), std::string::npos) << extract.err;
    EXPECT_NE(extract.err.find("refused C:\\drive.txt"), std::string::npos);
    EXPECT_EQ(ReadFile(dest / "good" / "kept.txt"), "payload of good\\kept.txt");
    // The only file anywhere in the scratch folder besides the archive is the good one.
    std::vector<std::string> written;
    for (auto& e : fs::recursive_directory_iterator(scratch.path())) {
        if (e.is_regular_file() && e.path() != archive) written.push_back(e.path().string());
    }
    EXPECT_EQ(written, std::vector<std::string>{(dest / "good" / "kept.txt").string()});
    EXPECT_FALSE(fs::exists("/rooted.txt"));
    EXPECT_FALSE(fs::exists("/slash.txt"));
}

// Every name of the shared table: an accepted one lands where the table says, a refused one is
// named with every reader's words and the rule's reason, and nothing lands anywhere else.
TEST(ToolSafety, EveryNameOfTheSharedTableIsExtractedOrRefusedAsTheRuleSays) {
    ScratchFolder scratch;
    fs::path archive = scratch / "names.vorn";
    ASSERT_TRUE(vorntest::WriteWholeFile(
        archive.string(), vorntest::BuildTestArchive(vorntest::EntryNameCaseArchive())));
    fs::path dest = scratch / "a" / "b" / "dest";
    fs::create_directories(dest);
    RunResult extract = Vorn({"x", "-q", archive.string(), "-o", dest.string()});
    EXPECT_EQ(extract.exitCode, 1);
    size_t accepted = 0;
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        if (c.portable == format::EntryNameVerdict::Safe) {
            EXPECT_EQ(ReadFile(dest / c.landsAt), std::string("entry ") + c.name) << c.name;
            ++accepted;
            continue;
        }
        std::string line = std::string("vorn: refused ") + c.name +
                           ": This entry's path would leave the destination folder; it is not "
                           "extracted (" +
                           format::EntryNameReason(c.portable) + ").\n";
        EXPECT_NE(extract.err.find(line), std::string::npos) << line << extract.err;
    }
    size_t written = 0;
    for (auto& e : fs::recursive_directory_iterator(scratch.path())) {
        if (!e.is_regular_file() || e.path() == archive) continue;
        ++written;
        EXPECT_EQ(e.path().string().rfind(dest.string(), 0), 0u) << e.path();
    }
    EXPECT_EQ(written, accepted);
}

// What an extraction into cwd/dest held when it was interrupted: the files put in place and the
// temporary files of the entries in progress.
struct DestinationSeen {
    size_t placed = 0;
    size_t inProgress = 0;
};
DestinationSeen g_atInterrupt;

// Whether an extraction into cwd/dest is writing an entry: a temporary file stands there.
bool ExtractionStarted(const fs::path& cwd) {
    DestinationSeen seen;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(cwd / "dest", ec), end; it != end; it.increment(ec)) {
        bool temporary = it->path().filename().string().find(".vorn-") != std::string::npos;
        ++(temporary ? seen.inProgress : seen.placed);
    }
    if (seen.inProgress == 0) return false;
    g_atInterrupt = seen;
    return true;
}

// Ctrl-C while entries are extracted on two threads: the runs in progress stop at their next
// block, their unfinished files are removed, no more start, and every file left is whole. The
// interrupt lands while the folder is as it was seen, so at most the entries then in progress
// can still have been finished.
TEST(ToolInterrupt, CtrlCStopsTheRunsAndLeavesOnlyWholeFiles) {
    ScratchFolder scratch;
    vorntest::TestArchive archiveSpec;
    std::vector<std::string> contents;
    for (uint32_t i = 0; i < 12; ++i) {
        contents.push_back(SampleBytes(4u << 20, 100 + i));
        vorntest::TestEntry e;
        e.name = "part" + std::to_string(i) + ".bin";
        e.data.assign(contents.back().begin(), contents.back().end());
        e.blockSize = 1u << 16;
        archiveSpec.entries.push_back(e);
    }
    ASSERT_TRUE(vorntest::WriteWholeFile((scratch / "big.vorn").string(),
                                         vorntest::BuildTestArchive(archiveSpec)));
    fs::create_directories(scratch / "dest");
    RunResult run = RunAndInterrupt(kVorn, {"x", "-q", "-j", "2", "big.vorn", "-o", "dest"},
                                    ExtractionStarted, scratch.path().string());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("vorn: interrupted; unfinished files removed"), std::string::npos)
        << run.err;
    size_t whole = 0;
    for (const auto& e : fs::directory_iterator(scratch / "dest")) {
        std::string leaf = e.path().filename().string();
        ASSERT_EQ(leaf.find(".vorn-"), std::string::npos) << leaf;
        size_t index = std::stoul(leaf.substr(4));
        EXPECT_TRUE(ReadFile(e.path()) == contents[index]) << leaf << " is not whole";
        ++whole;
    }
    ASSERT_GT(g_atInterrupt.inProgress, 0u) << "interrupted while an entry was written";
    EXPECT_GE(whole, g_atInterrupt.placed);
    EXPECT_LE(whole, g_atInterrupt.placed + g_atInterrupt.inProgress);
}

TEST(ToolSafety, ControlBytesInNamesAndCommentsNeverReachTheTerminal) {
    ScratchFolder scratch;
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e;
    e.name = "evil\x1b]0;title\x07name.txt";
    e.data = {'x'};
    archiveSpec.entries.push_back(e);
    archiveSpec.comment = "line one\n\x1b[2Jline two";
    fs::path archive = scratch / "escape.vorn";
    ASSERT_TRUE(
        vorntest::WriteWholeFile(archive.string(), vorntest::BuildTestArchive(archiveSpec)));
    RunResult list = Vorn({"list", archive.string()});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(list.out.find('\x07'), std::string::npos);
    EXPECT_NE(list.out.find("evil\\x1B]0;title\\x07name.txt"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("line one\n\\x1B[2Jline two"), std::string::npos);
}

TEST(ToolSafety, PackRefusesNamesReadersWouldRefuseAndWritesNothing) {
    ScratchFolder scratch;
    std::string longLeaf(252, 'n');  // "long\" and 252 bytes: one more than a name holds
    WriteFile(scratch / "long" / longLeaf, "x");
    fs::path out = scratch / "long.vorn";
    RunResult tooLong = Vorn({"pack", out.string(), (scratch / "long").string()});
    EXPECT_EQ(tooLong.exitCode, 2);
    EXPECT_NE(tooLong.err.find("at most 255"), std::string::npos) << tooLong.err;
    EXPECT_FALSE(fs::exists(out));

    WriteFile(scratch / "odd" / "back\\slash.txt", "x");
    out = scratch / "odd.vorn";
    RunResult backslash = Vorn({"pack", out.string(), (scratch / "odd").string()});
    EXPECT_EQ(backslash.exitCode, 2);
    EXPECT_NE(backslash.err.find("backslash"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
}

TEST(ToolNames, Utf8NamesKeepTheirLettersAndOtherBytesAreRefusedOrEscaped) {
    ScratchFolder scratch;
    const std::vector<std::string> names = {"café.txt", "Ελληνικά/σημειώσεις.txt",
                                            "Кириллица/файл.txt", "日本語/資料.txt"};
    for (const auto& name : names) WriteFile(scratch / "src" / name, name);
    fs::path archive = scratch / "names.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", archive.string(), (scratch / "src").string()}).exitCode, 0);
    RunResult list = Vorn({"list", archive.string()});
    RunResult json = Vorn({"list", "--json", archive.string()});
    for (const char* shown :
         {"src\\café.txt", "src\\Ελληνικά\\σημειώσεις.txt", "src\\日本語\\資料.txt"}) {
        EXPECT_NE(list.out.find(shown), std::string::npos) << list.out;
    }
    EXPECT_NE(json.out.find("\"src\\\\Кириллица\\\\файл.txt\""), std::string::npos) << json.out;
    ASSERT_EQ(Vorn({"x", "-q", archive.string(), "-o", (scratch / "out").string()}).exitCode, 0);
    EXPECT_EQ(TreeContents(scratch / "out" / "src"), TreeContents(scratch / "src"));

    // A name in a Windows code page: pack refuses it, and the tool shows one an older writer
    // stored.
    WriteFile(scratch / "latin1" / "caf\xe9.txt", "x");
    RunResult refused =
        Vorn({"pack", (scratch / "l.vorn").string(), (scratch / "latin1").string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("latin1/caf\\xE9.txt: the name is not valid UTF-8"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(scratch / "l.vorn"));
    vorntest::TestArchive older;
    vorntest::TestEntry entry;
    entry.name = "caf\xe9 \xc3.txt";
    older.entries.push_back(entry);
    ASSERT_TRUE(vorntest::WriteWholeFile((scratch / "old.vorn").string(),
                                         vorntest::BuildTestArchive(older)));
    EXPECT_NE(Vorn({"list", (scratch / "old.vorn").string()}).out.find("caf\\xE9 \\xC3.txt"),
              std::string::npos);
    EXPECT_NE(Vorn({"list", "--json", (scratch / "old.vorn").string()})
                  .out.find("\"caf\\u00e9 \\u00c3.txt\""),
              std::string::npos);
}

TEST(ToolParallel, PackWritesTheSameBytesWhateverTheJobs) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    WriteFile(tree / "large.bin", SampleBytes((8u << 20) + 12345, 4));  // two blocks
    std::string first;
    for (const char* jobs : {"1", "2", "3", "7"}) {
        fs::path archive = scratch / (std::string("j") + jobs + ".vorn");
        RunResult pack = Vorn({"pack", "-q", "-j", jobs, archive.string(), tree.string()});
        ASSERT_EQ(pack.exitCode, 0) << pack.err;
        if (first.empty()) first = ReadFile(archive);
        EXPECT_TRUE(ReadFile(archive) == first) << jobs << " jobs";
    }
}

TEST(ToolDamage, TruncatedArchiveAndCorruptEntryGetTheirExitCodes) {
    ScratchFolder scratch;
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry good;
    good.name = "good.txt";
    std::string text = SampleBytes(3000, 9);
    good.data.assign(text.begin(), text.end());
    good.method = pack::Method::Compressed;
    vorntest::TestEntry bad = good;
    bad.name = "bad.txt";
    bad.crcOverride = 0x12345678;
    archiveSpec.entries = {good, bad};
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    fs::path corrupt = scratch / "corrupt.vorn";
    ASSERT_TRUE(vorntest::WriteWholeFile(corrupt.string(), bytes));

    RunResult test = Vorn({"test", corrupt.string()});
    EXPECT_EQ(test.exitCode, 1);
    EXPECT_NE(test.err.find("bad.txt: Decompressed file CRC does not match original"),
              std::string::npos)
        << test.err;
    EXPECT_NE(test.out.find("OK      good.txt"), std::string::npos);
    RunResult extract = Vorn({"x", "-q", corrupt.string(), "-o", (scratch / "out").string()});
    EXPECT_EQ(extract.exitCode, 1);
    EXPECT_TRUE(fs::exists(scratch / "out" / "good.txt"));
    EXPECT_FALSE(fs::exists(scratch / "out" / "bad.txt"));

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 24 + 40 + 10);
    fs::path truncated = scratch / "truncated.vorn";
    ASSERT_TRUE(vorntest::WriteWholeFile(truncated.string(), cut));
    for (const char* command : {"list", "test", "extract"}) {
        RunResult r = Vorn({command, truncated.string(), "-o", (scratch / "t").string()});
        if (std::string(command) != "extract") r = Vorn({command, truncated.string()});
        EXPECT_EQ(r.exitCode, 2) << command << ": " << r.err;
        EXPECT_NE(r.err.find("Archive is corrupt"), std::string::npos) << r.err;
    }
}

TEST(ToolDamage, TestRefusesDataLongerThanItsRecordEvenWithAMatchingCrc) {
    ScratchFolder scratch;
    vorntest::TestArchive archiveSpec;
    for (pack::Method method : {pack::Method::Stored, pack::Method::Compressed}) {
        vorntest::TestEntry entry;
        entry.name = method == pack::Method::Stored ? "stored.txt" : "compressed.txt";
        std::string text = SampleBytes(3000, 4);
        entry.data.assign(text.begin(), text.end());
        entry.method = method;
        entry.unpackedSizeOverride = 1000;  // the CRC still covers all 3000 bytes
        archiveSpec.entries.push_back(entry);
    }
    fs::path archive = scratch / "long.vorn";
    ASSERT_TRUE(
        vorntest::WriteWholeFile(archive.string(), vorntest::BuildTestArchive(archiveSpec)));

    RunResult test = Vorn({"test", archive.string()});
    EXPECT_EQ(test.exitCode, 1);
    EXPECT_NE(test.err.find("FAILED  stored.txt: Archive is corrupt"), std::string::npos)
        << test.err;
    EXPECT_NE(test.err.find("FAILED  compressed.txt: Archive is corrupt"), std::string::npos)
        << test.err;
}

// Where the tool finds the Windows stub: $VORN_STUB_DIR first, then the win32 build beside its own.
fs::path WindowsStub() {
    fs::path tree = fs::path(kVorn).parent_path().parent_path();
    fs::path stub = tree.parent_path() / "win32" / "sfx" / "vornsfx.exe";
    const char* stubDir = std::getenv("VORN_STUB_DIR");
    if (stubDir && fs::exists(fs::path(stubDir) / "vornsfx.exe")) {
        stub = fs::path(stubDir) / "vornsfx.exe";
    }
    return stub;
}

TEST(ToolSelfExtractor, WindowsSelfExtractorListsAndExtracts) {
    fs::path stub = WindowsStub();
    if (!fs::exists(stub)) GTEST_SKIP() << "no win32 stub at " << stub;
    ScratchFolder scratch;
    fs::path src = MakeSampleTree(scratch);
    fs::path exe = scratch / "setup.exe";
    RunResult pack = Vorn(
        {"pack", "-q", "--sfx", "windows", "--comment", "Windows", exe.string(), src.string()});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_EQ(ReadFile(exe).substr(0, 2), "MZ");
    RunResult list = Vorn({"list", exe.string()});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.out.find("Windows"), std::string::npos);
    ASSERT_EQ(Vorn({"x", "-q", exe.string(), "-o", (scratch / "out").string()}).exitCode, 0);
    EXPECT_EQ(TreeContents(scratch / "out" / "tree"), TreeContents(src));
}

TEST(ToolSelfExtractor, MissingStubIsAClearError) {
    ScratchFolder scratch;
    WriteFile(scratch / "f.txt", "x");
    RunResult r = Vorn({"pack", "--sfx-stub", (scratch / "no-stub").string(),
                        (scratch / "o.run").string(), (scratch / "f.txt").string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("no-stub"), std::string::npos);
    EXPECT_FALSE(fs::exists(scratch / "o.run"));
}

TEST(ToolSelfExtractor, DefaultDirIsWrittenIntoTheCopyOfTheStubAndListed) {
    ScratchFolder scratch;
    WriteFile(scratch / "f.txt", "x");
    fs::path sfx = scratch / "setup.run";
    RunResult pack = Vorn({"pack", "-q", "--sfx", "linux", "--default-dir", "/opt/Sample Ünïcode",
                           sfx.string(), (scratch / "f.txt").string()});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    EXPECT_NE(Vorn({"list", sfx.string()}).out.find("Extracts by default to: /opt/Sample Ünïcode"),
              std::string::npos);
    EXPECT_NE(
        Vorn({"list", "--json", sfx.string()}).out.find("\"defaultDir\": \"/opt/Sample Ünïcode\""),
        std::string::npos);
    RunResult plain = Vorn({"pack", "-q", "--sfx", "linux", (scratch / "plain.run").string(),
                            (scratch / "f.txt").string()});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(Vorn({"list", (scratch / "plain.run").string()}).out.find("Extracts by default"),
              std::string::npos);

    const struct {
        std::vector<std::string> args;
        const char* why;
    } refused[] = {
        {{"--sfx", "linux", "--default-dir", std::string(256, 'd')}, "at most 255"},
        {{"--sfx", "linux", "--default-dir", "C:\\a\nb"}, "control character"},
        {{"--default-dir", "C:\\Out"}, "for self-extractors"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.push_back((scratch / "bad.run").string());
        args.push_back((scratch / "f.txt").string());
        RunResult run = Vorn(args);
        EXPECT_EQ(run.exitCode, 2) << r.why;
        EXPECT_NE(run.err.find(r.why), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(scratch / "bad.run"));
    }
}

TEST(ToolSelfExtractor, InstallerSettingsAreCheckedWrittenAndListed) {
    ScratchFolder scratch;
    WriteFile(scratch / "app" / "bin" / "setup.sh", "exit 0\n");
    WriteFile(scratch / "app" / "my data.txt", "x");
    fs::path sfx = scratch / "setup.run";
    RunResult pack =
        Vorn({"pack", "-q", "--sfx", "linux", "--run", "app/bin/setup.sh --mode \"a b\"",
              "--temporary", "--sfx-overwrite", "never", sfx.string(), (scratch / "app").string()});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    std::string text = Vorn({"list", sfx.string()}).out;
    for (const char* shown : {"Runs after extraction: app/bin/setup.sh --mode \"a b\"",
                              "Extracts into a temporary folder", "Existing files: never"}) {
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    }
    EXPECT_NE(Vorn({"list", "--json", sfx.string()})
                  .out.find("\"sfxSettings\": {\"run\": \"app/bin/setup.sh --mode \\\"a b\\\"\", "
                            "\"temporary\": true, \"overwrite\": \"never\"}"),
              std::string::npos);
    // A self-extractor without settings lists none; a plain archive has no block at all.
    RunResult plain = Vorn({"pack", "-q", "--sfx", "linux", (scratch / "plain.run").string(),
                            (scratch / "app").string()});
    ASSERT_EQ(plain.exitCode, 0);
    EXPECT_EQ(Vorn({"list", (scratch / "plain.run").string()}).out.find("Runs after"),
              std::string::npos);
    EXPECT_NE(Vorn({"list", "--json", (scratch / "plain.run").string()})
                  .out.find("\"sfxSettings\": {\"run\": null, \"temporary\": false"),
              std::string::npos);
    RunResult archive =
        Vorn({"pack", "-q", (scratch / "a.vorn").string(), (scratch / "app").string()});
    ASSERT_EQ(archive.exitCode, 0);
    EXPECT_NE(
        Vorn({"list", "--json", (scratch / "a.vorn").string()}).out.find("\"sfxSettings\": null"),
        std::string::npos);

    const struct {
        std::vector<std::string> args;
        const char* why;
    } refused[] = {
        {{"--sfx", "linux", "--run", "app/missing.sh"}, "no entry is named app\\missing.sh"},
        {{"--sfx", "linux", "--run", "app/../app/bin/setup.sh"}, "could lead outside the folder"},
        {{"--sfx", "linux", "--run", "app/my data.txt"}, "no entry is named app\\my"},
        {{"--sfx", "linux", "--run", ""}, "the program line is empty"},
        {{"--sfx", "linux", "--run", std::string(1100, 'a')}, "at most 1024"},
        {{"--sfx", "linux", "--temporary"}, "--temporary needs a program to run"},
        {{"--sfx", "linux", "--sfx-overwrite", "sometimes"}, "takes ask, always or never"},
        {{"--run", "app/bin/setup.sh"}, "--run is for self-extractors"},
        {{"--sfx", "linux", "--run", "app/setup.bat a&echo pwned>x"}, "is a batch file"},
        {{"--sfx", "linux", "--run", "app/SETUP.CMD \"open"}, "a quote left open"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args = {"pack"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.push_back((scratch / "bad.run").string());
        args.push_back((scratch / "app").string());
        RunResult run = Vorn(args);
        EXPECT_EQ(run.exitCode, 2) << r.why;
        EXPECT_NE(run.err.find(r.why), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(scratch / "bad.run"));
    }
    // Quoted, a name with spaces is one word.
    RunResult quoted = Vorn({"pack", "-q", "--sfx", "linux", "--run", "\"app/my data.txt\" x",
                             (scratch / "q.run").string(), (scratch / "app").string()});
    EXPECT_EQ(quoted.exitCode, 0) << quoted.err;
    // What cmd.exe would read is only refused for a batch program.
    RunResult script = Vorn({"pack", "-q", "--sfx", "linux", "--run", "app/bin/setup.sh a&b>x",
                             (scratch / "s.run").string(), (scratch / "app").string()});
    EXPECT_EQ(script.exitCode, 0) << script.err;
}

// A licence is packed as an entry the settings name: listed as the licence, never extracted as a
// file; a file that cannot be one is refused before anything is written.
TEST(ToolSelfExtractor, LicenceIsCheckedPackedListedAndNotExtracted) {
    ScratchFolder scratch;
    WriteFile(scratch / "app" / "a.txt", "x");
    WriteFile(scratch / "licence.txt", "Terms: \xc3\xbc\n");
    fs::path sfx = scratch / "setup.run";
    RunResult pack =
        Vorn({"pack", "-q", "--sfx", "linux", "--license", (scratch / "licence.txt").string(),
              sfx.string(), (scratch / "app").string()});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    std::string text = Vorn({"list", sfx.string()}).out;
    EXPECT_NE(text.find("Licence: 10 bytes, to be accepted"), std::string::npos) << text;
    EXPECT_EQ(text.find("$license$"), std::string::npos) << text;
    EXPECT_NE(text.find("1 file\n"), std::string::npos) << text;
    EXPECT_NE(Vorn({"list", "--json", sfx.string()}).out.find("\"license\": {\"bytes\": 10}"),
              std::string::npos);
    ASSERT_EQ(Vorn({"x", "-q", sfx.string(), "-o", (scratch / "out").string()}).exitCode, 0);
    EXPECT_TRUE(fs::exists(scratch / "out" / "app" / "a.txt"));
    EXPECT_FALSE(fs::exists(scratch / "out" / "$license$"));

    WriteFile(scratch / "latin1.txt", "Terms: \xfc\n");
    WriteFile(scratch / "empty.txt", "");
    WriteFile(scratch / "large.txt", std::string((1u << 20) + 1, 'a'));
    WriteFile(scratch / "$license$", "in the way");
    const struct {
        const char* license;
        const char* extra;  // a further file to pack
        const char* why;
    } refused[] = {
        {"latin1.txt", nullptr, "is not UTF-8 text"},
        {"empty.txt", nullptr, "is empty"},
        {"large.txt", nullptr, "larger than 1 MiB"},
        {"licence.txt", "$license$", "kept for the licence"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args = {"pack",
                                         "--sfx",
                                         "linux",
                                         "--license",
                                         (scratch / r.license).string(),
                                         (scratch / "bad.run").string(),
                                         (scratch / "app").string()};
        if (r.extra) args.push_back((scratch / r.extra).string());
        RunResult run = Vorn(args);
        EXPECT_EQ(run.exitCode, 2) << r.why;
        EXPECT_NE(run.err.find(r.why), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(scratch / "bad.run")) << r.why;
    }
}

// A publisher signs the self-extractor after packing; the certificate table then follows the
// archive, and the archive must read as before.
TEST(ToolSelfExtractor, SignedSelfExtractorStillListsTestsAndExtracts) {
    fs::path stub = WindowsStub();
    if (!fs::exists(stub)) GTEST_SKIP() << "no win32 stub at " << stub;
    ScratchFolder scratch;
    fs::path src = MakeSampleTree(scratch);
    RunResult cert = RunProgram(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=VORN test", "-days", "1",
         "-keyout", (scratch / "key.pem").string(), "-out", (scratch / "cert.pem").string()});
    ASSERT_EQ(cert.exitCode, 0) << cert.err;
    const std::vector<std::vector<std::string>> kinds = {{}, {"-p", "signing1", "--encrypt-names"}};
    for (const auto& extra : kinds) {
        fs::path exe = scratch / "setup.exe";
        fs::path signedExe = scratch / "setup-signed.exe";
        fs::remove(signedExe);
        std::vector<std::string> args = {"pack",    "-q",         "--sfx",
                                         "windows", exe.string(), src.string()};
        args.insert(args.begin() + 2, extra.begin(), extra.end());
        ASSERT_EQ(Vorn(args).exitCode, 0);
        RunResult sign = RunProgram("/usr/bin/osslsigncode",
                                    {"sign", "-certs", (scratch / "cert.pem").string(), "-key",
                                     (scratch / "key.pem").string(), "-n", "VORN test", "-in",
                                     exe.string(), "-out", signedExe.string()});
        ASSERT_EQ(sign.exitCode, 0) << sign.out << sign.err;
        RunResult verify =
            RunProgram("/usr/bin/osslsigncode",
                       {"verify", "-CAfile", (scratch / "cert.pem").string(), signedExe.string()});
        EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
        EXPECT_GT(fs::file_size(signedExe), fs::file_size(exe));

        std::vector<std::string> password(extra.begin(), extra.begin() + (extra.empty() ? 0 : 2));
        auto command = [&](std::vector<std::string> words) {
            words.insert(words.begin() + 1, password.begin(), password.end());
            return Vorn(words);
        };
        RunResult list = command({"list", signedExe.string()});
        EXPECT_EQ(list.exitCode, 0) << list.err;
        EXPECT_NE(list.out.find("5 files"), std::string::npos) << list.out;
        EXPECT_EQ(command({"test", "-q", signedExe.string()}).exitCode, 0);
        fs::path out = scratch / ("out" + std::to_string(password.size()));
        ASSERT_EQ(command({"x", "-q", signedExe.string(), "-o", out.string()}).exitCode, 0);
        EXPECT_EQ(TreeContents(out / "tree"), TreeContents(src));
    }
}

}  // namespace
}  // namespace tooltest

namespace tooltest {
namespace {

// Codec of the entry named name in a listing's JSON.
std::string CodecInJson(const std::string& json, const std::string& name) {
    size_t at = json.find("\"name\": \"" + name + "\"");
    if (at == std::string::npos) return "no entry";
    size_t codec = json.find("\"codec\": \"", at);
    if (codec == std::string::npos) return "no codec";
    codec += 10;
    return json.substr(codec, json.find('"', codec) - codec);
}

TEST(ToolLevels, SelfExtractorsDefaultToLzBlocksAndListNamesEachEntrysCodec) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    struct Case {
        std::vector<std::string> options;
        const char* file;
        const char* guideCodec;
    };
    const std::vector<Case> cases = {
        {{}, "plain.vorn", "context"},
        {{"--level", "3"}, "level3.vorn", "lz77"},
        {{"--sfx", "linux"}, "sfx.run", "solid"},
        {{"--sfx", "linux", "--no-solid"}, "sfx3.run", "lz77"},
        {{"--solid"}, "solid.vorn", "solid"},
        {{"--sfx", "linux", "--level", "2"}, "sfx2.run", "context"},
        {{"--store", "--level", "3"}, "stored.vorn", "stored"},
    };
    for (const Case& c : cases) {
        fs::path archive = scratch / c.file;
        std::vector<std::string> args = {"pack", "-q"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(archive.string());
        args.push_back(tree.string());
        RunResult pack = Vorn(args);
        ASSERT_EQ(pack.exitCode, 0) << c.file << ": " << pack.err;
        RunResult json = Vorn({"list", "--json", archive.string()});
        ASSERT_EQ(json.exitCode, 0) << c.file;
        EXPECT_EQ(CodecInJson(json.out, "tree\\\\docs\\\\guide.txt"), c.guideCodec) << c.file;
        EXPECT_EQ(CodecInJson(json.out, "tree\\\\empty.dat"), "-") << c.file;
        RunResult list = Vorn({"list", archive.string()});
        EXPECT_NE(list.out.find(c.guideCodec), std::string::npos) << c.file << list.out;
        // Groups show in both listings, and the table's column only when there are groups.
        const bool solid = std::string(c.guideCodec) == "solid";
        EXPECT_EQ(json.out.find("\"group\": 1}") != std::string::npos, solid) << c.file;
        EXPECT_EQ(list.out.find("Group") != std::string::npos, solid) << c.file;
        EXPECT_EQ(Vorn({"test", "-q", archive.string()}).exitCode, 0) << c.file;
        fs::path out = scratch / (std::string(c.file) + ".out");
        ASSERT_EQ(Vorn({"x", "-q", archive.string(), "-o", out.string()}).exitCode, 0) << c.file;
        EXPECT_EQ(TreeContents(out / "tree"), TreeContents(tree)) << c.file;
    }
}

// A record that understates or overstates its entry's size, for each kind of block: "vorn test"
// and "vorn extract" call the entry corrupt and leave no file of it; the honest entry of each kind
// beside them is the control. --verbose names the refusing check where the build notes it.
TEST(ToolDamage, RecordsThatMisstateTheSizeMakeTheirEntriesCorrupt) {
    ScratchFolder scratch;
    struct Kind {
        const char* name;
        pack::Method method;
        int level;
        const char* codec;
    };
    const Kind kinds[] = {{"stored", pack::Method::Stored, 2, "stored"},
                          {"compressed", pack::Method::Compressed, 2, "context"},
                          {"lz", pack::Method::Best, 3, "lz77"}};
    const std::string text = SampleBytes(40000, 12);
    vorntest::TestArchive archiveSpec;
    for (const Kind& kind : kinds) {
        for (int64_t shift : {0, -1000, +1000}) {
            vorntest::TestEntry entry;
            entry.name = std::string(kind.name) + std::to_string(shift) + ".bin";
            entry.data.assign(text.begin(), text.end());
            entry.method = kind.method;
            entry.encoder.level = kind.level;
            entry.blockSize = 16384;
            entry.unpackedSizeOverride = text.size() + shift;
            archiveSpec.entries.push_back(entry);
        }
    }
    fs::path archive = scratch / "sizes.vorn";
    ASSERT_TRUE(
        vorntest::WriteWholeFile(archive.string(), vorntest::BuildTestArchive(archiveSpec)));
    RunResult json = Vorn({"list", "--json", archive.string()});
    RunResult test = Vorn({"test", "--verbose", archive.string()});
    EXPECT_EQ(test.exitCode, 1);
    RunResult extract = Vorn({"x", "-q", archive.string(), "-o", (scratch / "out").string()});
    EXPECT_EQ(extract.exitCode, 1);
    for (const Kind& kind : kinds) {
        EXPECT_EQ(CodecInJson(json.out, std::string(kind.name) + "0.bin"), kind.codec);
        EXPECT_NE(test.out.find("OK      " + std::string(kind.name) + "0.bin"), std::string::npos);
        EXPECT_TRUE(ReadFile(scratch / "out" / (std::string(kind.name) + "0.bin")) == text);
        for (const char* shift : {"-1000", "1000"}) {
            const std::string name = std::string(kind.name) + shift + ".bin";
            size_t at = test.err.find("FAILED  " + name + ": Archive is corrupt");
            ASSERT_NE(at, std::string::npos) << test.err;
            std::string line = test.err.substr(at, test.err.find('\n', at) - at);
            const size_t noted = line.find(" [codec/");
            EXPECT_EQ(noted != std::string::npos, format::kRecordsFailedChecks) << line;
            EXPECT_EQ(line.find(" ["), noted) << line;
            EXPECT_FALSE(fs::exists(scratch / "out" / name)) << name;
        }
    }
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(scratch / "out")) files += e.is_regular_file();
    EXPECT_EQ(files, 3u) << "nothing but the honest entries";
}

// A sealed archive lists its scheme and extracts; with one bit changed in an entry's data, that
// entry fails and nothing of it reaches its final path, while the untouched archive (the
// control) extracts whole.
TEST(ToolSealed, ListsItsSchemeAndAChangedEntryLeavesNothingBehind) {
    ScratchFolder scratch;
    fs::path tree = MakeSampleTree(scratch);
    fs::path archive = scratch / "sealed.vorn";
    ASSERT_EQ(Vorn({"pack", "-q", "-p", "pw", archive.string(), tree.string()}).exitCode, 0);
    RunResult list = Vorn({"list", "-p", "pw", archive.string()});
    EXPECT_NE(list.out.find("Protection: sealed (Argon2id m=65536 KiB t=3 p=1"), std::string::npos)
        << list.out;
    EXPECT_NE(Vorn({"list", "--json", "-p", "pw", archive.string()})
                  .out.find("\"protection\": \"sealed\""),
              std::string::npos);
    std::string bytes = ReadFile(archive);
    fs::path changed = scratch / "changed.vorn";
    bytes[bytes.size() / 2] ^= 0x01;
    WriteFile(changed, bytes);
    for (const fs::path& from : {archive, changed}) {
        fs::path out = scratch / ("out-" + from.stem().string());
        RunResult run = Vorn({"extract", "-q", "-p", "pw", from.string(), "-o", out.string()});
        EXPECT_EQ(run.exitCode == 0, from == archive) << run.err;
        int missing = 0;
        for (const auto& file : fs::recursive_directory_iterator(tree)) {
            if (!file.is_regular_file()) continue;
            fs::path target = out / "tree" / fs::relative(file.path(), tree);
            if (!fs::exists(target)) {
                ++missing;
            } else {
                EXPECT_EQ(ReadFile(target), ReadFile(file.path())) << target;
            }
        }
        EXPECT_EQ(missing > 0, from == changed);
    }
}

}  // namespace
}  // namespace tooltest
