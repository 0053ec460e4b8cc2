// vorn pack's branding of Windows self-extractors, read back with pefile (tests/pe/
// read_pe_branding.py), a PE reader independent of the project's own: the icon group and its
// images, the version strings and numbers, the manifest's level and the checksum. Also the
// refusals, which name their option and leave no file, and reproducible packing with
// SOURCE_DATE_EPOCH. Needs the stubs of the win32 and win64 builds beside this one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>

#include "process_support.h"
#include "test_pe.h"

namespace tooltest {
namespace {

const std::string kVorn = VORN_TOOL_PATH;
const std::string kReader = VORN_PE_READER;

RunResult Vorn(const std::vector<std::string>& args) {
    return RunProgram(kVorn, args);
}

fs::path Stub(const std::string& preset) {
    return fs::path(kVorn).parent_path().parent_path().parent_path() / preset / "sfx" /
           "vornsfx.exe";
}

std::map<std::string, std::string> ReadBranding(const fs::path& exe) {
    RunResult read = RunProgram("/usr/bin/python3", {kReader, exe.string()});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    std::map<std::string, std::string> facts;
    std::istringstream lines(read.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return facts;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

const std::vector<std::string> kBranding = {
    "--product-name", "Sample Ünïcode",   "--product-version", "1.2.3.40000",
    "--company",      "Sample Co",        "--description",     "Sample setup",
    "--copyright",    "© 2026 Sample Co", "--elevate"};

struct Kind {
    const char* sfx;
    const char* preset;
};

TEST(Branding, BrandedSelfExtractorReadsBackWithAnIndependentPeReader) {
    for (const Kind kind : {Kind{"windows", "win32"}, Kind{"windows64", "win64"}}) {
        if (!fs::exists(Stub(kind.preset))) GTEST_SKIP() << "no stub at " << Stub(kind.preset);
        ScratchFolder scratch;
        WriteFile(scratch / "src" / "a.txt", SampleBytes(30000, 3));
        const std::vector<uint8_t> icon =
            vorntest::BuildTestIcon({{16, 4}, {32, 8}, {48, 24}, {64, 32}, {256, 32, true}});
        const std::string iconBytes(icon.begin(), icon.end());
        WriteFile(scratch / "app.ico", iconBytes);
        fs::path exe = scratch / "Sample-1.2.3-setup.exe";
        std::vector<std::string> args = {"pack",    "-q",          "--sfx",
                                         kind.sfx,  "--icon",      (scratch / "app.ico").string(),
                                         "--title", "Sample Setup"};
        args.insert(args.end(), kBranding.begin(), kBranding.end());
        args.insert(args.end(), {exe.string(), (scratch / "src").string()});
        RunResult pack = Vorn(args);
        ASSERT_EQ(pack.exitCode, 0) << pack.err;

        auto facts = ReadBranding(exe);
        EXPECT_EQ(facts["checksum_ok"], "1") << kind.sfx;
        ASSERT_EQ(facts["icons"], "5");
        for (size_t i = 0; i < 5; ++i) {
            const std::string n = std::to_string(i);
            const size_t entry = 6 + 16 * i;
            const uint32_t size = icon[entry + 8] | icon[entry + 9] << 8 | icon[entry + 10] << 16;
            const uint32_t offset =
                icon[entry + 12] | icon[entry + 13] << 8 | icon[entry + 14] << 16;
            EXPECT_EQ(facts["entry" + n], Hex(iconBytes.substr(entry, 12))) << n;
            EXPECT_EQ(facts["image" + n], Hex(iconBytes.substr(offset, size))) << n;
        }
        EXPECT_EQ(facts["string.ProductName"], "Sample Ünïcode");
        EXPECT_EQ(facts["string.ProductVersion"], "1.2.3.40000");
        EXPECT_EQ(facts["string.FileVersion"], "1.2.3.40000");
        EXPECT_EQ(facts["string.CompanyName"], "Sample Co");
        EXPECT_EQ(facts["string.FileDescription"], "Sample setup");
        EXPECT_EQ(facts["string.LegalCopyright"], "© 2026 Sample Co");
        EXPECT_EQ(facts["string.OriginalFilename"], "Sample-1.2.3-setup.exe");
        EXPECT_EQ(facts["string.InternalName"], "vornsfx");  // not given: the stub's own
        EXPECT_EQ(facts["fixed.file"], "1.2.3.40000");
        EXPECT_EQ(facts["fixed.product"], "1.2.3.40000");
        EXPECT_EQ(facts["level"], "requireAdministrator");
        EXPECT_EQ(facts["dpiAwareness"], "True");

        RunResult list = Vorn({"list", exe.string()});
        EXPECT_NE(list.out.find("Product: Sample Ünïcode 1.2.3.40000"), std::string::npos)
            << list.out;
        EXPECT_NE(list.out.find("Asks for administrator rights: yes"), std::string::npos);
        EXPECT_NE(list.out.find("Title: Sample Setup"), std::string::npos) << list.out;
        ASSERT_EQ(Vorn({"x", "-q", exe.string(), "-o", (scratch / "out").string()}).exitCode, 0);
        EXPECT_EQ(ReadFile(scratch / "out" / "src" / "a.txt"), SampleBytes(30000, 3));
    }
}

TEST(Branding, WithoutBrandingTheResourcesAreTheStubsAndTheChecksumIsRight) {
    if (!fs::exists(Stub("win32"))) GTEST_SKIP() << "no stub at " << Stub("win32");
    ScratchFolder scratch;
    WriteFile(scratch / "a.txt", "plain");
    fs::path exe = scratch / "plain.exe";
    ASSERT_EQ(Vorn({"pack", "-q", "--sfx", "windows", exe.string(), (scratch / "a.txt").string()})
                  .exitCode,
              0);
    auto facts = ReadBranding(exe);
    auto stub = ReadBranding(Stub("win32"));
    EXPECT_EQ(facts["checksum_ok"], "1");
    for (const char* key : {"image0", "entry1", "string.ProductName", "string.OriginalFilename",
                            "fixed.file", "level"}) {
        EXPECT_EQ(facts[key], stub[key]) << key;
    }
    EXPECT_EQ(facts["level"], "asInvoker");
    RunResult list = Vorn({"list", exe.string()});
    EXPECT_NE(list.out.find("Asks for administrator rights: no"), std::string::npos) << list.out;
}

TEST(Branding, BadInputIsRefusedNamingTheOptionAndLeavesNoFile) {
    if (!fs::exists(Stub("win32"))) GTEST_SKIP() << "no stub at " << Stub("win32");
    ScratchFolder scratch;
    WriteFile(scratch / "a.txt", "x");
    WriteFile(scratch / "not.ico", "this is text, not an icon");
    std::vector<uint8_t> icon = vorntest::BuildTestIcon({{32, 4}});
    WriteFile(scratch / "cut.ico", std::string(icon.begin(), icon.end() - 10));
    WriteFile(scratch / "big.ico", std::string((4u << 20) + 1, '\0'));
    icon[6 + 16 + 14] = 2;  // a 2-bit bitmap
    WriteFile(scratch / "deep.ico", std::string(icon.begin(), icon.end()));
    WriteFile(scratch / "unsigned.exe", "MZ not really a program");
    const std::string ico = scratch.path().string() + "/";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--icon", ico + "not.ico"}, "--icon " + ico + "not.ico: not an icon file"},
        {{"--icon", ico + "cut.ico"}, "runs past the end of the file"},
        {{"--icon", ico + "big.ico"}, "at most 4194304 (4 MiB)"},
        {{"--icon", ico + "deep.ico"}, "depth Windows cannot show as an icon (2 bits)"},
        {{"--icon", ico + "missing.ico"}, "--icon " + ico + "missing.ico: cannot read"},
        {{"--product-version", "1.2.x"}, "--product-version: \"1.2.x\" is not one to four"},
        {{"--product-version", "70000"}, "--product-version: \"70000\": each number is at most"},
        {{"--product-version", "1.2.3.4.5"}, "--product-version"},
        {{"--company", "tab\there"}, "--company: the text holds a control character"},
        {{"--description", std::string(256, 'd')}, "--description: the text is 256 bytes"},
        {{"--copyright", ""}, "--copyright: the text is empty"},
        {{"--title", "bad\xff"}, "--title: the text is not valid UTF-8"},
        {{"--product-name", "x", "--sfx-stub", ico + "unsigned.exe"},
         "--product-name: cannot brand the stub"},
    };
    for (const auto& c : cases) {
        fs::path out = scratch / "out.exe";
        std::vector<std::string> args = {"pack", "-q"};
        if (std::find(c.args.begin(), c.args.end(), "--sfx-stub") == c.args.end()) {
            args.insert(args.end(), {"--sfx", "windows"});
        }
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {out.string(), (scratch / "a.txt").string()});
        RunResult run = Vorn(args);
        EXPECT_EQ(run.exitCode, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.message << "\n" << run.err;
        EXPECT_FALSE(fs::exists(out)) << c.message;
        for (const auto& e : fs::directory_iterator(scratch.path())) {
            EXPECT_EQ(e.path().string().find(".partial-"), std::string::npos) << e.path();
        }
    }
    RunResult linux = Vorn({"pack", "-q", "--sfx", "linux", "--elevate", (scratch / "l").string(),
                            (scratch / "a.txt").string()});
    EXPECT_NE(linux.err.find("--elevate is for Windows self-extractors"), std::string::npos)
        << linux.err;
}

TEST(Branding, SourceDateEpochGivesTheSameBytesAfterTheFilesAreTouched) {
    if (!fs::exists(Stub("win32"))) GTEST_SKIP() << "no stub at " << Stub("win32");
    ScratchFolder scratch;
    WriteFile(scratch / "src" / "a.txt", SampleBytes(5000, 1));
    WriteFile(scratch / "src" / "b" / "c.txt", SampleBytes(7000, 2));
    const std::vector<uint8_t> icon = vorntest::BuildTestIcon({{32, 4}});
    WriteFile(scratch / "app.ico", std::string(icon.begin(), icon.end()));
    auto pack = [&](const std::string& folder) {
        fs::create_directories(scratch / folder);
        fs::path out = scratch / folder / "setup.exe";
        std::vector<std::string> args = {"pack",    "-q",     "--sfx",
                                         "windows", "--icon", (scratch / "app.ico").string(),
                                         "--title", "Sample"};
        args.insert(args.end(), kBranding.begin(), kBranding.end());
        args.insert(args.end(), {out.string(), (scratch / "src").string()});
        setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
        RunResult run = Vorn(args);
        unsetenv("SOURCE_DATE_EPOCH");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return ReadFile(out);
    };
    const std::string first = pack("one");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(scratch / "src" / "a.txt", now + std::chrono::seconds(5));
    fs::last_write_time(scratch / "src" / "b" / "c.txt", now + std::chrono::seconds(9));
    const std::string second = pack("two");
    EXPECT_FALSE(first.empty());
    EXPECT_TRUE(first == second) << "packing after a touch changed the bytes";
    RunResult list = Vorn({"list", (scratch / "two" / "setup.exe").string()});
    EXPECT_NE(list.out.find("2023-11-14"), std::string::npos) << list.out;

    setenv("SOURCE_DATE_EPOCH", "soon", 1);
    RunResult bad = Vorn({"pack", "-q", (scratch / "x.vorn").string(), (scratch / "src").string()});
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("SOURCE_DATE_EPOCH"), std::string::npos);
}

}  // namespace
}  // namespace tooltest
