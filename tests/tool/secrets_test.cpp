// Passwords kept off the command line and out of the tool's messages: -p without a value typed on
// a terminal and never echoed, password files refused for what they cannot give, and option
// errors that name a misspelt option without the secret written into it.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "process_support.h"

namespace tooltest {
namespace {

const std::string kVorn = VORN_TOOL_PATH;
const std::string kSecret = "hunter2-topsecret";

// An archive of one enciphered file, packed with a password given as a value.
fs::path PackedWithSecret(const ScratchFolder& scratch) {
    WriteFile(scratch / "src" / "note.txt", "the note\n");
    fs::path archive = scratch / "locked.vorn";
    RunResult pack = RunProgram(kVorn, {"pack", "-q", "--encrypt-names", "-p", kSecret,
                                        archive.string(), (scratch / "src").string()});
    EXPECT_EQ(pack.exitCode, 0) << pack.err;
    return archive;
}

TEST(ToolSecrets, PasswordTypedWithoutEchoPacksTwiceTypedAndExtracts) {
    ScratchFolder scratch;
    WriteFile(scratch / "src" / "note.txt", "the note\n");
    const std::string archive = (scratch / "typed.vorn").string();
    RunResult differ = RunOnTerminal(kVorn, {"pack", "-q", archive, "src", "-p"},
                                     {{"Password: ", kSecret}, {"again: ", kSecret + "x"}},
                                     scratch.path().string());
    EXPECT_EQ(differ.exitCode, 2) << differ.out;
    EXPECT_NE(differ.out.find("differ"), std::string::npos) << differ.out;
    EXPECT_FALSE(fs::exists(archive));
    RunResult pack =
        RunOnTerminal(kVorn, {"pack", "-q", "-p", "--", archive, "src"},
                      {{"Password: ", kSecret}, {"again: ", kSecret}}, scratch.path().string());
    ASSERT_EQ(pack.exitCode, 0) << pack.out;
    EXPECT_EQ(pack.out.find(kSecret), std::string::npos) << "echoed: " << pack.out;
    // The typed password is the one the archive was enciphered with.
    RunResult extract = RunOnTerminal(kVorn, {"x", "-q", archive, "-o", "out", "-p"},
                                      {{"Password: ", kSecret}}, scratch.path().string());
    EXPECT_EQ(extract.exitCode, 0) << extract.out;
    EXPECT_EQ(extract.out.find(kSecret), std::string::npos) << "echoed: " << extract.out;
    EXPECT_EQ(ReadFile(scratch / "out" / "src" / "note.txt"), "the note\n");
}

// Ctrl-C at the password prompt ends the tool, and the terminal has its echo back afterwards.
// (Not named for the thread-sanitizer run: its runtime holds a signal back while the tool waits
// in read, and the prompt has no threads to check.)
TEST(ToolSecrets, CtrlCAtThePromptGivesTheTerminalItsEchoBack) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(kVorn.c_str(), kVorn.c_str(), "list", "none.vorn", "-p", nullptr);
        _exit(127);
    }
    std::string shown;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (shown.find("Password: ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        char buffer[256];
        ssize_t n = poll(&p, 1, 50) > 0 ? read(master, buffer, sizeof buffer) : 0;
        if (n > 0) shown.append(buffer, static_cast<size_t>(n));
    }
    termios during{};
    tcgetattr(master, &during);
    EXPECT_EQ(during.c_lflag & ECHO, 0u) << "echo is off while the password is typed";
    ASSERT_EQ(write(master, "\x03", 1), 1);
    // A tool that outlives the interrupt fails the test rather than hanging it.
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    termios after{};
    tcgetattr(master, &after);
    close(master);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo stays off after the interrupt";
}

TEST(ToolSecrets, PasswordOptionWithoutValueNeedsATerminalAndKeepsItsOldMeaningBeforeAWord) {
    ScratchFolder scratch;
    fs::path archive = PackedWithSecret(scratch);
    const std::string packed = (scratch / "p.vorn").string();
    for (const char* command : {"list", "test", "x", "pack"}) {
        bool pack = std::string(command) == "pack";
        RunResult run = RunProgram(kVorn,
                                   pack ? std::vector<std::string>{command, packed, "src", "-p"}
                                        : std::vector<std::string>{command, archive.string(), "-p"},
                                   scratch.path().string());
        EXPECT_EQ(run.exitCode, 2) << command;
        EXPECT_NE(run.err.find("reads the password from a terminal"), std::string::npos)
            << command << ": " << run.err;
    }
    EXPECT_FALSE(fs::exists(packed));
    // Before a word that is no option, -p takes it as the password, as it always has.
    EXPECT_EQ(RunProgram(kVorn, {"list", "-p", kSecret, archive.string()}).exitCode, 0);
    RunResult took = RunProgram(kVorn, {"list", "-p", archive.string()});
    EXPECT_EQ(took.exitCode, 2);
    EXPECT_NE(took.err.find("give exactly one archive"), std::string::npos) << took.err;
}

TEST(ToolSecrets, PasswordFilesThatGiveNoPasswordAreRefusedAndNothingIsWritten) {
    ScratchFolder scratch;
    fs::path archive = PackedWithSecret(scratch);
    WriteFile(scratch / "empty", "");
    WriteFile(scratch / "blank", "\r\n" + kSecret + "\n");
    WriteFile(scratch / "huge", std::string(1 << 20, 'a'));
    WriteFile(scratch / "long", std::string(260, 'a') + "\n");
    WriteFile(scratch / "nul", std::string("ab\0cd\n", 6));
    const struct {
        const char* file;
        const char* why;
    } cases[] = {
        {"missing", "cannot read password file"}, {"empty", "its first line is empty"},
        {"blank", "its first line is empty"},     {"huge", "longer than 259 bytes"},
        {"long", "longer than 259 bytes"},        {"nul", "NUL byte"},
    };
    for (const auto& c : cases) {
        const std::string file = (scratch / c.file).string();
        for (const char* command : {"list", "x", "pack"}) {
            fs::path out = scratch / (std::string("out-") + c.file + "-" + command);
            std::vector<std::string> args = {command, "--password-file", file};
            if (std::string(command) == "pack") args.insert(args.end(), {out.string(), "src"});
            if (std::string(command) != "pack") args.insert(args.end(), {archive.string()});
            if (std::string(command) == "x") args.insert(args.end(), {"-o", out.string()});
            RunResult run = RunProgram(kVorn, args, scratch.path().string());
            EXPECT_EQ(run.exitCode, 2) << c.file << " " << command;
            EXPECT_NE(run.err.find(c.why), std::string::npos) << c.file << ": " << run.err;
            EXPECT_FALSE(fs::exists(out)) << c.file << " " << command;
        }
    }
    // Control: the longest password a file may give, with its "\r\n", opens the archive.
    const std::string longest(259, 'k');
    WriteFile(scratch / "right", longest + "\r\nsecond line ignored\n");
    ASSERT_EQ(
        RunProgram(kVorn, {"pack", "-q", "-p", longest, "big.vorn", "src"}, scratch.path().string())
            .exitCode,
        0);
    EXPECT_EQ(RunProgram(kVorn, {"x", "-q", "--password-file", "right", "big.vorn", "-o", "ok"},
                         scratch.path().string())
                  .exitCode,
              0);
    EXPECT_EQ(ReadFile(scratch / "ok" / "src" / "note.txt"), "the note\n");
}

TEST(ToolSecrets, OptionErrorsNameTheOptionButNeverTheValueWrittenIntoIt) {
    const struct {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"list", "--passwrod=" + kSecret, "a.vorn"}, "--passwrod..."},
        {{"x", "-P" + kSecret, "a.vorn"}, "-P..."},
        {{"test", "-q" + kSecret, "a.vorn"}, "-q..."},
        {{"--password=" + kSecret}, "--password..."},
        {{"pack", "--secret-thing=" + kSecret, "o.vorn", "src"}, "--secret-thing..."},
    };
    for (const auto& c : cases) {
        RunResult run = RunProgram(kVorn, c.args);
        EXPECT_EQ(run.exitCode, 2) << c.named;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find(kSecret) + run.err.find(kSecret), 2 * std::string::npos) << run.err;
    }
    // Control: an unknown option without a value is still named whole.
    RunResult plain = RunProgram(kVorn, {"list", "--no-such-option", "a.vorn"});
    EXPECT_NE(plain.err.find("unknown option --no-such-option for"), std::string::npos)
        << plain.err;
}

}  // namespace
}  // namespace tooltest
