// vorn.exe under Wine, driven as a publisher on Windows drives it: a folder with nested,
// read-only, hidden and non-ASCII names packed, listed, tested and extracted back with its bytes
// and attributes; a self-extractor made with it and extracted by the stub; and archives of
// vorn.exe and of the Linux tool read alike by both.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entry_name_cases.h"
#include "sfx_driver.h"
#include "test_archive.h"

namespace {

namespace fs = std::filesystem;
using namespace sfxtest;

fs::path Utf8Path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Of(const fs::path& path) {
    std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

struct ToolRun {
    DWORD exitCode = 1234;
    std::string out;
};

// Runs vorn.exe with args (UTF-8) in folder, standard input empty, and collects its output.
ToolRun RunVorn(const std::vector<std::string>& args, const fs::path& folder) {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    std::string line = "\"" + WindowsPathFromUnix(VORN_TOOL_EXE) + "\"";
    for (const std::string& arg : args) line += " \"" + arg + "\"";
    std::wstring command = Widen(line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.wstring().c_str(), &startup, &process);
    CloseHandle(writeEnd);
    CloseHandle(nothing);
    char buffer[4096];
    DWORD got;
    while (started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        run.out.append(buffer, got);
    }
    CloseHandle(readEnd);
    if (!started) return run;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return run;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

DWORD AttributesOf(const fs::path& path) {
    return GetFileAttributesW(path.wstring().c_str()) &
           (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// Every file below root: its name, its bytes and its read-only, hidden and system bits.
std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        files.push_back(Utf8Of(fs::relative(item.path(), root)) + " = " + ReadAll(item.path()) +
                        " attributes " + std::to_string(AttributesOf(item.path())));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The listing without the line that names the archive's own path.
std::string ListingOf(const std::string& json) {
    std::string kept;
    size_t at = 0;
    while (at < json.size()) {
        size_t end = json.find('\n', at);
        if (end == std::string::npos) end = json.size();
        std::string line = json.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find("\"archive\":") == std::string::npos) kept += line + "\n";
        at = end + 1;
    }
    return kept;
}

class VornExe : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        unix_ = std::string(VORN_TOOL_TEST_DIR) + "/work/" + info->name();
        folder_ = fs::path(WindowsPathFromUnix(unix_));
        // A read-only file left by an earlier run would stop remove_all part way, and the files
        // after it would then stand in this run's way.
        std::error_code ignored;
        for (fs::recursive_directory_iterator it(folder_, ignored), end; it != end;
             it.increment(ignored)) {
            SetFileAttributesW(it->path().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        fs::remove_all(folder_, ignored);
        fs::create_directories(folder_);
    }

    fs::path InSource(const std::string& relative) { return folder_ / Utf8Path(src_ + relative); }

    // A publisher's folder: nested levels, a read-only and a hidden file, names beyond ASCII.
    void MakeSource() {
        WriteAll(InSource("/readme.txt"), "Read me first.\r\n");
        WriteAll(InSource("/docs/guide/intro.txt"), std::string(20000, 'g') + "end");
        WriteAll(InSource("/Ελληνικά/σημειώσεις.txt"), "σημειώσεις");
        WriteAll(InSource("/日本語/資料.txt"), "資料");
        WriteAll(InSource("/locked.txt"), "do not change");
        WriteAll(InSource("/.hidden.cfg"), "hidden=1");
        SetFileAttributesW(InSource("/locked.txt").wstring().c_str(),
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        SetFileAttributesW(InSource("/.hidden.cfg").wstring().c_str(),
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    }

    ToolRun Vorn(const std::vector<std::string>& args) { return RunVorn(args, folder_); }

    std::string unix_;
    fs::path folder_;
    std::string src_ = "Quelle";
};

TEST_F(VornExe, PacksListsTestsAndExtractsNamesBytesAndAttributes) {
    MakeSource();
    ToolRun pack = Vorn({"pack", "-q", "sample.vorn", src_});
    ASSERT_EQ(pack.exitCode, 0u) << pack.out;
    ToolRun list = Vorn({"list", "sample.vorn"});
    EXPECT_EQ(list.exitCode, 0u);
    for (const char* shown : {"Quelle\\Ελληνικά\\σημειώσεις.txt", "Quelle\\日本語\\資料.txt",
                              "Quelle\\docs\\guide\\intro.txt", "6 files"}) {
        EXPECT_NE(list.out.find(shown), std::string::npos) << list.out;
    }
    EXPECT_NE(list.out.find("R..A  "), std::string::npos) << "read-only bit not kept";
    EXPECT_NE(list.out.find(".H.A  "), std::string::npos) << "hidden bit not kept";
    ToolRun test = Vorn({"test", "sample.vorn"});
    EXPECT_EQ(test.exitCode, 0u) << test.out;
    ToolRun extract = Vorn({"x", "-q", "sample.vorn", "-o", "out"});
    ASSERT_EQ(extract.exitCode, 0u) << extract.out;
    EXPECT_EQ(Tree(folder_ / "out" / Utf8Path(src_)), Tree(folder_ / Utf8Path(src_)));
    // A read-only file in the way is replaced when asked to.
    ToolRun again = Vorn({"x", "-q", "--overwrite", "sample.vorn", "-o", "out"});
    EXPECT_EQ(again.exitCode, 0u) << again.out;
}

// Every name of the shared table under Windows's rule: an accepted one lands where the table says,
// a refused one (devices, levels of dots and spaces, trailing dots) is named with the words the
// self-extractor's box uses and the rule's reason, and nothing lands anywhere else.
TEST_F(VornExe, EveryNameOfTheSharedTableIsExtractedOrRefusedAsWindowsRuleSays) {
    ASSERT_TRUE(
        vorntest::WriteWholeFile((folder_ / "names.vorn").string(),
                                 vorntest::BuildTestArchive(vorntest::EntryNameCaseArchive())));
    fs::create_directories(folder_ / "in" / "dest");
    ToolRun extract = Vorn({"x", "-q", "names.vorn", "-o", "in\\dest"});
    EXPECT_EQ(extract.exitCode, 1u) << extract.out;
    size_t accepted = 0;
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        if (c.windows == format::EntryNameVerdict::Safe) {
            EXPECT_EQ(ReadAll(folder_ / "in" / "dest" / Utf8Path(c.landsAt)),
                      std::string("entry ") + c.name)
                << c.name;
            ++accepted;
            continue;
        }
        std::string line = std::string("vorn: refused ") + c.name +
                           ": This entry's path would leave the destination folder; it is not "
                           "extracted (" +
                           format::EntryNameReason(c.windows) + ").";
        EXPECT_NE(extract.out.find(line), std::string::npos) << line << extract.out;
    }
    size_t written = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder_)) {
        if (!item.is_regular_file() || item.path().filename() == "names.vorn") continue;
        ++written;
        EXPECT_EQ(item.path().string().rfind((folder_ / "in" / "dest").string(), 0), 0u)
            << item.path();
    }
    EXPECT_EQ(written, accepted);
}

TEST_F(VornExe, MakesASelfExtractorThatTheStubExtracts) {
    MakeSource();
    ToolRun pack = Vorn(
        {"pack", "-q", "--sfx", "windows64", "--comment", "Made with vorn.exe", "setup.exe", src_});
    ASSERT_EQ(pack.exitCode, 0u) << pack.out;
    ASSERT_TRUE(EnterTestDesktop());
    Program program;
    ASSERT_TRUE(program.Start((folder_ / "setup.exe").string()));
    HWND main = program.WaitFor("Tarnwick Archiver self-extractor", "#32770");
    ASSERT_TRUE(main);
    EXPECT_EQ(WindowText(GetDlgItem(main, 0x7010)), "Made with vorn.exe");
    ASSERT_TRUE(SetControlText(main, 1000, (folder_ / "landed").string()));
    ASSERT_TRUE(Press(main, 1));
    HWND create = program.WaitFor("Error", "#32770");
    ASSERT_TRUE(create);
    ASSERT_TRUE(Press(create, IDYES) && WaitGone(create));
    HWND done = program.WaitFor("Done", "#32770");
    ASSERT_TRUE(done);
    ASSERT_TRUE(Press(done, IDYES));
    DWORD code = 1234;
    ASSERT_TRUE(program.WaitForExit(&code));
    EXPECT_EQ(Tree(folder_ / "landed" / Utf8Path(src_)), Tree(folder_ / Utf8Path(src_)));
}

TEST_F(VornExe, ArchivesOfBothToolsReadTheSameInBoth) {
    MakeSource();
    ASSERT_EQ(Vorn({"pack", "-q", "windows.vorn", src_}).exitCode, 0u);
    std::string output;
    ASSERT_EQ(RunUnix("'" + std::string(VORN_NATIVE_TOOL) + "' pack -q linux.vorn " + src_, unix_,
                      &output),
              0)
        << output;
    for (const char* archive : {"windows.vorn", "linux.vorn"}) {
        ToolRun here = Vorn({"list", "--json", archive});
        ASSERT_EQ(here.exitCode, 0u) << here.out;
        std::string there;
        ASSERT_EQ(RunUnix("'" + std::string(VORN_NATIVE_TOOL) + "' list --json " + archive, unix_,
                          &there),
                  0)
            << there;
        EXPECT_EQ(ListingOf(here.out), ListingOf(there)) << archive;
        EXPECT_EQ(Vorn({"test", "-q", archive}).exitCode, 0u) << archive;
        EXPECT_EQ(RunUnix("'" + std::string(VORN_NATIVE_TOOL) + "' test -q " + archive, unix_), 0)
            << archive;
    }
}

// A branded self-extractor is the same bytes whichever system packed it.
TEST_F(VornExe, BrandedSelfExtractorIsTheSameBytesAsTheLinuxTools) {
    // Plain files: attributes beyond read-only are Windows' own, which Linux cannot give.
    WriteAll(folder_ / "plain" / "readme.txt", "Read me first.\r\n");
    WriteAll(folder_ / "plain" / "docs" / "guide.txt", std::string(30000, 'g') + "end");
    fs::create_directories(folder_ / "windows");
    fs::create_directories(folder_ / "linux");
    fs::copy_file(WindowsPathFromUnix(VORN_SOURCE_DIR "/sfx/win32/vornsfx.ico"),
                  folder_ / "app.ico");
    const std::string options =
        "--sfx windows64 --icon app.ico --product-name Sample --product-version 1.2.3 "
        "--company 'Sample Co' --description 'Sample setup' --copyright '(c) Sample Co' "
        "--title 'Sample Setup' --elevate";
    SetEnvironmentVariableA("SOURCE_DATE_EPOCH", "1700000000");
    ToolRun pack = Vorn({"pack",
                         "-q",
                         "--sfx",
                         "windows64",
                         "--icon",
                         "app.ico",
                         "--product-name",
                         "Sample",
                         "--product-version",
                         "1.2.3",
                         "--company",
                         "Sample Co",
                         "--description",
                         "Sample setup",
                         "--copyright",
                         "(c) Sample Co",
                         "--title",
                         "Sample Setup",
                         "--elevate",
                         "windows\\setup.exe",
                         "plain"});
    SetEnvironmentVariableA("SOURCE_DATE_EPOCH", nullptr);
    ASSERT_EQ(pack.exitCode, 0u) << pack.out;
    std::string output;
    ASSERT_EQ(RunUnix("SOURCE_DATE_EPOCH=1700000000 '" + std::string(VORN_NATIVE_TOOL) +
                          "' pack -q " + options + " linux/setup.exe plain",
                      unix_, &output),
              0)
        << output;
    const auto windows = ReadAll(folder_ / "windows" / "setup.exe");
    EXPECT_FALSE(windows.empty());
    EXPECT_TRUE(windows == ReadAll(folder_ / "linux" / "setup.exe"))
        << "vorn.exe and the Linux tool wrote different self-extractors";
}

}  // namespace
