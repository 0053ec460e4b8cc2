// Planted DLLs: a comctl32.dll, uxtheme.dll, version.dll, dwmapi.dll and bcrypt.dll saved beside
// the self-extractor or vorn.exe, as a browser saves them into one download folder. Wine is told to
// prefer a DLL found there to its own, as Windows does for any DLL that is not a known DLL
// (WINEDLLOVERRIDES, set for the whole run in CMakeLists.txt: Wine reads it from the environment
// a process starts with, not from the one its parent hands over). Each
// test first runs a program that loads the DLLs by name beside them, which must load and mark
// every one (so the attack works in this folder); the program under test must then mark none.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sfx_driver.h"
#include "test_archive.h"

namespace {

namespace fs = std::filesystem;
using namespace sfxtest;

using Names = std::vector<std::string>;
// DLLs the programs imported (comctl32 the stub, bcrypt vorn.exe) and DLLs that system libraries
// load by name on a program's behalf.
const Names kPlantedBesideTheTool = {"comctl32.dll", "uxtheme.dll", "version.dll", "dwmapi.dll",
                                     "bcrypt.dll"};
// Wine's own user32, unlike Windows' one, imports version.dll, so the loader maps a planted one
// into every program with a window before the program's first instruction; planted beside the
// stub, it would show nothing about the stub.
const Names kPlantedBesideTheStub = {"comctl32.dll", "uxtheme.dll", "dwmapi.dll", "bcrypt.dll"};

constexpr char kMainCaption[] = "Tarnwick Archiver self-extractor";
constexpr char kDoneCaption[] = "Done";
constexpr int kExtract = 1;
constexpr int kDestDir = 1000;
constexpr int kProgress = 1004;

constexpr char kSampleName[] = "readme.txt";
constexpr size_t kSampleBytes = 20000;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

class PlantedDlls : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        ASSERT_TRUE(EnterTestDesktop()) << "cannot make the test desktop";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = WindowsPathFromUnix(std::string(VORN_DLL_TEST_DIR) + "/work/" + info->name());
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        fs::create_directories(folder_);
        marker_ = folder_ / "loaded.txt";
        SetEnvironmentVariableW(L"VORN_PLANTED_DLL_MARKER", marker_.wstring().c_str());
    }

    void TearDown() override {
        program_.Kill();
        SetEnvironmentVariableW(L"VORN_PLANTED_DLL_MARKER", nullptr);
        if (!HasFailure() && !folder_.empty()) {
            std::error_code ignored;
            fs::remove_all(folder_, ignored);
        }
    }

    // The planted DLLs loaded since the last call, as lines of their paths; the marks cleared.
    std::string TakeLoaded() {
        std::string loaded = ReadAll(marker_);
        DeleteFileW(marker_.wstring().c_str());
        return loaded;
    }

    // A copy of the program beside the planted DLLs, run there with arguments in that folder as
    // its current folder too; its exit code.
    DWORD RunBeside(const std::string& program, const std::string& arguments) {
        fs::path exe = folder_ / fs::path(WindowsPathFromUnix(program)).filename();
        if (!fs::exists(exe)) fs::copy_file(WindowsPathFromUnix(program), exe);
        std::wstring line = L"\"" + exe.wstring() + L"\" " + Widen(arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder_.wstring().c_str(), &startup, &process)) {
            return 1234;
        }
        DWORD code = 1234;
        if (WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &code);
        } else {
            TerminateProcess(process.hProcess, 1234);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return code;
    }

    // Plants the DLLs in the folder. The control: loaded the ordinary way, by name, every one is
    // taken from beside the program and marks the file.
    void PlantAndExpectAPlainLoadToLoadEach(const Names& planted) {
        std::string arguments;
        for (const std::string& name : planted) {
            fs::copy_file(WindowsPathFromUnix(VORN_PLANTED_DLL), folder_ / name);
            arguments += " " + name;
        }
        EXPECT_EQ(RunBeside(VORN_PLAIN_LOADER, arguments), 0u) << "a planted DLL did not load";
        std::string loaded = Lower(TakeLoaded());
        for (const std::string& name : planted) {
            EXPECT_NE(loaded.find(Lower((folder_ / name).string())), std::string::npos)
                << name << " was not marked; marks: " << loaded;
        }
    }

    static vorntest::TestArchive SampleArchive() {
        vorntest::TestArchive archiveSpec;
        vorntest::TestEntry entry;
        entry.name = kSampleName;
        entry.data.assign(kSampleBytes, 'r');
        archiveSpec.entries.push_back(entry);
        return archiveSpec;
    }

    static bool HoldsTheSample(const fs::path& folder) {
        return ReadAll(folder / kSampleName) == std::string(kSampleBytes, 'r');
    }

    // The sample behind the stub, as setup.exe in the planted folder.
    std::string WriteSelfExtractor() {
        vorntest::TestArchive archiveSpec = SampleArchive();
        std::string stub = ReadAll(WindowsPathFromUnix(VORN_SFX_STUB));
        archiveSpec.prefix.assign(stub.begin(), stub.end());
        std::string exe = (folder_ / "setup.exe").string();
        WriteAll(exe, vorntest::BuildTestArchive(archiveSpec));
        return exe;
    }

    // The program as started without arguments: its dialog, an extraction into folder with the
    // progress bar in the dialog's colour, and the completion question answered Yes.
    void ExtractThroughTheDialog(const fs::path& folder) {
        HWND main = program_.WaitFor(kMainCaption, "#32770");
        ASSERT_TRUE(main) << "no main dialog";
        ASSERT_TRUE(SetControlText(main, kDestDir, folder.string()));
        ASSERT_TRUE(Press(main, kExtract));
        HWND done = program_.WaitFor(kDoneCaption, "#32770");
        ASSERT_TRUE(done) << "no completion question";
        EXPECT_EQ(SendDlgItemMessageW(main, kProgress, PBM_GETBARCOLOR, 0, 0), RGB(11, 125, 190));
        ASSERT_TRUE(Press(done, IDYES));
        DWORD code = 1234;
        ASSERT_TRUE(program_.WaitForExit(&code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(HoldsTheSample(folder)) << "the dialog extracted nothing";
    }

    fs::path folder_;
    fs::path marker_;
    Program program_;
};

TEST_F(PlantedDlls, SelfExtractorLoadsNoneInItsDialogNorSilently) {
    PlantAndExpectAPlainLoadToLoadEach(kPlantedBesideTheStub);
    std::string exe = WriteSelfExtractor();

    fs::create_directories(folder_ / "dialog");
    ASSERT_TRUE(program_.Start(exe));
    ExtractThroughTheDialog(folder_ / "dialog");
    program_.Kill();
    EXPECT_EQ(TakeLoaded(), "") << "the dialog run loaded a planted DLL";

    ASSERT_TRUE(program_.Start(exe, "/S \"/D=" + (folder_ / "silent").string() + "\""));
    DWORD code = 1234;
    EXPECT_TRUE(program_.WaitForExit(&code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(HoldsTheSample(folder_ / "silent")) << "the silent run extracted nothing";
    EXPECT_EQ(TakeLoaded(), "") << "the silent run loaded a planted DLL";
}

TEST_F(PlantedDlls, VornExeLoadsNoneListingNorExtracting) {
    PlantAndExpectAPlainLoadToLoadEach(kPlantedBesideTheTool);
    WriteAll(folder_ / "sample.vorn", vorntest::BuildTestArchive(SampleArchive()));

    EXPECT_EQ(RunBeside(VORN_TOOL_EXE, "list sample.vorn"), 0u);
    EXPECT_EQ(TakeLoaded(), "") << "listing loaded a planted DLL";
    // Extracting names its temporary files from the system's random source (bcrypt).
    EXPECT_EQ(RunBeside(VORN_TOOL_EXE, "extract -o out sample.vorn"), 0u);
    EXPECT_TRUE(HoldsTheSample(folder_ / "out")) << "extracting wrote nothing";
    EXPECT_EQ(TakeLoaded(), "") << "extracting loaded a planted DLL";
}

}  // namespace
