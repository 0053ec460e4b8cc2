// vorn extract against a hostile destination and failing entries: links planted where entries go
// are never followed, and a file that stood at an entry's path keeps its bytes unless the entry
// came out whole and intact. Each link case first shows that a plain write through the link does
// reach outside, so the test fails if the defence goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process_support.h"
#include "test_archive.h"

namespace tooltest {
namespace {

const std::string kVorn = VORN_TOOL_PATH;

RunResult Vorn(const std::vector<std::string>& args, const std::string& cwd = ".") {
    return RunProgram(kVorn, args, cwd);
}

fs::path ArchiveOf(const ScratchFolder& scratch, const std::string& name, const std::string& data,
                   const char* leaf = "a.vorn") {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry e;
    e.name = name;
    e.data.assign(data.begin(), data.end());
    archiveSpec.entries.push_back(e);
    fs::path archive = scratch / leaf;
    EXPECT_TRUE(
        vorntest::WriteWholeFile(archive.string(), vorntest::BuildTestArchive(archiveSpec)));
    return archive;
}

struct LinkCase {
    const char* what;
    const char* entry;       // "\" between levels
    const char* linkAt;      // below the destination
    const char* linkTarget;  // below the outside folder
    bool targetExists;       // a file (with "outside" in it) stands at the target
    bool targetIsFolder;
    std::vector<std::string> options;
    int exitCode;
    bool replacedByEntry;  // the link's place holds the entry's bytes afterwards
};

TEST(ToolSafety, LinksInTheDestinationAreNeverFollowed) {
    const std::vector<LinkCase> cases = {
        {"link to a folder outside at a folder level",
         "sub\\x.txt",
         "sub",
         "dir",
         true,
         true,
         {"--overwrite"},
         1,
         false},
        {"dangling link at the entry's path",
         "x.txt",
         "x.txt",
         "missing.txt",
         false,
         false,
         {},
         1,
         false},
        {"dangling link, overwrite on",
         "x.txt",
         "x.txt",
         "missing.txt",
         false,
         false,
         {"--overwrite"},
         0,
         true},
        {"link to a file outside, overwrite on",
         "x.txt",
         "x.txt",
         "file.txt",
         true,
         false,
         {"--overwrite"},
         0,
         true},
    };
    for (const LinkCase& c : cases) {
        ScratchFolder scratch;
        fs::path outside = scratch / "outside";
        fs::path dest = scratch / "dest";
        fs::create_directories(outside);
        fs::create_directories(dest);
        fs::path target = outside / c.linkTarget;
        if (c.targetIsFolder) fs::create_directories(target);
        if (c.targetExists && !c.targetIsFolder) WriteFile(target, "outside");
        fs::create_symlink(target, dest / c.linkAt);

        // Control: a plain write to the entry's path lands outside the destination.
        fs::path landing = c.targetIsFolder ? target / "x.txt" : target;
        std::string before = c.targetExists && !c.targetIsFolder ? ReadFile(target) : "";
        fs::path entryPath = dest / fs::path(std::string(c.entry)).string();
        if (c.targetIsFolder) entryPath = dest / c.linkAt / "x.txt";
        WriteFile(entryPath, "through");
        ASSERT_EQ(ReadFile(landing), "through") << c.what;
        if (c.targetIsFolder || !c.targetExists) {
            fs::remove(landing);
        } else {
            WriteFile(target, before);
        }

        fs::path archive = ArchiveOf(scratch, c.entry, "entry bytes");
        std::vector<std::string> args = {"x", "-q", archive.string(), "-o", dest.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult run = Vorn(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.err;
        if (c.targetIsFolder) {
            EXPECT_FALSE(fs::exists(landing)) << c.what;
            EXPECT_NE(run.err.find("symbolic link; not following it"), std::string::npos)
                << c.what << ": " << run.err;
        } else if (c.targetExists) {
            EXPECT_EQ(ReadFile(target), "outside") << c.what;
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << c.what;
        }
        fs::path placed = dest / c.linkAt;
        if (c.replacedByEntry) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(placed))) << c.what;
            EXPECT_EQ(ReadFile(placed), "entry bytes") << c.what;
        } else {
            EXPECT_TRUE(fs::is_symlink(placed)) << c.what;
        }
        EXPECT_EQ(PartFilesIn(dest), 0u) << c.what;
    }
}

// Whether the extraction into cwd/dest has begun writing: a part file stands there.
bool PartFileStands(const fs::path& cwd) {
    std::error_code ec;
    for (fs::directory_iterator it(cwd / "dest", ec), end; it != end; it.increment(ec)) {
        if (it->path().filename().string().find(".vorn-") != std::string::npos) return true;
    }
    return false;
}

struct FailingEntryCase {
    const char* what;
    const char* packPassword;  // null: not enciphered
    std::vector<std::string> extractOptions;
    bool damageData;  // a byte in the middle of the compressed data flipped
    bool interrupt;
    bool replaces;  // the control: the entry is intact and replaces the file
};

TEST(ToolSafety, AnExistingFileKeepsItsBytesUnlessTheEntryIsIntact) {
    const std::vector<FailingEntryCase> cases = {
        {"intact entry (control)", nullptr, {}, false, false, true},
        {"wrong password", "right-one", {"-p", "wrong-one"}, false, false, false},
        {"no password", "right-one", {}, false, false, false},
        {"corrupt block", nullptr, {}, true, false, false},
        {"interrupted mid-entry", nullptr, {"-j", "1"}, false, true, false},
    };
    for (const FailingEntryCase& c : cases) {
        // Large enough for Ctrl-C to come while it decodes.
        const std::string data = SampleBytes(c.interrupt ? 32u << 20 : 1u << 20, 7);
        ScratchFolder scratch;
        vorntest::TestEntry e;
        e.name = "file.bin";
        e.data.assign(data.begin(), data.end());
        e.method = pack::Method::Compressed;
        e.blockSize = 1u << 16;
        if (c.damageData) {
            std::vector<uint8_t> stored =
                vorntest::EncodeTestEntryData(e.data, e.method, e.blockSize);
            stored[stored.size() / 2] ^= 0x5A;
            e.rawStoredData = stored;
        }
        fs::path archive = scratch / "a.vorn";
        if (c.packPassword) {
            fs::path src = scratch / "src";
            WriteFile(src / "file.bin", data);
            ASSERT_EQ(Vorn({"pack", "-q", "-p", c.packPassword, "--cipher", "blowfish",
                            archive.string(), "file.bin"},
                           src.string())
                          .exitCode,
                      0);
        } else {
            vorntest::TestArchive archiveSpec;
            archiveSpec.entries.push_back(e);
            ASSERT_TRUE(vorntest::WriteWholeFile(archive.string(),
                                                 vorntest::BuildTestArchive(archiveSpec)));
        }
        fs::path dest = scratch / "dest";
        WriteFile(dest / "file.bin", "the user's own file");

        std::vector<std::string> args = {"x", "-q", "--overwrite", "a.vorn", "-o", "dest"};
        args.insert(args.end(), c.extractOptions.begin(), c.extractOptions.end());
        RunResult run = c.interrupt
                            ? RunAndInterrupt(kVorn, args, PartFileStands, scratch.path().string())
                            : Vorn(args, scratch.path().string());
        EXPECT_EQ(run.exitCode, c.replaces ? 0 : 1) << c.what << ": " << run.err;
        if (c.replaces) {
            EXPECT_TRUE(ReadFile(dest / "file.bin") == data) << c.what;
        } else {
            EXPECT_EQ(ReadFile(dest / "file.bin"), "the user's own file") << c.what;
        }
        EXPECT_EQ(PartFilesIn(dest), 0u) << c.what;
    }
}

// The name table of a sound archive with one name made 300 bytes long: the writer refuses such a
// name, so a 255-byte one is written and lengthened in place (the table is the file's end, and
// its CRC counts only when it is enciphered).
std::vector<uint8_t> ArchiveWithA300ByteName(size_t entries, size_t longOne) {
    vorntest::TestArchive archiveSpec;
    const std::string placeholder(255, 'L');
    for (size_t i = 0; i < entries; ++i) {
        vorntest::TestEntry e;
        e.name = i == longOne ? placeholder : "f" + std::to_string(i) + ".txt";
        std::string text = "entry " + std::to_string(i);
        e.data.assign(text.begin(), text.end());
        e.method = pack::Method::Stored;
        archiveSpec.entries.push_back(e);
    }
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    std::string view(bytes.begin(), bytes.end());
    size_t at = view.find(placeholder + '\0');
    EXPECT_NE(at, std::string::npos);
    // The trailer sits just before the table; its last field is the table's length.
    size_t tableStart = view.find(std::string("f0.txt") + '\0');
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= uint32_t{bytes[tableStart - 4 + i]} << (8 * i);
    length += 45;
    for (int i = 0; i < 4; ++i) bytes[tableStart - 4 + i] = static_cast<uint8_t>(length >> (8 * i));
    bytes.insert(bytes.begin() + static_cast<long>(at), 45, 'L');
    bytes.insert(bytes.end(), 3, 0);  // the padding keeps the table a multiple of 16
    return bytes;
}

TEST(ToolSafety, AnEntryWithATooLongNameIsRefusedAloneAndTheOthersExtract) {
    ScratchFolder scratch;
    constexpr size_t kEntries = 10000, kLongOne = 4321;
    fs::path archive = scratch / "long.vorn";
    ASSERT_TRUE(
        vorntest::WriteWholeFile(archive.string(), ArchiveWithA300ByteName(kEntries, kLongOne)));
    fs::path dest = scratch / "dest";
    RunResult run = Vorn({"x", "-q", archive.string(), "-o", dest.string()});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("vorn: refused entry 4321: its name is longer than 255 bytes"),
              std::string::npos)
        << run.err.substr(0, 500);
    size_t files = std::distance(fs::directory_iterator(dest), fs::directory_iterator());
    EXPECT_EQ(files, kEntries - 1);
    EXPECT_EQ(ReadFile(dest / "f0.txt"), "entry 0");
    EXPECT_EQ(ReadFile(dest / "f9999.txt"), "entry 9999");
    EXPECT_FALSE(fs::exists(dest / "f4321.txt"));

    // list and test refuse that entry alone as well, and go through the others.
    for (const char* command : {"list", "test"}) {
        RunResult look = Vorn({command, archive.string()});
        EXPECT_EQ(look.exitCode, 1) << command << ": " << look.err.substr(0, 500);
        EXPECT_NE(look.err.find("vorn: refused entry 4321: its name is longer than 255 bytes"),
                  std::string::npos)
            << command;
        std::string shown =
            std::string(command) == "list" ? "f9999.txt" : "1 of 10000 entries failed";
        EXPECT_NE((look.out + look.err).find(shown), std::string::npos)
            << command << ": " << look.err.substr(0, 500);
    }
}

}  // namespace
}  // namespace tooltest
