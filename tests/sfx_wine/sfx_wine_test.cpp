// The Windows self-extractor end to end: each test builds an archive with our writer, appends it
// to the real stub, starts the result under Wine and works its dialogs the way a user would, then
// checks what landed on disk byte for byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include "byte_reading.h"
#include "crypto/sha256.h"
#include "entry_name_cases.h"
#include "format/container.h"
#include "format/sealed.h"
#include "format/sfx_settings.h"
#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "pack/solid_groups.h"
#include "sfx_driver.h"
#include "test_archive.h"

namespace {

using namespace sfxtest;
namespace fs = std::filesystem;

// What the program shows, word for word.
constexpr char kMainCaption[] = "Tarnwick Archiver self-extractor";
constexpr char kPasswordCaption[] = "Enter password";
constexpr char kDialogClass[] = "#32770";
constexpr char kOpenErrorCaption[] = "Error opening file";
constexpr char kCorruptText[] = "Archive is corrupt";
constexpr char kPasswordNeededText[] = "The selected operation requires a correct password";
constexpr char kCrcText[] = "Decompressed file CRC does not match original";
constexpr char kArchivePromptText[] =
    "This archive is protected, please enter the password for it below";
constexpr char kEntryPromptText[] =
    "This file is protected through encryption, please enter the password for the file below";
constexpr char kErrorCaption[] = "Error";
constexpr char kShortPasswordText[] = "The minimum password length is 6 characters";
constexpr char kCreateFolderText[] = "This directory does not exist, create now?";
constexpr char kOverwriteCaption[] = "Tarnwick Archiver SFX";
constexpr char kDoneCaption[] = "Done";
constexpr char kDoneText[] = "Extraction Complete, Exit?";
constexpr char kCancelCaption[] = "Cancel";
constexpr char kCancelText[] = "Are you sure you wish to cancel extraction?";

// Control and button ids of the two dialogs and of message boxes.
constexpr int kExtract = 1;
constexpr int kClose = 2;
constexpr int kDestDir = 1000;
constexpr int kBrowse = 1002;
constexpr int kOverwrite = 1003;
constexpr int kProgress = 1004;
constexpr int kFileList = 1005;
constexpr int kCurrentFile = 1006;
constexpr int kFilesDone = 1007;
constexpr int kCommentView = 0x7010;
constexpr int kPasswordField = 1035;
constexpr int kReusePassword = 1033;
constexpr int kPasswordText = 1008;
constexpr int kBoxText = 0xFFFF;
constexpr int kOk = IDOK;
constexpr int kCancel = IDCANCEL;
constexpr int kYes = IDYES;
constexpr int kNo = IDNO;

const int kProgressArea[] = {kProgress, kFileList, kCurrentFile, kFilesDone};

// An entry big enough that its extraction is still running when Close is pressed, made of many
// blocks so that the cancel is seen soon.
constexpr size_t kBigBlockBytes = 1u << 20;
constexpr int kBigBlockCopies = 128;

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Text-like bytes that the codec finds matches in, different for every seed.
std::vector<uint8_t> SampleData(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"alpha ", "beta ", "gamma ",    "delta\r\n", "epsilon ",
                                         "zeta ",  "eta ",  "theta\r\n", "iota ",     "kappa "};
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t state = seed * 2654435761u + 1;
    while (out.size() < size) {
        state = state * 1664525u + 1013904223u;
        const char* word = kWords[(state >> 16) % 10];
        for (const char* c = word; *c && out.size() < size; ++c) out.push_back(uint8_t(*c));
        if ((state & 0xF) == 0 && out.size() < size) out.push_back(uint8_t(state >> 24));
    }
    return out;
}

vorntest::TestEntry Entry(const std::string& name, std::vector<uint8_t> data,
                          pack::Method method = pack::Method::Compressed) {
    vorntest::TestEntry entry;
    entry.name = name;
    entry.data = std::move(data);
    entry.method = method;
    return entry;
}

// Blocks stand alone, so one encoded block repeated is a valid entry: it costs one block's
// encoding to build and the decoder its whole size to work through.
vorntest::TestEntry RepeatedBlockEntry(const std::string& name, const std::vector<uint8_t>& block,
                                       int copies) {
    std::vector<uint8_t> encoded = vorntest::EncodeTestEntryData(
        block, pack::Method::Compressed, uint32_t(block.size()), {}, nullptr);
    vorntest::TestEntry entry = Entry(name, {});
    entry.rawStoredData.emplace();
    for (int i = 0; i < copies; ++i) {
        entry.data.insert(entry.data.end(), block.begin(), block.end());
        entry.rawStoredData->insert(entry.rawStoredData->end(), encoded.begin(), encoded.end());
    }
    return entry;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A path from UTF-8 text, whatever this program's own code page is.
fs::path Utf8Path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : " | ") + item;
    return out;
}

// A message box or prompt as found on screen.
struct Box {
    HWND window = nullptr;
    std::string text;
};

class SelfExtractor : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        ASSERT_TRUE(EnterTestDesktop()) << "cannot make the test desktop";
        ASSERT_FALSE(Stub().empty()) << "cannot read the stub " << VORN_SFX_STUB;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        unixFolder_ = std::string(VORN_SFX_TEST_DIR) + "/work/" + info->name();
        folder_ = fs::path(WindowsPathFromUnix(unixFolder_));
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        fs::create_directories(folder_);
    }

    void TearDown() override {
        program_.Kill();
        // A failed test keeps its folder for a look at what was written.
        if (!HasFailure() && !folder_.empty()) {
            std::error_code ignored;
            fs::remove_all(folder_, ignored);
        }
    }

    static const std::vector<uint8_t>& Stub() {
        static const std::vector<uint8_t> stub = ReadAll(WindowsPathFromUnix(VORN_SFX_STUB));
        return stub;
    }

    // Writes stub (the built one unless given) and archive as the program file.
    void Write(vorntest::TestArchive archiveSpec, const fs::path& exe = {},
               const std::vector<uint8_t>& stub = Stub()) {
        archiveSpec.prefix = stub;
        exe_ = exe.empty() ? (folder_ / "setup.exe").string() : exe.string();
        WriteAll(exe_, vorntest::BuildTestArchive(archiveSpec));
    }

    // Writes the program file and starts it.
    void Launch(vorntest::TestArchive archiveSpec, const fs::path& exe = {},
                const std::vector<uint8_t>& stub = Stub()) {
        Write(std::move(archiveSpec), exe, stub);
        ASSERT_TRUE(program_.Start(exe_)) << "cannot start " << exe_;
    }

    HWND MainDialog() { return program_.WaitFor(kMainCaption, kDialogClass); }

    // Waits for a box with this caption and reads its text; empty window on timeout.
    Box WaitBox(const std::string& caption, HWND notThis = nullptr) {
        Box box;
        box.window = program_.WaitFor(caption, kDialogClass, notThis);
        if (box.window) box.text = ControlText(box.window, kBoxText);
        return box;
    }

    // Presses a button of a box and waits until the box has gone.
    bool Answer(HWND box, int button) { return Press(box, button) && WaitGone(box); }

    std::string Windows() { return "windows open: " + Join(program_.WindowCaptions()); }

    // Ends the program through the completion question and checks that it exits with code 0.
    void AnswerDoneAndExit() {
        Box done = WaitBox(kDoneCaption);
        ASSERT_TRUE(done.window) << Windows();
        EXPECT_EQ(done.text, kDoneText);
        ASSERT_TRUE(Answer(done.window, kYes));
        ExpectExitCodeZero();
    }

    void ExpectExitCodeZero() {
        DWORD code = 1234;
        ASSERT_TRUE(program_.WaitForExit(&code)) << "still running; " << Windows();
        EXPECT_EQ(code, 0u);
    }

    void Shot(const std::string& name, HWND window) {
        if (!Screenshot(VORN_SFX_SCREENSHOT_DIR, name, window)) {
            std::printf("note: screenshot %s could not be taken\n", name.c_str());
        }
    }

    void ExpectFile(const std::string& relative, const std::vector<uint8_t>& bytes) {
        fs::path path = folder_ / Utf8Path(relative);
        ASSERT_TRUE(fs::is_regular_file(path)) << relative << " missing";
        std::vector<uint8_t> got = ReadAll(path);
        EXPECT_EQ(got.size(), bytes.size()) << relative;
        EXPECT_TRUE(got == bytes) << relative << " differs";
    }

    // Part files (".vorn-" in the name) anywhere in the test folder.
    size_t PartFiles() {
        size_t parts = 0;
        for (const auto& e : fs::recursive_directory_iterator(folder_)) {
            parts += e.path().filename().string().find(".vorn-") != std::string::npos;
        }
        return parts;
    }

    fs::path folder_;
    std::string unixFolder_;  // the same folder as the Unix side names it
    std::string exe_;
    Program program_;
};

// --- Start-up -------------------------------------------------------------------------------

TEST_F(SelfExtractor, ArchiveWithoutCommentOpensIdleWithProgramFolderAsDestination) {
    vorntest::TestArchive archiveSpec;
    auto readme = SampleData(3000, 1);
    auto nested = SampleData(70000, 2);
    auto empty = std::vector<uint8_t>();
    archiveSpec.entries.push_back(Entry("readme.txt", readme));
    archiveSpec.entries.push_back(Entry("a\\b\\c.txt", nested));
    archiveSpec.entries.push_back(Entry("empty.dat", empty, pack::Method::Stored));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();

    EXPECT_EQ(program_.Find(kPasswordCaption), nullptr);
    EXPECT_EQ(FocusedControl(main), GetDlgItem(main, kExtract));
    EXPECT_EQ(ControlText(main, kDestDir), folder_.string() + "\\");
    for (int id : kProgressArea) {
        EXPECT_TRUE(ControlVisible(main, id)) << id;
        EXPECT_FALSE(ControlEnabled(main, id)) << id;
    }
    EXPECT_EQ(GetDlgItem(main, kCommentView), nullptr);
    EXPECT_TRUE(ListItems(main, kFileList).empty());
    EXPECT_FALSE(IsChecked(main, kOverwrite));

    // The close box asks like the Close button.
    PostMessageA(main, WM_CLOSE, 0, 0);
    Box cancel = WaitBox(kCancelCaption);
    ASSERT_TRUE(cancel.window) << Windows();
    EXPECT_EQ(cancel.text, kCancelText);
    ASSERT_TRUE(Answer(cancel.window, kNo));

    ASSERT_TRUE(Press(main, kExtract));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(done.text, kDoneText);
    for (int id : kProgressArea) EXPECT_TRUE(ControlEnabled(main, id)) << id;
    EXPECT_TRUE(ControlEnabled(main, kExtract));
    EXPECT_TRUE(ControlEnabled(main, kClose));
    EXPECT_EQ(ListItems(main, kFileList),
              (std::vector<std::string>{"a\\b\\c.txt", "empty.dat", "readme.txt"}));
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current file: empty.dat");
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 3 of 3");
    EXPECT_EQ(ProgressPosition(main, kProgress), 100);
    Shot("extraction_complete", done.window);
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();

    ExpectFile("readme.txt", readme);
    ExpectFile("a\\b\\c.txt", nested);
    ExpectFile("empty.dat", empty);
}

// The picture in the README: the sample as a user finds it in a downloads folder.
TEST_F(SelfExtractor, SampleInADownloadsFolderProposesThatFolderAndShowsItsComment) {
    const fs::path downloads = "C:\\users\\Public\\Downloads";
    fs::create_directories(downloads);
    std::vector<uint8_t> comment =
        ReadAll(WindowsPathFromUnix(VORN_SOURCE_DIR) + "\\examples\\sample-comment.txt");
    ASSERT_FALSE(comment.empty());
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("sample\\README.txt", SampleData(900, 29)));
    archiveSpec.comment = std::string(comment.begin(), comment.end());
    Launch(archiveSpec, downloads / "sample-setup.exe");
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    EXPECT_EQ(ControlText(main, kDestDir), "C:\\users\\Public\\Downloads\\");
    // Written on Linux, the comment's lines end in LF; the viewer breaks lines at CR LF only.
    std::string shown;
    for (uint8_t c : comment) shown += c == '\n' ? "\r\n" : std::string(1, char(c));
    EXPECT_EQ(WindowText(GetDlgItem(main, kCommentView)), shown);
    Shot("readme_main_dialog", main);
    program_.Kill();
    std::error_code ignored;
    fs::remove(downloads / "sample-setup.exe", ignored);
}

TEST_F(SelfExtractor, BuiltInDestinationIsProposedAndExtractedInto) {
    const std::string preset = folder_.string() + "\\Preset Ünïcode";
    std::vector<uint8_t> stub = Stub();
    std::string error;
    ASSERT_TRUE(pack::SetBuiltInDestination(stub, preset, &error)) << error;
    vorntest::TestArchive archiveSpec;
    auto data = SampleData(3000, 30);
    archiveSpec.entries.push_back(Entry("inner\\file.txt", data));
    Launch(archiveSpec, {}, stub);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    EXPECT_EQ(ControlText(main, kDestDir), preset);
    ASSERT_TRUE(Press(main, kExtract));
    Box ask = WaitBox(kErrorCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, kCreateFolderText);
    ASSERT_TRUE(Answer(ask.window, kYes));
    AnswerDoneAndExit();
    ExpectFile("Preset Ünïcode\\inner\\file.txt", data);
}

// Level 3, the default of self-extractors: LZ blocks in a marked archive, one entry of x86 code
// that takes the branch filter, one of two blocks, one stored and one empty.
vorntest::TestArchive Level3Archive(
    std::vector<std::pair<std::string, std::vector<uint8_t>>>* files) {
    std::vector<uint8_t> code;
    for (uint32_t i = 0; code.size() < 200000; ++i) {
        const uint8_t body[] = {0x48, 0x89, 0xC1, 0x8B, 0x45, uint8_t(i % 7 * 8), 0xE8};
        code.insert(code.end(), body, body + sizeof body);
        uint32_t rel = (i * 2654435761u % 40) * 4096 - uint32_t(code.size() + 4);
        for (int b = 0; b < 4; ++b) code.push_back(uint8_t(rel >> (8 * b)));
    }
    // lib.dll also has the x86-64 operands that a solid group's filter rewrites.
    *files = {{"bin\\tool.exe", code},
              {"bin\\lib.dll", packtest::X64Code(150000, 3)},
              {"docs\\big.txt", SampleData(1300000, 41)},
              {"notes.txt", SampleData(5000, 42)},
              {"empty.dat", {}}};
    vorntest::TestArchive archiveSpec;
    for (const auto& [name, data] : *files) {
        vorntest::TestEntry entry = Entry(name, data, pack::Method::Best);
        entry.encoder.level = encoder::kLzLevel;
        entry.blockSize = 1 << 20;
        archiveSpec.entries.push_back(entry);
    }
    return archiveSpec;
}

TEST_F(SelfExtractor, Level3ArchiveExtractsThroughTheDialog) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    Launch(Level3Archive(&files));
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    AnswerDoneAndExit();
    for (const auto& [name, data] : files) ExpectFile(name, data);
}

// Signed after packing, the program carries the signature's certificate table after its archive.
TEST_F(SelfExtractor, SignedSelfExtractorVerifiesAndExtracts) {
    vorntest::TestArchive archiveSpec;
    auto data = SampleData(20000, 31);
    archiveSpec.entries.push_back(Entry("signed\\data.txt", data));
    archiveSpec.comment = "Signed by its publisher.";
    Write(archiveSpec, folder_ / "unsigned.exe");
    std::string output;
    int status = RunUnix(
        "openssl req -x509 -newkey rsa:2048 -nodes -subj '/CN=VORN test' -days 1 "
        "-keyout key.pem -out cert.pem && "
        "osslsigncode sign -certs cert.pem -key key.pem -n 'VORN test' -in unsigned.exe "
        "-out setup.exe && osslsigncode verify -CAfile cert.pem setup.exe",
        unixFolder_, &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("Signature verification: ok"), std::string::npos) << output;
    exe_ = (folder_ / "setup.exe").string();
    ASSERT_TRUE(program_.Start(exe_));
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    EXPECT_EQ(WindowText(GetDlgItem(main, kCommentView)), "Signed by its publisher.");
    ASSERT_TRUE(Press(main, kExtract));
    AnswerDoneAndExit();
    ExpectFile("signed\\data.txt", data);
}

TEST_F(SelfExtractor, ProgramInADriveRootOffersTheRootAsDestination) {
    const fs::path exe = "C:\\vorn_sfx_root_test.exe";
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("file.txt", SampleData(100, 28)));
    Launch(archiveSpec, exe);
    HWND main = MainDialog();
    EXPECT_TRUE(main) << Windows();
    EXPECT_EQ(ControlText(main, kDestDir), "C:\\");
    program_.Kill();
    std::error_code ignored;
    fs::remove(exe, ignored);
}

TEST_F(SelfExtractor, CorruptArchiveShowsOneErrorBoxAndNoMainDialog) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("one.txt", SampleData(500, 3)));
    archiveSpec.entries.push_back(Entry("two.txt", SampleData(500, 4)));
    archiveSpec.entryCountOverride = 7;  // the records run out long before the seventh
    Launch(archiveSpec);
    Box error = WaitBox(kOpenErrorCaption);
    ASSERT_TRUE(error.window) << Windows();
    EXPECT_EQ(error.text, kCorruptText);
    EXPECT_EQ(program_.Find(kMainCaption), nullptr);
    ASSERT_TRUE(Answer(error.window, kOk));
    ExpectExitCodeZero();
    EXPECT_FALSE(fs::exists(folder_ / "one.txt"));
}

class ArchivePassword : public SelfExtractor {
  protected:
    void LaunchLocked() {
        vorntest::TestArchive archiveSpec;
        archiveSpec.entries.push_back(Entry("inside.txt", contents_));
        archiveSpec.namesPassword = "open sesame";
        Launch(archiveSpec);
    }
    // Waits for the start-up prompt and checks it asks for the archive's password.
    HWND Prompt() {
        HWND prompt = program_.WaitFor(kPasswordCaption, kDialogClass);
        if (prompt) {
            EXPECT_EQ(ControlText(prompt, kPasswordText), kArchivePromptText);
        }
        return prompt;
    }
    std::vector<uint8_t> contents_ = SampleData(5000, 5);
};

TEST_F(ArchivePassword, CancelledPromptReportsPasswordNeeded) {
    LaunchLocked();
    HWND prompt = Prompt();
    ASSERT_TRUE(prompt) << Windows();
    Shot("startup_password_prompt", prompt);
    ASSERT_TRUE(Answer(prompt, kCancel));
    Box error = WaitBox(kOpenErrorCaption);
    ASSERT_TRUE(error.window) << Windows();
    EXPECT_EQ(error.text, kPasswordNeededText);
    ASSERT_TRUE(Answer(error.window, kOk));
    ExpectExitCodeZero();
}

TEST_F(ArchivePassword, WrongPasswordIsReportedAfterOnePrompt) {
    LaunchLocked();
    HWND prompt = Prompt();
    ASSERT_TRUE(prompt) << Windows();
    ASSERT_TRUE(SetControlText(prompt, kPasswordField, "not the one"));
    ASSERT_TRUE(Answer(prompt, kOk));
    Box error = WaitBox(kOpenErrorCaption);
    ASSERT_TRUE(error.window) << Windows();
    EXPECT_EQ(error.text, kCrcText);
    EXPECT_EQ(program_.Find(kPasswordCaption), nullptr) << "asked a second time";
    ASSERT_TRUE(Answer(error.window, kOk));
    ExpectExitCodeZero();
}

TEST_F(ArchivePassword, RightPasswordOpensTheArchive) {
    LaunchLocked();
    HWND prompt = Prompt();
    ASSERT_TRUE(prompt) << Windows();
    ASSERT_TRUE(SetControlText(prompt, kPasswordField, "open sesame"));
    ASSERT_TRUE(Answer(prompt, kOk));
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    AnswerDoneAndExit();
    ExpectFile("inside.txt", contents_);
}

TEST_F(ArchivePassword, LongPasswordReachesTheLibraryAsItsFirst127Characters) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("inside.txt", contents_));
    archiveSpec.namesPassword = std::string(127, 'k');
    Launch(archiveSpec);
    HWND prompt = Prompt();
    ASSERT_TRUE(prompt) << Windows();
    ASSERT_TRUE(SetControlText(prompt, kPasswordField, std::string(127, 'k') + "beyond"));
    ASSERT_TRUE(Answer(prompt, kOk));
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    AnswerDoneAndExit();
    ExpectFile("inside.txt", contents_);
}

TEST_F(ArchivePassword, RightPasswordOpensASealedArchive) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("inside.txt", contents_));
    archiveSpec.seal.emplace().password = "open sesame";
    Launch(archiveSpec);
    HWND prompt = Prompt();
    ASSERT_TRUE(prompt) << Windows();
    ASSERT_TRUE(SetControlText(prompt, kPasswordField, "open sesame"));
    ASSERT_TRUE(Answer(prompt, kOk));
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    AnswerDoneAndExit();
    ExpectFile("inside.txt", contents_);
}

// --- Main dialog ----------------------------------------------------------------------------

TEST_F(SelfExtractor, CommentIsShownUntilExtractReplacesItWithTheProgressArea) {
    const std::string comment =
        "Release notes\r\n"
        "-------------\r\n"
        "Everything in this archive lands beside the program.\r\n"
        "Press Extract to begin.";
    vorntest::TestArchive archiveSpec;
    auto tool = SampleData(40000, 6);
    auto notes = SampleData(800, 7);
    archiveSpec.entries.push_back(Entry("bin\\tool.dll", tool));
    archiveSpec.entries.push_back(Entry("notes.txt", notes));
    archiveSpec.comment = comment;
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();

    HWND viewer = GetDlgItem(main, kCommentView);
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(IsWindowVisible(viewer));
    EXPECT_EQ(WindowText(viewer), comment);
    RECT place = ClientRect(viewer);
    EXPECT_EQ(place.left, 24);
    EXPECT_EQ(place.top, 123);
    EXPECT_EQ(place.right - place.left, 288);
    EXPECT_EQ(place.bottom - place.top, 154);
    EXPECT_TRUE(GetWindowLongA(viewer, GWL_STYLE) & ES_READONLY);
    EXPECT_TRUE(GetWindowLongA(viewer, GWL_STYLE) & ES_MULTILINE);
    for (int id : kProgressArea) EXPECT_FALSE(ControlVisible(main, id)) << id;
    Shot("main_dialog_with_comment", main);

    // Close outside a run asks too; No keeps everything as it was.
    ASSERT_TRUE(Press(main, kClose));
    Box cancel = WaitBox(kCancelCaption);
    ASSERT_TRUE(cancel.window) << Windows();
    EXPECT_EQ(cancel.text, kCancelText);
    ASSERT_TRUE(Answer(cancel.window, kNo));
    EXPECT_TRUE(IsWindow(main));
    EXPECT_TRUE(IsWindow(GetDlgItem(main, kCommentView)));

    ASSERT_TRUE(Press(main, kExtract));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(GetDlgItem(main, kCommentView), nullptr);
    for (int id : kProgressArea) {
        EXPECT_TRUE(ControlVisible(main, id)) << id;
        EXPECT_TRUE(ControlEnabled(main, id)) << id;
    }
    // The comment entry counts in the total but is neither extracted nor listed.
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 2 of 3");
    EXPECT_EQ(ListItems(main, kFileList), (std::vector<std::string>{"bin\\tool.dll", "notes.txt"}));
    ASSERT_TRUE(Answer(done.window, kNo));

    // Close after the run, answered Yes, ends the program.
    ASSERT_TRUE(Press(main, kClose));
    cancel = WaitBox(kCancelCaption);
    ASSERT_TRUE(cancel.window) << Windows();
    ASSERT_TRUE(Answer(cancel.window, kYes));
    ExpectExitCodeZero();

    ExpectFile("bin\\tool.dll", tool);
    ExpectFile("notes.txt", notes);
    EXPECT_FALSE(fs::exists(folder_ / "$comments$"));
}

TEST_F(SelfExtractor, CancelledFolderBrowserLeavesTheDestination) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("file.txt", SampleData(100, 26)));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(SetControlText(main, kDestDir, "C:\\kept"));
    ASSERT_TRUE(Press(main, kBrowse));
    HWND browser = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& caption : program_.WindowCaptions()) {
            if (caption != kMainCaption) browser = program_.Find(caption, kDialogClass);
        }
        return browser != nullptr;
    })) << Windows();
    ASSERT_TRUE(Answer(browser, kCancel));
    EXPECT_EQ(ControlText(main, kDestDir), "C:\\kept");
}

TEST_F(SelfExtractor, DriveRootDestinationTakesTheEntriesDirectly) {
    const fs::path landing = "C:\\vorn_sfx_root_test";
    std::error_code ignored;
    fs::remove_all(landing, ignored);
    vorntest::TestArchive archiveSpec;
    auto data = SampleData(700, 27);
    archiveSpec.entries.push_back(Entry("vorn_sfx_root_test\\inner\\file.txt", data));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(SetControlText(main, kDestDir, "C:\\"));
    ASSERT_TRUE(Press(main, kExtract));
    AnswerDoneAndExit();
    EXPECT_EQ(program_.Find(kErrorCaption), nullptr);
    EXPECT_TRUE(ReadAll(landing / "inner" / "file.txt") == data);
    fs::remove_all(landing, ignored);
}

TEST_F(SelfExtractor, MissingDestinationIsCreatedOnlyAfterYes) {
    vorntest::TestArchive archiveSpec;
    auto data = SampleData(12000, 8);
    archiveSpec.entries.push_back(Entry("sub\\data.bin", data));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    fs::path target = folder_ / "new" / "deeper";
    ASSERT_TRUE(SetControlText(main, kDestDir, target.string()));

    ASSERT_TRUE(Press(main, kExtract));
    Box ask = WaitBox(kErrorCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, kCreateFolderText);
    ASSERT_TRUE(Answer(ask.window, kNo));
    EXPECT_FALSE(fs::exists(folder_ / "new"));
    EXPECT_TRUE(ControlEnabled(main, kExtract));
    EXPECT_EQ(program_.Find(kDoneCaption), nullptr);

    ASSERT_TRUE(Press(main, kExtract));
    ask = WaitBox(kErrorCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, kCreateFolderText);
    ASSERT_TRUE(Answer(ask.window, kYes));
    AnswerDoneAndExit();
    ExpectFile("new\\deeper\\sub\\data.bin", data);
}

TEST_F(SelfExtractor, RelativeDestinationLandsUnderTheProgramFolder) {
    vorntest::TestArchive archiveSpec;
    auto data = SampleData(2000, 9);
    archiveSpec.entries.push_back(Entry("file.txt", data));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(SetControlText(main, kDestDir, "rel\\out"));
    ASSERT_TRUE(Press(main, kExtract));
    Box ask = WaitBox(kErrorCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, kCreateFolderText);
    ASSERT_TRUE(Answer(ask.window, kYes));
    AnswerDoneAndExit();
    ExpectFile("rel\\out\\file.txt", data);
}

// --- Extraction worker ----------------------------------------------------------------------

TEST_F(SelfExtractor, OverwriteQuestionThenSecondRunWithOverwriteAll) {
    vorntest::TestArchive archiveSpec;
    auto a = SampleData(3000, 10), b = SampleData(3000, 11), c = SampleData(3000, 12);
    archiveSpec.entries.push_back(Entry("a.txt", a));
    archiveSpec.entries.push_back(Entry("b.txt", b));
    archiveSpec.entries.push_back(Entry("c.txt", c));
    auto old = Bytes("old contents");
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteAll(folder_ / name, old);
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    const std::string dest = folder_.string() + "\\";

    ASSERT_TRUE(Press(main, kExtract));
    Box ask = WaitBox(kOverwriteCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, "File " + dest + "a.txt exists already, ovewrite it?");
    ASSERT_TRUE(Answer(ask.window, kYes));
    ask = WaitBox(kOverwriteCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, "File " + dest + "b.txt exists already, ovewrite it?");
    ASSERT_TRUE(Answer(ask.window, kNo));
    ask = WaitBox(kOverwriteCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, "File " + dest + "c.txt exists already, ovewrite it?");
    ASSERT_TRUE(Answer(ask.window, kCancel));

    // Cancel in the question ends the walk but still asks whether to exit.
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(ListItems(main, kFileList), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 1 of 3");
    ExpectFile("a.txt", a);
    ExpectFile("b.txt", old);
    ExpectFile("c.txt", old);
    ASSERT_TRUE(Answer(done.window, kNo));

    // A second run: the list and counts start again, and no question comes with the box checked.
    SetChecked(main, kOverwrite, true);
    ASSERT_TRUE(Press(main, kExtract));
    done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(program_.Find(kOverwriteCaption), nullptr);
    EXPECT_EQ(ListItems(main, kFileList), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 3 of 3");
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    ExpectFile("a.txt", a);
    ExpectFile("b.txt", b);
    ExpectFile("c.txt", c);
}

TEST_F(SelfExtractor, ArchiveWithNoEntriesFinishesAtOnceWithoutTouchingTheLines) {
    Launch(vorntest::TestArchive{});
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_TRUE(ListItems(main, kFileList).empty());
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current File:");
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed:");
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(SelfExtractor, CommentOnlyArchiveWritesNothing) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.comment = "Nothing but these words.";
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    EXPECT_EQ(WindowText(GetDlgItem(main, kCommentView)), "Nothing but these words.");
    ASSERT_TRUE(Press(main, kExtract));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_TRUE(ListItems(main, kFileList).empty());
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current File:");
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed:");
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(SelfExtractor, DamagedEntryIsReportedUnderItsNameAndTheWalkGoesOn) {
    vorntest::TestArchive archiveSpec;
    auto bad = SampleData(5000, 23), good = SampleData(5000, 24);
    archiveSpec.entries.push_back(Entry("bad.txt", bad));
    archiveSpec.entries.back().crcOverride = 0x12345678;
    archiveSpec.entries.push_back(Entry("good.txt", good));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    Box error = WaitBox("bad.txt");
    ASSERT_TRUE(error.window) << Windows();
    EXPECT_EQ(error.text, kCrcText);
    ASSERT_TRUE(Answer(error.window, kOk));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(ListItems(main, kFileList), (std::vector<std::string>{"good.txt"}));
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 2 of 2");
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    ExpectFile("good.txt", good);
}

TEST_F(SelfExtractor, FolderInTheWayOfAnEntryIsAskedAboutThenReported) {
    vorntest::TestArchive archiveSpec;
    archiveSpec.entries.push_back(Entry("clash.txt", SampleData(300, 25)));
    fs::create_directories(folder_ / "clash.txt");
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    Box ask = WaitBox(kOverwriteCaption);
    ASSERT_TRUE(ask.window) << Windows();
    EXPECT_EQ(ask.text, "File " + folder_.string() + "\\clash.txt exists already, ovewrite it?");
    ASSERT_TRUE(Answer(ask.window, kYes));
    Box error = WaitBox("clash.txt");
    ASSERT_TRUE(error.window) << Windows();
    EXPECT_EQ(error.text, "Invalid argument passed");
    ASSERT_TRUE(Answer(error.window, kOk));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_TRUE(ListItems(main, kFileList).empty());
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 1 of 1");
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    EXPECT_TRUE(fs::is_directory(folder_ / "clash.txt"));
}

// The shared table of entry names under Windows's rule: every refused name (escapes, devices,
// levels of dots and spaces, trailing dots) gets a box captioned by it, in the words vorn.exe
// uses too; every accepted one lands where the table says, and nothing lands outside.
TEST_F(SelfExtractor, UnsafeEntryNamesAreRefusedWithABoxCaptionedByTheName) {
    vorntest::TestArchive archiveSpec = vorntest::EntryNameCaseArchive();
    fs::path inner = folder_ / "dest";
    fs::create_directories(inner);
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(SetControlText(main, kDestDir, inner.string()));
    ASSERT_TRUE(Press(main, kExtract));
    std::vector<std::string> accepted;
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        if (c.windows == format::EntryNameVerdict::Safe) {
            accepted.push_back(c.name);
            continue;
        }
        Box refused = WaitBox(c.name);
        ASSERT_TRUE(refused.window) << c.name << "; " << Windows();
        EXPECT_EQ(refused.text,
                  "This entry's path would leave the destination folder; it is not extracted.");
        ASSERT_TRUE(Answer(refused.window, kOk));
    }
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    std::vector<std::string> listed = ListItems(main, kFileList);
    std::sort(listed.begin(), listed.end());
    std::sort(accepted.begin(), accepted.end());
    EXPECT_EQ(listed, accepted);
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    size_t written = 0;
    for (const vorntest::EntryNameCase& c : vorntest::EntryNameCases()) {
        if (c.windows != format::EntryNameVerdict::Safe) continue;
        std::string data = std::string("entry ") + c.name;
        ExpectFile(std::string("dest\\") + c.landsAt,
                   std::vector<uint8_t>(data.begin(), data.end()));
    }
    for (const auto& item : fs::recursive_directory_iterator(folder_)) {
        if (!item.is_regular_file() || item.path().extension() == ".exe") continue;
        ++written;
        EXPECT_EQ(item.path().string().rfind(inner.string(), 0), 0u) << item.path();
    }
    EXPECT_EQ(written, accepted.size());
    EXPECT_FALSE(fs::exists("C:\\escape7.txt"));
}

TEST_F(SelfExtractor, Utf8NamesKeepTheirLettersOnDiskInTheListAndTheCurrentFileLine) {
    const std::vector<std::string> names = {"café.txt", "Ελληνικά\\σημειώσεις.txt",
                                            "Кириллица\\Документы\\файл.txt", "日本語\\資料.txt"};
    vorntest::TestArchive archiveSpec;
    std::vector<std::vector<uint8_t>> contents;
    for (size_t i = 0; i < names.size(); ++i) {
        contents.push_back(SampleData(2000 + 100 * i, 40 + uint32_t(i)));
        archiveSpec.entries.push_back(Entry(names[i], contents.back()));
    }
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(program_.Find(kErrorCaption), nullptr);
    std::vector<std::string> sorted = ListItems(main, kFileList);
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current file: " + names.back());
    Shot("unicode_names", done.window);
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    for (size_t i = 0; i < names.size(); ++i) ExpectFile(names[i], contents[i]);
}

// An older writer on Windows stored names in the system's code page; they are read in it.
TEST_F(SelfExtractor, CodePageNameIsReadInTheSystemCodePage) {
    char digits[8] = {};
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits);
    wchar_t letter[2] = {};
    ASSERT_EQ(MultiByteToWideChar(std::atoi(digits), 0, "\xe9", 1, letter, 1), 1) << digits;
    const std::string shown = "caf" + Narrow(letter) + ".txt";
    vorntest::TestArchive archiveSpec;
    auto data = SampleData(500, 45);
    archiveSpec.entries.push_back(Entry("caf\xe9.txt", data));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(ListItems(main, kFileList), std::vector<std::string>{shown});
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    ExpectFile(shown, data);
}

// --- Per-entry password ---------------------------------------------------------------------

TEST_F(SelfExtractor, EntryPasswordPromptRefusesShortAndWrongAndKeepsTheRightOne) {
    vorntest::TestArchive archiveSpec;
    auto plain = SampleData(2000, 16), first = SampleData(30000, 17),
         second = SampleData(30000, 18), third = SampleData(500, 19);
    archiveSpec.entries.push_back(Entry("plain.txt", plain));
    archiveSpec.entries.push_back(Entry("secret1.txt", first));
    archiveSpec.entries.back().password = "swordfish";
    archiveSpec.entries.push_back(Entry("secret2.txt", second));
    archiveSpec.entries.back().password = "swordfish";
    archiveSpec.entries.push_back(Entry("secret3.txt", third));
    archiveSpec.entries.back().password = "another one";
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));

    HWND prompt = program_.WaitFor(kPasswordCaption, kDialogClass);
    ASSERT_TRUE(prompt) << Windows();
    EXPECT_EQ(ControlText(prompt, kPasswordText), kEntryPromptText);
    EXPECT_EQ(ControlText(prompt, kPasswordField), "");
    EXPECT_FALSE(IsChecked(prompt, kReusePassword));
    EXPECT_EQ(FocusedControl(prompt), GetDlgItem(prompt, kPasswordField));
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current file: secret1.txt");
    Shot("entry_password_prompt", prompt);

    // Five characters are refused and the prompt stays.
    ASSERT_TRUE(SetControlText(prompt, kPasswordField, "short"));
    ASSERT_TRUE(Press(prompt, kOk));
    Box tooShort = WaitBox(kErrorCaption);
    ASSERT_TRUE(tooShort.window) << Windows();
    EXPECT_EQ(tooShort.text, kShortPasswordText);
    ASSERT_TRUE(Answer(tooShort.window, kOk));
    EXPECT_TRUE(IsWindow(prompt));
    EXPECT_EQ(ControlText(prompt, kPasswordField), "short");

    // A wrong one brings the prompt back without a word.
    ASSERT_TRUE(SetControlText(prompt, kPasswordField, "wrong password"));
    ASSERT_TRUE(Answer(prompt, kOk));
    HWND again = program_.WaitFor(kPasswordCaption, kDialogClass);
    ASSERT_TRUE(again) << Windows();
    EXPECT_EQ(program_.Find(kErrorCaption), nullptr);
    EXPECT_EQ(ControlText(again, kPasswordText), kEntryPromptText);

    // The right one, kept for the next prompts.
    ASSERT_TRUE(SetControlText(again, kPasswordField, "swordfish"));
    SetChecked(again, kReusePassword, true);
    ASSERT_TRUE(Answer(again, kOk));

    // secret2 is still asked for, with the kept password filled in and the box unchecked.
    HWND next = program_.WaitFor(kPasswordCaption, kDialogClass);
    ASSERT_TRUE(next) << Windows();
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current file: secret2.txt");
    EXPECT_EQ(ControlText(next, kPasswordField), "swordfish");
    EXPECT_FALSE(IsChecked(next, kReusePassword));
    ASSERT_TRUE(Answer(next, kOk));

    // secret3 has another password: the kept one is offered, the user cancels.
    HWND last = program_.WaitFor(kPasswordCaption, kDialogClass);
    ASSERT_TRUE(last) << Windows();
    EXPECT_EQ(ControlText(main, kCurrentFile), "Current file: secret3.txt");
    EXPECT_EQ(ControlText(last, kPasswordField), "swordfish");
    ASSERT_TRUE(Answer(last, kCancel));

    Box done = WaitBox(kDoneCaption);
    ASSERT_TRUE(done.window) << Windows();
    EXPECT_EQ(ListItems(main, kFileList),
              (std::vector<std::string>{"plain.txt", "secret1.txt", "secret2.txt"}));
    EXPECT_EQ(ControlText(main, kFilesDone), "Extracted files completed: 4 of 4");
    ASSERT_TRUE(Answer(done.window, kYes));
    ExpectExitCodeZero();
    ExpectFile("plain.txt", plain);
    ExpectFile("secret1.txt", first);
    ExpectFile("secret2.txt", second);
    // A declined prompt leaves nothing: the attempts went into a part file, which goes.
    EXPECT_FALSE(fs::exists(folder_ / "secret3.txt"));
    EXPECT_EQ(PartFiles(), 0u);
}

// "Yes" to the overwrite question, then the enciphered entry fails at its prompt: the old file
// keeps its bytes. The right password is the control that the entry does replace it.
TEST_F(SelfExtractor, OverwrittenFileKeepsItsBytesWhenThePromptIsCancelled) {
    vorntest::TestArchive archiveSpec;
    auto secret = SampleData(30000, 23);
    archiveSpec.entries.push_back(Entry("secret.txt", secret));
    archiveSpec.entries.back().password = "swordfish";
    const auto old = Bytes("the user's own file");
    const struct {
        const char* what;
        std::vector<std::string> typed;  // each confirmed in turn; then Cancel unless right
        bool replaced;
    } cases[] = {
        {"cancel at the prompt", {}, false},
        {"wrong password, then cancel", {"wrong password"}, false},
        {"right password (control)", {"swordfish"}, true},
    };
    for (const auto& c : cases) {
        WriteAll(folder_ / "secret.txt", old);
        Launch(archiveSpec);
        HWND main = MainDialog();
        ASSERT_TRUE(main) << c.what << "; " << Windows();
        ASSERT_TRUE(Press(main, kExtract));
        Box ask = WaitBox(kOverwriteCaption);
        ASSERT_TRUE(ask.window) << c.what << "; " << Windows();
        ASSERT_TRUE(Answer(ask.window, kYes));
        for (const std::string& typed : c.typed) {
            HWND prompt = program_.WaitFor(kPasswordCaption, kDialogClass);
            ASSERT_TRUE(prompt) << c.what << "; " << Windows();
            ASSERT_TRUE(SetControlText(prompt, kPasswordField, typed));
            ASSERT_TRUE(Answer(prompt, kOk));
        }
        if (!c.replaced) {
            HWND prompt = program_.WaitFor(kPasswordCaption, kDialogClass);
            ASSERT_TRUE(prompt) << c.what << "; " << Windows();
            ASSERT_TRUE(Answer(prompt, kCancel));
        }
        AnswerDoneAndExit();
        ExpectFile("secret.txt", c.replaced ? secret : old);
        EXPECT_EQ(PartFiles(), 0u) << c.what;
    }
}

// --- Close during a run ---------------------------------------------------------------------

TEST_F(SelfExtractor, CloseDuringARunCancelsAndRemovesThePartialFile) {
    vorntest::TestArchive archiveSpec;
    auto first = SampleData(4000, 20);
    archiveSpec.entries.push_back(Entry("first.txt", first));
    archiveSpec.entries.push_back(
        RepeatedBlockEntry("big.bin", SampleData(kBigBlockBytes, 21), 2 * kBigBlockCopies));
    archiveSpec.entries.push_back(Entry("after.txt", SampleData(100, 22)));
    Launch(archiveSpec);
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));

    // The bar may still show the previous entry's 100 for a moment after the line changes.
    ASSERT_TRUE(WaitUntil([&] {
        int position = ProgressPosition(main, kProgress);
        return ControlText(main, kCurrentFile) == "Current file: big.bin" && position > 0 &&
               position < 100;
    })) << "big.bin never seen in progress; "
        << Windows();
    // Pressed at once: on a loaded machine the rest of big.bin can be written in the time a
    // screenshot takes, and the run would end before the question.
    ASSERT_TRUE(Press(main, kClose));
    Box cancel = WaitBox(kCancelCaption);
    ASSERT_TRUE(cancel.window) << Windows();
    Shot("extraction_cancel_question", cancel.window);
    EXPECT_EQ(cancel.text, kCancelText);
    ASSERT_TRUE(Press(cancel.window, kYes));

    // No completion question comes; the program ends by itself.
    bool askedDone = false;
    ASSERT_TRUE(WaitUntil([&] {
        askedDone = askedDone || program_.Find(kDoneCaption) != nullptr;
        return !program_.Running();
    })) << Windows();
    EXPECT_FALSE(askedDone);
    ExpectExitCodeZero();
    ExpectFile("first.txt", first);
    EXPECT_FALSE(fs::exists(folder_ / "big.bin")) << "partial file left behind";
    EXPECT_FALSE(fs::exists(folder_ / "after.txt")) << "the run ended before the cancel";
}

// --- Installers: switches and the program run after extraction --------------------------------

// Whether folders made in base keep the access list they are made with.
bool KeepsAccessLists(const std::string& base) {
    std::wstring probe = std::wstring(base.begin(), base.end()) + L"vorn-acl-probe";
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;SY)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
        return false;
    }
    bool made = CreateDirectoryW(probe.c_str(), &security) != FALSE;
    LocalFree(security.lpSecurityDescriptor);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    bool kept =
        made &&
        GetNamedSecurityInfoW(probe.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr) &&
        wcsncmp(text, L"D:P", 3) == 0;
    if (text != nullptr) LocalFree(text);
    if (descriptor != nullptr) LocalFree(descriptor);
    if (made) RemoveDirectoryW(probe.c_str());
    return kept;
}

class Installer : public SelfExtractor {
  protected:
    // A stub copy with these settings, and an archive holding the marker program at
    // tools\\marker.exe beside a data file.
    void LaunchInstaller(const pack::SfxPackSettings& settings, const std::string& arguments,
                         const std::vector<vorntest::TestEntry>& extra = {}) {
        std::vector<uint8_t> stub = Stub();
        std::string error;
        ASSERT_TRUE(pack::SetSfxSettings(stub, settings, &error)) << error;
        vorntest::TestArchive archiveSpec = Sample();
        for (const vorntest::TestEntry& e : extra) archiveSpec.entries.push_back(e);
        archiveSpec.entries.push_back(
            Entry("tools\\marker.exe", ReadAll(WindowsPathFromUnix(VORN_SFX_MARKER_PROGRAM))));
        Write(archiveSpec, {}, stub);
        ASSERT_TRUE(program_.Start(exe_, arguments)) << "cannot start " << exe_;
    }
    vorntest::TestArchive Sample(const char* password = nullptr) {
        vorntest::TestArchive archiveSpec;
        data_ = SampleData(5000, 41);
        vorntest::TestEntry entry = Entry("docs\\readme.txt", data_);
        if (password != nullptr) entry.password = password;
        archiveSpec.entries.push_back(entry);
        return archiveSpec;
    }
    // The exit code, once the program has ended without ever showing a window.
    DWORD SilentExit() {
        DWORD code = 1234;
        bool windowSeen = false;
        WaitUntil([&] {
            windowSeen = windowSeen || !program_.WindowCaptions().empty();
            return !program_.Running();
        });
        EXPECT_FALSE(windowSeen) << "a window appeared";
        EXPECT_TRUE(program_.WaitForExit(&code)) << Windows();
        return code;
    }
    // The files in the test folder besides the program itself.
    std::vector<std::string> Written() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder_)) {
            if (e.path().filename() != "setup.exe") names.push_back(e.path().filename().string());
        }
        return names;
    }
    std::vector<uint8_t> data_;
};

TEST_F(Installer, SilentRunExtractsEveryEntryWithoutAWindow) {
    Write(Sample());
    ASSERT_TRUE(program_.Start(exe_, "/S \"/D=" + (folder_ / "out dir").string() + "\""));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("out dir\\docs\\readme.txt", data_);
}

TEST_F(Installer, SilentRunExtractsALevel3Archive) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    Write(Level3Archive(&files));
    ASSERT_TRUE(program_.Start(exe_, "/S \"/D=" + (folder_ / "level3").string() + "\""));
    EXPECT_EQ(SilentExit(), 0u);
    for (const auto& [name, data] : files) ExpectFile("level3\\" + name, data);
}

// The level-3 files in solid groups, as vorn pack --sfx writes them by default: the stub decodes
// each group's entries in turn and every file keeps its bytes.
TEST_F(Installer, SilentRunExtractsASolidArchive) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    Level3Archive(&files);
    std::vector<pack::GroupCandidate> candidates;
    std::vector<pack::ArchiveWriter::FileEntry> entries;
    pack::EntryOptions options;
    options.method = pack::Method::Best;
    options.encoder.level = encoder::kLzLevel;
    for (size_t i = 0; i < files.size(); ++i) {
        fs::path source = folder_ / ("source" + std::to_string(i));
        WriteAll(source.string(), files[i].second);
        candidates.push_back({files[i].first, files[i].second.size(), false});
        entries.push_back({files[i].first, source.string(), options});
    }
    std::vector<std::vector<pack::ArchiveWriter::FileEntry>> groups;
    for (const std::vector<size_t>& group : pack::ChooseSolidGroups(candidates).groups) {
        groups.emplace_back();
        for (size_t i : group) groups.back().push_back(entries[i]);
    }
    ASSERT_EQ(groups.size(), 2u);  // the programs, then the texts
    exe_ = (folder_ / "setup.exe").string();
    pack::ArchiveWriter writer;
    ASSERT_EQ(writer.Open(exe_, Stub()), pack::Status::Ok);
    ASSERT_EQ(writer.AddSolidGroups(groups, 1), pack::Status::Ok) << writer.Error();
    ASSERT_EQ(writer.Finish(), pack::Status::Ok) << writer.Error();
    ASSERT_TRUE(program_.Start(exe_, "/S \"/D=" + (folder_ / "solid").string() + "\""));
    EXPECT_EQ(SilentExit(), 0u);
    for (const auto& [name, data] : files) ExpectFile("solid\\" + name, data);
}

TEST_F(Installer, SilentRunWithAWrongPasswordExitsTwoAndWritesNothing) {
    Write(Sample("right-password"));
    ASSERT_TRUE(program_.Start(exe_, "-s /D=" + (folder_ / "out").string() + " /p=wrong-password"));
    EXPECT_EQ(SilentExit(), 2u);
    EXPECT_TRUE(Written().empty());
    ASSERT_TRUE(program_.Start(exe_, "/S /D=" + (folder_ / "out").string() + " /P=right-password"));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("out\\docs\\readme.txt", data_);
}

// /P=@FILE: the password from a file's first line; a file that gives none stops the run.
TEST_F(Installer, SilentRunTakesThePasswordFromAFileAndRefusesFilesThatGiveNone) {
    Write(Sample("right-password"));
    WriteAll(folder_ / "empty.txt", {});
    WriteAll(folder_ / "huge.txt", std::vector<uint8_t>(1 << 20, 'r'));
    WriteAll(folder_ / "right.txt", Bytes("right-password\r\n"));
    const fs::path out = folder_ / "out";
    for (const char* file : {"missing.txt", "empty.txt", "huge.txt"}) {
        ASSERT_TRUE(
            program_.Start(exe_, "/S /D=" + out.string() + " /P=@" + (folder_ / file).string()));
        EXPECT_EQ(SilentExit(), 2u) << file;
        EXPECT_FALSE(fs::exists(out)) << file << ": nothing extracted";
    }
    ASSERT_TRUE(
        program_.Start(exe_, "/S /D=" + out.string() + " /P=@" + (folder_ / "right.txt").string()));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("out\\docs\\readme.txt", data_);
}

TEST_F(Installer, SilentRunWithAWrongPasswordKeepsAnExistingFileEvenWhenOverwriting) {
    Write(Sample("right-password"));
    const auto old = Bytes("the user's own file");
    WriteAll(folder_ / "out" / "docs" / "readme.txt", old);
    const std::string silent = "/S /O=always /D=" + (folder_ / "out").string();
    ASSERT_TRUE(program_.Start(exe_, silent + " /P=wrong-password"));
    EXPECT_EQ(SilentExit(), 2u);
    ExpectFile("out\\docs\\readme.txt", old);
    EXPECT_EQ(PartFiles(), 0u);
    // Control: the right password does replace it.
    ASSERT_TRUE(program_.Start(exe_, silent + " /P=right-password"));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("out\\docs\\readme.txt", data_);
}

TEST_F(Installer, UnknownSwitchExitsTwoAndWritesNothing) {
    Write(Sample());
    for (const char* arguments :
         {"/X", "/S /O=sometimes", "/D=C:\\out", "setup", "/PROGRESS", "/ACCEPT"}) {
        ASSERT_TRUE(program_.Start(exe_, arguments));
        EXPECT_EQ(SilentExit(), 2u) << arguments;
        EXPECT_TRUE(Written().empty()) << arguments;
    }
}

TEST_F(Installer, ProgramStartsAfterExtractInTheDialogInsteadOfTheQuestion) {
    pack::SfxPackSettings settings;
    settings.run = "tools/marker.exe marker.txt \"two words\"";
    LaunchInstaller(settings, "");
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    ASSERT_TRUE(Press(main, kExtract));
    ExpectExitCodeZero();
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder_ / "marker.txt"); })) << Windows();
    std::string marker;
    ASSERT_TRUE(WaitUntil([&] {
        std::ifstream in(folder_ / "marker.txt");
        marker.assign(std::istreambuf_iterator<char>(in), {});
        return marker.find("two words") != std::string::npos;
    })) << marker;
    EXPECT_EQ(marker.find(folder_.string()), 0u) << "runs in the extraction folder: " << marker;
    EXPECT_NE(marker.find("\"two words\""), std::string::npos) << marker;
    ExpectFile("docs\\readme.txt", data_);
}

TEST_F(Installer, SilentRunEndsWithTheProgramsExitCode) {
    pack::SfxPackSettings settings;
    settings.run = "tools\\marker.exe marker.txt";
    LaunchInstaller(settings, "/S /D=" + (folder_ / "out").string() + " -- \"given after\" x");
    EXPECT_EQ(SilentExit(), 7u);
    ASSERT_TRUE(fs::exists(folder_ / "out" / "marker.txt")) << Join(Written());
    std::ifstream in(folder_ / "out" / "marker.txt");
    std::string marker((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(marker.find("\"given after\" x"), std::string::npos) << marker;
}

TEST_F(Installer, TemporaryFolderHoldsTheRunAndIsGoneAfterwards) {
    pack::SfxPackSettings settings;
    const std::string marker = (folder_ / "marker.txt").string();
    settings.run = "tools\\marker.exe \"" + marker + "\"";
    settings.temporary = true;
    LaunchInstaller(settings, "/S");
    EXPECT_EQ(SilentExit(), 7u);
    std::ifstream in(marker);
    std::string ranIn;
    std::getline(in, ranIn);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(ranIn.rfind(temp, 0), 0u) << ranIn << " is not under " << temp;
    EXPECT_NE(ranIn, std::string(temp));
    EXPECT_FALSE(fs::exists(ranIn)) << "the temporary folder is still there";
    EXPECT_TRUE(Written() == std::vector<std::string>{"marker.txt"}) << "only the marker";
    // Its access list: protected, SYSTEM, the Administrators and the user (or, elevated, not),
    // where Wine keeps access lists at all (in extended attributes, which not every file system
    // under it has): a folder made here with a protected list must read back protected.
    std::string line, access;
    std::getline(in, line);
    std::getline(in, access);
    if (!KeepsAccessLists(temp)) {
        std::printf("note: Wine keeps no access lists here (%s)\n", access.c_str());
        return;
    }
    EXPECT_EQ(access.rfind("D:P", 0), 0u) << access;
    EXPECT_NE(access.find(";;;SY)"), std::string::npos) << access;
    EXPECT_NE(access.find(";;;BA)"), std::string::npos) << access;
    EXPECT_LE(std::count(access.begin(), access.end(), '('), 3) << access;
}

// A bootstrapper starts a process that works on in the folder after it has exited: the folder is
// removed only after that process, and the exit code is still the program's own.
TEST_F(Installer, TemporaryFolderOutlivesEveryProcessTheProgramStarted) {
    pack::SfxPackSettings settings;
    const fs::path written = folder_ / "written.txt";
    settings.run = "tools\\marker.exe --leave-late \"" + written.string() + "\"";
    settings.temporary = true;
    LaunchInstaller(settings, "/S");
    EXPECT_EQ(SilentExit(), 7u);
    ASSERT_TRUE(fs::exists(written)) << "the late process could not write into the folder";
    std::ifstream in(written);
    std::string ranIn;
    std::getline(in, ranIn);
    EXPECT_NE(ranIn.find("vorn-"), std::string::npos) << ranIn;
    EXPECT_FALSE(fs::exists(ranIn)) << "the temporary folder is still there";
}

// cmd.exe runs a batch program and reads "&" and ">" itself: the argument would write x. The same
// argument reaches a program that is no batch file unchanged.
TEST_F(Installer, BatchProgramArgumentCmdWouldRunIsRefusedBeforeAnything) {
    const std::string attack = "\"a&echo pwned>x\"";
    pack::SfxPackSettings exe;
    exe.run = "tools\\marker.exe marker.txt";
    LaunchInstaller(exe, "/S /D=" + (folder_ / "exe").string() + " -- " + attack);
    EXPECT_EQ(SilentExit(), 7u);
    std::ifstream in(folder_ / "exe" / "marker.txt");
    std::string marker((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(marker.find(attack), std::string::npos) << marker;

    const std::vector<vorntest::TestEntry> batch = {
        Entry("tools\\setup.bat", Bytes("@echo ran %1 > ran.txt\r\n"))};
    pack::SfxPackSettings run;
    run.run = "tools\\setup.bat";
    for (const char* name : {"bat", "bat-dialog"}) {
        bool dialog = std::string(name) == "bat-dialog";
        const fs::path out = folder_ / name;
        // The dialog extracts beside the program, into folder_ itself.
        LaunchInstaller(run, (dialog ? "" : "/S /D=" + out.string()) + " -- " + attack, batch);
        if (dialog) {
            Box box = WaitBox(kErrorCaption);
            ASSERT_TRUE(box.window) << Windows();
            EXPECT_NE(box.text.find("cmd.exe"), std::string::npos) << box.text;
            ASSERT_TRUE(Answer(box.window, kOk));
            DWORD code = 0;
            EXPECT_TRUE(program_.WaitForExit(&code));
            EXPECT_EQ(code, 2u);
        } else {
            EXPECT_EQ(SilentExit(), 2u);
        }
        EXPECT_FALSE(fs::exists(out)) << name << ": nothing extracted";
        EXPECT_FALSE(fs::exists(folder_ / "tools")) << name << ": nothing extracted";
        EXPECT_FALSE(fs::exists(out / "tools" / "x")) << name;
        EXPECT_FALSE(fs::exists(folder_ / "x")) << name;
    }
    // Without the argument the batch program runs: the refusal is the argument's alone.
    LaunchInstaller(run, "/S /D=" + (folder_ / "plain").string() + " -- plain", batch);
    EXPECT_EQ(SilentExit(), 0u);
    const fs::path ran = folder_ / "plain" / "ran.txt";  // in its working folder
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(ran); })) << Join(Written());
    std::ifstream ranText(ran);
    std::string said;
    std::getline(ranText, said);
    EXPECT_EQ(said.rfind("ran plain", 0), 0u) << said;
}

// --- A licence to accept and a progress window ------------------------------------------------

constexpr char kLicenseCaption[] = "Licence agreement";
constexpr int kLicenseText = 1040;
constexpr int kProgressTitle = 1041;
constexpr char kLicense[] = "Sample licence\n\nYou may install and use Sample.\n";

class Deployment : public Installer {
  protected:
    // The sample with its licence entry, packed with the licence setting (and more) into a
    // program in the user's downloads folder, as a publisher ships it.
    void WriteLicensed(pack::SfxPackSettings settings,
                       std::vector<vorntest::TestEntry> extra = {}) {
        settings.license = true;
        std::vector<uint8_t> stub = Stub();
        std::string error;
        ASSERT_TRUE(pack::SetSfxSettings(stub, settings, &error)) << error;
        vorntest::TestArchive archiveSpec = Sample();
        for (const vorntest::TestEntry& e : extra) archiveSpec.entries.push_back(e);
        archiveSpec.entries.push_back(Entry("$license$", Bytes(kLicense)));
        fs::create_directories(downloads_);
        Write(archiveSpec, downloads_ / "sample-setup.exe", stub);
    }
    void TearDown() override {
        Installer::TearDown();
        std::error_code ignored;
        fs::remove(downloads_ / "sample-setup.exe", ignored);
    }
    // The program's folders in the user's temporary folder.
    size_t TemporaryFolders() {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        size_t count = 0;
        for (const auto& e : fs::directory_iterator(temp)) {
            count += e.path().filename().string().rfind("vorn-", 0) == 0;
        }
        return count;
    }
    const fs::path downloads_ = "C:\\users\\Public\\Downloads";
};

TEST_F(Deployment, LicenceDialogComesFirstAndOnlyIAcceptLeadsToTheMainDialog) {
    for (bool accept : {false, true}) {
        WriteLicensed({});
        ASSERT_TRUE(program_.Start(exe_));
        HWND license = program_.WaitFor(kLicenseCaption, kDialogClass);
        ASSERT_TRUE(license) << Windows();
        EXPECT_EQ(program_.Find(kMainCaption, kDialogClass), nullptr) << "before the main dialog";
        std::string shown;
        for (const char* c = kLicense; *c; ++c) shown += *c == '\n' ? "\r\n" : std::string(1, *c);
        EXPECT_EQ(WindowText(GetDlgItem(license, kLicenseText)), shown);
        EXPECT_EQ(FocusedControl(license), GetDlgItem(license, kCancel)) << "declining is default";
        if (!accept) {
            Shot("licence_dialog", license);
            ASSERT_TRUE(Press(license, kCancel));
            DWORD code = 0;
            ASSERT_TRUE(program_.WaitForExit(&code)) << Windows();
            EXPECT_EQ(code, 2u);
            EXPECT_FALSE(fs::exists(downloads_ / "docs")) << "nothing extracted";
            continue;
        }
        ASSERT_TRUE(Press(license, kOk));
        HWND main = MainDialog();
        ASSERT_TRUE(main) << Windows();
        ASSERT_TRUE(SetControlText(main, kDestDir, folder_.string()));
        ASSERT_TRUE(Press(main, kExtract));
        AnswerDoneAndExit();
        ExpectFile("docs\\readme.txt", data_);
        EXPECT_FALSE(fs::exists(folder_ / "$license$")) << "the licence is no file";
    }
}

TEST_F(Deployment, SilentRunNeedsAcceptAndAcceptWithoutALicenceChangesNothing) {
    WriteLicensed({});
    const std::string out = " /D=" + (folder_ / "out").string();
    ASSERT_TRUE(program_.Start(exe_, "/S" + out));
    EXPECT_EQ(SilentExit(), 2u);
    EXPECT_FALSE(fs::exists(folder_ / "out"));
    ASSERT_TRUE(program_.Start(exe_, "/S /ACCEPT" + out));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("out\\docs\\readme.txt", data_);
    EXPECT_FALSE(fs::exists(folder_ / "out" / "$license$"));
    Write(Sample());
    ASSERT_TRUE(program_.Start(exe_, "/S /ACCEPT /D=" + (folder_ / "plain").string()));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("plain\\docs\\readme.txt", data_);
}

TEST_F(Deployment, SilentProgressWindowShowsTheRunAndCancelEndsItLikeAnInterrupt) {
    pack::SfxPackSettings settings;
    settings.title = "Sample 1.2.3 Setup";
    settings.run = "tools\\marker.exe marker.txt";
    settings.temporary = true;
    const size_t before = TemporaryFolders();
    WriteLicensed(
        settings,
        {RepeatedBlockEntry("data\\big.bin", SampleData(kBigBlockBytes, 51), 4 * kBigBlockCopies),
         Entry("tools\\marker.exe", ReadAll(WindowsPathFromUnix(VORN_SFX_MARKER_PROGRAM)))});
    ASSERT_TRUE(program_.Start(exe_, "/S /ACCEPT /PROGRESS"));
    HWND window = program_.WaitFor("Sample 1.2.3 Setup", kDialogClass);
    ASSERT_TRUE(window) << Windows();
    EXPECT_EQ(ControlText(window, kProgressTitle), "Sample 1.2.3 Setup");
    ASSERT_TRUE(WaitUntil([&] {
        return ControlText(window, kCurrentFile) == "Current file: data\\big.bin" &&
               ProgressPosition(window, kProgress) > 0;
    })) << ControlText(window, kCurrentFile);
    Shot("silent_progress", window);
    ASSERT_TRUE(Press(window, kCancel));
    DWORD code = 0;
    ASSERT_TRUE(program_.WaitForExit(&code)) << Windows();
    EXPECT_EQ(code, 2u);
    EXPECT_EQ(TemporaryFolders(), before) << "the temporary folder is still there";
    EXPECT_FALSE(fs::exists(downloads_ / "marker.txt")) << "the program ran";
}

}  // namespace

namespace {

// --- Deployment: the log, known folders, the archive beside the program ----------------------

TEST_F(Installer, LogRecordsTheRunAndOneThatCannotBeOpenedStopsEverything) {
    Write(Sample("right-password"));
    const fs::path log = folder_ / "run.log";
    const std::string out = " /D=" + (folder_ / "out").string();
    ASSERT_TRUE(program_.Start(exe_, "/S" + out + " /P=right-password /LOG=" + log.string()));
    EXPECT_EQ(SilentExit(), 0u);
    ExpectFile("out\\docs\\readme.txt", data_);
    const std::vector<uint8_t> bytes = ReadAll(log);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("right-password"), std::string::npos) << text;
    for (const char* expected :
         {"Z started: ", "Z extracted docs\\readme.txt\r\n", "Z finished with exit code 0\r\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }

    const fs::path readOnly = folder_ / "read-only.log";
    WriteAll(readOnly, Bytes("kept\r\n"));
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    fs::remove_all(folder_ / "out");
    for (const fs::path& bad : {folder_ / "missing" / "run.log", readOnly}) {
        ASSERT_TRUE(program_.Start(exe_, "/S" + out + " /P=right-password /LOG=" + bad.string()));
        EXPECT_EQ(SilentExit(), 2u) << bad;
        EXPECT_FALSE(fs::exists(folder_ / "out")) << bad;
    }
    EXPECT_TRUE(ReadAll(readOnly) == Bytes("kept\r\n"));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Without /S the refusal is a box, and still nothing is extracted.
    ASSERT_TRUE(program_.Start(exe_, "/LOG=" + (folder_ / "missing" / "run.log").string()));
    Box refused = WaitBox(kErrorCaption);
    ASSERT_TRUE(refused.window) << Windows();
    EXPECT_NE(refused.text.find("the log file cannot be opened"), std::string::npos);
    ASSERT_TRUE(Answer(refused.window, kOk));
    DWORD code = 0;
    ASSERT_TRUE(program_.WaitForExit(&code));
    EXPECT_EQ(code, 2u);
}

TEST_F(Installer, ProgramFilesInTheBuiltInDestinationIsTheMachinesOwn) {
    const char* programFiles = std::getenv("ProgramFiles");
    ASSERT_NE(programFiles, nullptr);
    const fs::path expected = fs::path(programFiles) / "Vorn Sample";
    std::error_code ignored;
    fs::remove_all(expected, ignored);
    std::vector<uint8_t> stub = Stub();
    std::string error;
    ASSERT_TRUE(pack::SetBuiltInDestination(stub, "%ProgramFiles%\\Vorn Sample", &error)) << error;
    Write(Sample(), {}, stub);
    // The dialog shows the folder resolved; /S extracts into it.
    ASSERT_TRUE(program_.Start(exe_));
    HWND main = MainDialog();
    ASSERT_TRUE(main) << Windows();
    EXPECT_EQ(ControlText(main, kDestDir), expected.string());
    ASSERT_TRUE(Press(main, kClose));
    Box cancel = WaitBox(kCancelCaption);
    ASSERT_TRUE(cancel.window) << Windows();
    ASSERT_TRUE(Answer(cancel.window, kYes));
    ExpectExitCodeZero();
    ASSERT_TRUE(program_.Start(exe_, "/S"));
    EXPECT_EQ(SilentExit(), 0u);
    EXPECT_TRUE(ReadAll(expected / "docs" / "readme.txt") == data_);
    fs::remove_all(expected, ignored);
}

TEST_F(Installer, ArchiveBesideIsExtractedAndAChangedOneIsRefusedBeforeAnything) {
    const std::vector<uint8_t> archive = vorntest::BuildTestArchive(Sample());
    pack::SfxPackSettings settings;
    settings.besideName = "setup.vorn";
    settings.besideSize = archive.size();
    settings.besideHash.resize(kSha256Bytes);
    Sha256Hash(archive.data(), archive.size(), settings.besideHash.data());
    std::vector<uint8_t> stub = Stub();
    std::string error;
    ASSERT_TRUE(pack::SetSfxSettings(stub, settings, &error)) << error;
    exe_ = (folder_ / "setup.exe").string();
    WriteAll(exe_, stub);
    std::vector<uint8_t> changed = archive;
    changed[changed.size() / 2] ^= 0x20;
    for (const auto& [bytes, code] : {std::pair{archive, 0u}, std::pair{changed, 2u}}) {
        WriteAll(folder_ / "setup.vorn", bytes);
        fs::remove_all(folder_ / "out");
        ASSERT_TRUE(program_.Start(exe_, "/S /D=" + (folder_ / "out").string()));
        EXPECT_EQ(SilentExit(), code);
        EXPECT_EQ(fs::exists(folder_ / "out" / "docs" / "readme.txt"), code == 0);
    }
    // The dialog says so in a box and opens no main dialog.
    ASSERT_TRUE(program_.Start(exe_));
    Box refused = WaitBox(kErrorCaption);
    ASSERT_TRUE(refused.window) << Windows();
    EXPECT_NE(refused.text.find("has been changed since it was packed"), std::string::npos)
        << refused.text;
    ASSERT_TRUE(Answer(refused.window, kOk));
    DWORD exitCode = 0;
    ASSERT_TRUE(program_.WaitForExit(&exitCode));
    EXPECT_EQ(exitCode, 2u);
}

// A sealed self-extractor run silently: the right password extracts; a wrong one, a byte changed
// in the entry's sealed data (reported as damage) or in the title its settings were packed with,
// write nothing.
TEST_F(Installer, SealedSilentRunExtractsOnlyWithTheRightPasswordAndUnchangedBytes) {
    pack::SfxPackSettings settings;
    settings.title = "Sealed setup";
    std::vector<uint8_t> stub = Stub();
    std::string error;
    ASSERT_TRUE(pack::SetSfxSettings(stub, settings, &error)) << error;
    vorntest::TestArchive archiveSpec = Sample();
    archiveSpec.entries[0].method = pack::Method::Stored;
    archiveSpec.seal.emplace().password = "right-password";
    archiveSpec.prefix = stub;
    const std::vector<uint8_t> sound = vorntest::BuildTestArchive(archiveSpec);
    const std::string image(sound.begin(), sound.end());
    const size_t title = image.find("Sealed setup", image.find(VORN_SFX_SETTINGS_MARKER));
    ASSERT_NE(title, std::string::npos);
    const size_t data = stub.size() + format::kHeaderBytes + format::kSealBlockBytes +
                        format::kSealedRecordBytes + 100;
    const struct {
        const char* what;
        const char* password;
        size_t flip;  // 0: none
        DWORD code;
    } cases[] = {{"control", "right-password", 0, 0},
                 {"wrong password", "wrong-password", 0, 2},
                 {"entry data", "right-password", data, 1},  // damaged, not a wrong password
                 {"title", "right-password", title + 3, 2}};
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = sound;
        if (c.flip != 0) bytes[c.flip] ^= 0x01;
        exe_ = (folder_ / "setup.exe").string();
        WriteAll(exe_, bytes);
        fs::remove_all(folder_ / "out");
        ASSERT_TRUE(
            program_.Start(exe_, "/S /D=" + (folder_ / "out").string() + " /P=" + c.password));
        const DWORD code = SilentExit();
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_TRUE(c.code != 2 || Written().empty()) << c.what;
        if (c.code == 0) ExpectFile("out\\docs\\readme.txt", data_);
        if (c.code != 0) {
            EXPECT_FALSE(fs::exists(folder_ / "out" / "docs" / "readme.txt")) << c.what;
            EXPECT_EQ(PartFiles(), 0u) << c.what;
        }
    }
}

}  // namespace
