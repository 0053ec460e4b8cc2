// The branded Windows self-extractor under Wine: its dialog shows the title chosen at packing and
// it still verifies and extracts once signed afterwards; and at 192 DPI (Wine's LogPixels) the
// comment viewer and its font are twice their size at 96 DPI, the rest of the dialog following
// its template. Screenshots of both DPIs land in the screenshot folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "pack/self_extractor.h"
#include "pe/stub_branding.h"
#include "sfx_driver.h"
#include "test_archive.h"

namespace {

using namespace sfxtest;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kMainCaption[] = "Tarnwick Archiver self-extractor";
constexpr char kDialogClass[] = "#32770";
constexpr int kCommentView = 0x7010;
constexpr int kDestDir = 1000;

Bytes ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The DPI Wine gives programs started from now on.
bool SetLogPixels(DWORD dpi) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD,
                           &dpi, sizeof dpi) == ERROR_SUCCESS;
}

class BrandedSelfExtractor : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        ASSERT_TRUE(EnterTestDesktop());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        unixFolder_ = std::string(VORN_SFX_TEST_DIR) + "/work/" + info->name();
        folder_ = fs::path(WindowsPathFromUnix(unixFolder_));
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        fs::create_directories(folder_);
    }

    void TearDown() override {
        SetLogPixels(96);
        if (!HasFailure()) {
            std::error_code ignored;
            fs::remove_all(folder_, ignored);
        }
    }

    // The built stub with a publisher's icon, version information and title.
    Bytes BrandedStub(const std::string& title) {
        Bytes stub = ReadAll(WindowsPathFromUnix(VORN_SFX_STUB));
        pe::StubBranding branding;
        branding.iconFile = ReadAll(WindowsPathFromUnix(VORN_SOURCE_DIR "/sfx/win32/vornsfx.ico"));
        branding.productName = "Sample";
        branding.productVersion = "1.2.3";
        branding.originalFilename = "setup.exe";
        std::string error;
        EXPECT_TRUE(pe::BrandStub(stub, branding, &error)) << error;
        pack::SfxPackSettings settings;
        settings.title = title;
        EXPECT_TRUE(pack::SetSfxSettings(stub, settings, &error)) << error;
        return stub;
    }

    fs::path Write(const Bytes& stub, const std::string& comment, const Bytes& data) {
        vorntest::TestArchive archive;
        archive.prefix = stub;
        vorntest::TestEntry entry;
        entry.name = "branded\\data.txt";
        entry.data = data;
        archive.entries = {entry};
        archive.comment = comment;
        const fs::path exe = folder_ / "unsigned.exe";
        WriteAll(exe, vorntest::BuildTestArchive(archive));
        return exe;
    }

    void Shot(const std::string& name, HWND window) {
        if (!Screenshot(VORN_SFX_SCREENSHOT_DIR, name, window)) {
            std::printf("note: screenshot %s could not be taken\n", name.c_str());
        }
    }

    std::string unixFolder_;
    fs::path folder_;
};

TEST_F(BrandedSelfExtractor, SignedAfterBrandingItShowsItsTitleVerifiesAndExtracts) {
    const std::string title = "Sample 1.2.3 Setup – Ünïcode";
    const Bytes data(5000, 'b');
    Write(BrandedStub(title), "Branded, then signed.", data);
    std::string output;
    const int status = RunUnix(
        "openssl req -x509 -newkey rsa:2048 -nodes -subj '/CN=VORN test' -days 1 "
        "-keyout key.pem -out cert.pem && "
        "osslsigncode sign -certs cert.pem -key key.pem -n 'Sample' -in unsigned.exe "
        "-out setup.exe && osslsigncode verify -CAfile cert.pem setup.exe",
        unixFolder_, &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("Signature verification: ok"), std::string::npos) << output;

    Program program;
    ASSERT_TRUE(program.Start((folder_ / "setup.exe").string()));
    HWND main = program.WaitFor(title, kDialogClass);
    ASSERT_TRUE(main) << "windows: " << program.WindowCaptions().size();
    EXPECT_EQ(WindowText(main), title);
    EXPECT_EQ(program.Find(kMainCaption, kDialogClass), nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(main, kCommentView)), "Branded, then signed.");
    Shot("branded_title", main);
    ASSERT_TRUE(SetControlText(main, kDestDir, folder_.string()));
    ASSERT_TRUE(Press(main, 1));
    HWND done = program.WaitFor("Done", kDialogClass);
    ASSERT_TRUE(done);
    ASSERT_TRUE(Press(done, IDYES));
    DWORD code = 1234;
    ASSERT_TRUE(program.WaitForExit(&code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ReadAll(folder_ / "branded" / "data.txt"), data);
}

// The comment viewer as placed: its rectangle in the dialog and the height of one of its lines.
struct ViewerSize {
    RECT rect{};
    int lineHeight = 0;
};

ViewerSize MeasureAt(DWORD dpi, const fs::path& exe, const std::string& shot,
                     BrandedSelfExtractor* test) {
    ViewerSize size;
    EXPECT_TRUE(SetLogPixels(dpi));
    Program program;
    EXPECT_TRUE(program.Start(exe.string()));
    HWND main = program.WaitFor(kMainCaption, kDialogClass);
    EXPECT_TRUE(main);
    if (!main) return size;
    HWND viewer = GetDlgItem(main, kCommentView);
    size.rect = ClientRect(viewer);
    DWORD_PTR line2 = 0, first = 0, second = 0;
    SendMessageTimeoutW(viewer, EM_LINEINDEX, 1, 0, SMTO_BLOCK, 5000, &line2);
    SendMessageTimeoutW(viewer, EM_POSFROMCHAR, 0, 0, SMTO_BLOCK, 5000, &first);
    SendMessageTimeoutW(viewer, EM_POSFROMCHAR, line2, 0, SMTO_BLOCK, 5000, &second);
    size.lineHeight = static_cast<short>(HIWORD(second)) - static_cast<short>(HIWORD(first));
    if (!Screenshot(VORN_SFX_SCREENSHOT_DIR, shot, main))
        std::printf("note: no %s\n", shot.c_str());
    program.Kill();
    (void)test;
    return size;
}

TEST_F(BrandedSelfExtractor, CommentViewerAndItsFontAreTwiceAsLargeAt192Dpi) {
    const fs::path exe =
        Write(ReadAll(WindowsPathFromUnix(VORN_SFX_STUB)),
              "The comment viewer at two DPIs.\r\nIts second line.", Bytes(10, 'x'));
    const ViewerSize at96 = MeasureAt(96, exe, "comment_viewer_96dpi", this);
    const ViewerSize at192 = MeasureAt(192, exe, "comment_viewer_192dpi", this);
    SetLogPixels(96);
    // At 96 DPI every value is the design's.
    EXPECT_EQ(at96.rect.left, 24);
    EXPECT_EQ(at96.rect.top, 123);
    EXPECT_EQ(at96.rect.right - at96.rect.left, 288);
    EXPECT_EQ(at96.rect.bottom - at96.rect.top, 154);
    EXPECT_EQ(at192.rect.left, 48);
    EXPECT_EQ(at192.rect.top, 246);
    EXPECT_EQ(at192.rect.right - at192.rect.left, 576);
    EXPECT_EQ(at192.rect.bottom - at192.rect.top, 308);
    // A line is the font's height and its leading, which round on their own at each size.
    EXPECT_GT(at96.lineHeight, 10);
    EXPECT_NEAR(at192.lineHeight, 2 * at96.lineHeight, 2)
        << at96.lineHeight << " at 96 DPI, " << at192.lineHeight << " at 192";
}

}  // namespace
