// The self-extractors' command lines: the Windows switches, the Linux options, and the quoting
// that hands words on to a Windows program unchanged.
#include "sfx/core/command_line.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "sfx/core/sfx_core.h"

namespace {

using sfx::ArgumentsStatus;

// What the parsers give back points into the words and their array, as it points into argv, so
// both are kept for the whole run.
const std::vector<const char*>& Words(const std::vector<std::string>& words) {
    static std::deque<std::string> kept;
    static std::deque<std::vector<const char*>> arrays;
    std::vector<const char*>& pointers = arrays.emplace_back();
    for (const std::string& w : words) pointers.push_back(kept.emplace_back(w).c_str());
    return pointers;
}

sfx::Invocation Windows(const std::vector<std::string>& words, ArgumentsStatus* status) {
    const auto& args = Words(words);
    sfx::Invocation out;
    *status = sfx::ParseWindowsSwitches(static_cast<int>(args.size()), args.data(), &out);
    return out;
}

TEST(WindowsSwitches, AcceptedWithSlashOrDashInAnyCase) {
    ArgumentsStatus status;
    auto s = Windows({"/S", "-d=C:\\Out dir", "/o=NEVER", "-P=secret", "--", "/x", "y"}, &status);
    ASSERT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_TRUE(s.unattended);
    EXPECT_STREQ(s.destination, "C:\\Out dir");
    EXPECT_EQ(s.overwrite, format::SfxOverwrite::Never);
    EXPECT_STREQ(s.password, "secret");
    EXPECT_EQ(s.programArgCount, 2);
    EXPECT_STREQ(s.programArgs[0], "/x");
    EXPECT_EQ(s.mode, sfx::RunMode::Extract);

    // The log is for the dialog as much as for /S.
    s = Windows({"/log=C:\\Logs\\setup.log"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_STREQ(s.logPath, "C:\\Logs\\setup.log");

    s = Windows({"-s", "/O=Always"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_EQ(s.overwrite, format::SfxOverwrite::Always);
    EXPECT_EQ(s.programArgCount, 0);

    s = Windows({"/s", "/accept", "-Progress"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_TRUE(s.accept && s.progress);

    s = Windows({"/?"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_EQ(s.mode, sfx::RunMode::Help);
    s = Windows({}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_FALSE(s.unattended);
    // Words after "--" go to the program even without /S, and are never switches.
    s = Windows({"--", "/S"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_FALSE(s.unattended);
    EXPECT_EQ(s.programArgCount, 1);
}

TEST(WindowsSwitches, AnythingElseIsRefusedNamingTheWord) {
    const struct {
        std::vector<std::string> words;
        ArgumentsStatus status;
        int bad;
    } cases[] = {
        {{"/X"}, ArgumentsStatus::Unknown, 0},
        {{"/S", "setup"}, ArgumentsStatus::Unknown, 1},
        {{"/SS"}, ArgumentsStatus::Unknown, 0},
        {{"/Dir=C:\\"}, ArgumentsStatus::Unknown, 0},
        {{"/"}, ArgumentsStatus::Unknown, 0},
        {{"-"}, ArgumentsStatus::Unknown, 0},
        {{"--S"}, ArgumentsStatus::Unknown, 0},
        {{"/S", "/D"}, ArgumentsStatus::MissingValue, 1},
        {{"/S", "/D="}, ArgumentsStatus::MissingValue, 1},
        {{"/S", "/P="}, ArgumentsStatus::MissingValue, 1},
        {{"/S", "/O=ask"}, ArgumentsStatus::BadValue, 1},
        {{"/S", "/O=sometimes"}, ArgumentsStatus::BadValue, 1},
        {{"/S", "/s"}, ArgumentsStatus::Repeated, 1},
        {{"/S", "/D=a", "/D=b"}, ArgumentsStatus::Repeated, 2},
        {{"/D=C:\\Out"}, ArgumentsStatus::Conflict, 0},
        {{"/ACCEPT"}, ArgumentsStatus::Conflict, 0},
        {{"/PROGRESS"}, ArgumentsStatus::Conflict, 0},
        {{"/S", "/Accept", "/accept"}, ArgumentsStatus::Repeated, 2},
        {{"/S", "/PROGRESS=1"}, ArgumentsStatus::Unknown, 1},
        {{"/?", "/P=secret"}, ArgumentsStatus::Conflict, 1},
        {{"/S", "/LOG"}, ArgumentsStatus::MissingValue, 1},
        {{"/LOG="}, ArgumentsStatus::MissingValue, 0},
        {{"/LOG=a", "/log=b"}, ArgumentsStatus::Repeated, 1},
        {{"/LOGS=a"}, ArgumentsStatus::Unknown, 0},
    };
    for (const auto& c : cases) {
        ArgumentsStatus status;
        auto s = Windows(c.words, &status);
        EXPECT_EQ(status, c.status) << c.words[c.words.size() - 1];
        EXPECT_EQ(s.bad, c.bad) << c.words[c.words.size() - 1];
    }
}

TEST(WindowsSwitches, PasswordFromAFileWithAtAndALeadingAtDoubled) {
    const struct {
        const char* word;
        ArgumentsStatus status;
        const char* password;
        const char* file;
    } cases[] = {
        {"/P=@C:\\keys\\pw.txt", ArgumentsStatus::Ok, nullptr, "C:\\keys\\pw.txt"},
        {"-p=@pw", ArgumentsStatus::Ok, nullptr, "pw"},
        {"/P=@@pw", ArgumentsStatus::Ok, "@pw", nullptr},
        {"/P=p@ss", ArgumentsStatus::Ok, "p@ss", nullptr},
        {"/P=@", ArgumentsStatus::MissingValue, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        ArgumentsStatus status;
        auto s = Windows({"/S", c.word}, &status);
        EXPECT_EQ(status, c.status) << c.word;
        EXPECT_STREQ(s.password, c.password) << c.word;
        EXPECT_STREQ(s.passwordFile, c.file) << c.word;
    }
}

// A misspelt password switch must not print the password back; other words are named as given.
TEST(RefusedWord, ShownWithoutWhatFollowsItsNameOrThePasswordLetter) {
    const struct {
        sfx::FrontEnd frontEnd;
        const char* word;
        const char* shown;
    } cases[] = {
        {sfx::FrontEnd::Windows, "/PP=secret", "/P..."},
        {sfx::FrontEnd::Windows, "/P:secret", "/P..."},
        {sfx::FrontEnd::Windows, "-psecret", "-p..."},
        {sfx::FrontEnd::Windows, "/X=secret", "/X..."},
        {sfx::FrontEnd::Windows, "/Dir:secret", "/Dir..."},
        {sfx::FrontEnd::Windows, "/P", "/P"},
        {sfx::FrontEnd::Windows, "/X", "/X"},
        {sfx::FrontEnd::Windows, "setup", "setup"},
        {sfx::FrontEnd::Console, "--passwrod=secret", "--passwrod..."},
        {sfx::FrontEnd::Console, "--password-file", "--password-file"},
        {sfx::FrontEnd::Console, "--hlep", "--hlep"},
    };
    for (const auto& c : cases) {
        sfx::Invocation invocation;
        invocation.frontEnd = c.frontEnd;
        invocation.refused = c.word;
        char shown[sfx::kTextBytes];
        sfx::ShownRefusedWord(invocation, shown, sizeof shown);
        EXPECT_STREQ(shown, c.shown);
    }
    const std::string longWord = "/" + std::string(400, 'x');
    sfx::Invocation invocation;
    invocation.refused = longWord.c_str();
    char small[8];
    sfx::ShownRefusedWord(invocation, small, sizeof small);
    EXPECT_STREQ(small, "/xxx...");
}

sfx::Invocation Console(const std::vector<std::string>& words, ArgumentsStatus* status) {
    const auto& args = Words(words);
    sfx::Invocation out;
    *status = sfx::ParseConsoleOptions(static_cast<int>(args.size()), args.data(), &out);
    return out;
}

TEST(ConsoleOptions, EveryOptionWithItsValueEitherWay) {
    ArgumentsStatus status;
    auto o = Console({"--target", "/opt/app", "--quiet", "--noexec", "--keep", "--skip-existing",
                      "--password-file=/run/pw", "--log", "run.log", "--", "--help", "x"},
                     &status);
    ASSERT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_EQ(o.mode, sfx::RunMode::Extract);
    EXPECT_STREQ(o.destination, "/opt/app");
    EXPECT_STREQ(o.passwordFile, "/run/pw");
    EXPECT_STREQ(o.logPath, "run.log");
    EXPECT_TRUE(o.unattended && o.noexec && o.keep);
    EXPECT_EQ(o.overwrite, format::SfxOverwrite::Never);
    EXPECT_EQ(o.programArgCount, 2);
    EXPECT_STREQ(o.programArgs[0], "--help");

    const struct {
        const char* word;
        sfx::RunMode mode;
    } modes[] = {{"--help", sfx::RunMode::Help},
                 {"--info", sfx::RunMode::Info},
                 {"--list", sfx::RunMode::List},
                 {"--check", sfx::RunMode::Check}};
    for (const auto& m : modes) {
        o = Console({m.word}, &status);
        EXPECT_EQ(status, ArgumentsStatus::Ok) << m.word;
        EXPECT_EQ(o.mode, m.mode) << m.word;
    }
    o = Console({"--accept", "--quiet", "--progress"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_TRUE(o.accept && o.progress && o.unattended);
    o = Console({"--overwrite", "--target=~/x"}, &status);
    EXPECT_EQ(status, ArgumentsStatus::Ok);
    EXPECT_EQ(o.overwrite, format::SfxOverwrite::Always);
    EXPECT_STREQ(o.destination, "~/x");
}

TEST(ConsoleOptions, UnknownMissingRepeatedAndConflictingAreRefused) {
    const struct {
        std::vector<std::string> words;
        ArgumentsStatus status;
        int bad;
    } cases[] = {
        {{"--hlep"}, ArgumentsStatus::Unknown, 0},
        {{"-h"}, ArgumentsStatus::Unknown, 0},
        {{"install"}, ArgumentsStatus::Unknown, 0},
        {{"--quiet", "/tmp"}, ArgumentsStatus::Unknown, 1},
        {{"--target"}, ArgumentsStatus::MissingValue, 0},
        {{"--target="}, ArgumentsStatus::MissingValue, 0},
        {{"--quiet", "--password-file"}, ArgumentsStatus::MissingValue, 1},
        {{"--quiet=yes"}, ArgumentsStatus::BadValue, 0},
        {{"--keep", "--keep"}, ArgumentsStatus::Repeated, 1},
        {{"--list", "--check"}, ArgumentsStatus::Conflict, 1},
        {{"--overwrite", "--skip-existing"}, ArgumentsStatus::Conflict, 1},
    };
    for (const auto& c : cases) {
        ArgumentsStatus status;
        auto o = Console(c.words, &status);
        EXPECT_EQ(status, c.status) << c.words[0];
        EXPECT_EQ(o.bad, c.bad) << c.words[0];
    }
}

TEST(WindowsArgument, QuotedSoTheSystemSplitsItBackUnchanged) {
    const struct {
        const char* arg;
        const char* quoted;
    } cases[] = {
        {"plain", "plain"},
        {"two words", "\"two words\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
    };
    for (const auto& c : cases) {
        char line[64] = "";
        ASSERT_TRUE(sfx::AppendWindowsArgument(line, sizeof line, c.arg)) << c.arg;
        EXPECT_STREQ(line, c.quoted);
    }
    char line[16] = "setup";
    ASSERT_TRUE(sfx::AppendWindowsArgument(line, sizeof line, "/q"));
    EXPECT_STREQ(line, "setup /q");
    EXPECT_FALSE(sfx::AppendWindowsArgument(line, sizeof line, "far too long"));
    EXPECT_STREQ(line, "setup /q") << "a word that does not fit leaves the line as it was";
}

}  // namespace
