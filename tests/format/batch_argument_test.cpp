// What a batch program may be given: the characters cmd.exe reads for itself are found wherever
// they stand, everything else passes.
#include "format/batch_argument.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BatchArgument, BatchProgramsAreKnownByTheirEnding) {
    const struct {
        const char* name;
        bool batch;
    } cases[] = {{"setup.bat", true},  {"SETUP.CMD", true},      {"bin\\Run.Bat", true},
                 {"setup.exe", false}, {"setup.bat.exe", false}, {"bat", false},
                 {".cmd", true},       {"setup.cmdx", false},    {"", false}};
    for (const auto& c : cases) EXPECT_EQ(format::IsBatchProgram(c.name), c.batch) << c.name;
}

TEST(BatchArgument, EveryCharacterCmdReadsIsFoundAndNothingElse) {
    const struct {
        const char* argument;
        int at;  // where the first such character is, -1 for none
    } cases[] = {{"a&echo pwned>x", 1},
                 {"a|b", 1},
                 {"<in", 0},
                 {"out>", 3},
                 {"x^", 1},
                 {"%PATH%", 0},
                 {"!v!", 0},
                 {"say \"hi", 4},
                 {"(a)", 0},
                 {"a)", 1},
                 {"one\ntwo", 3},
                 {"one\rtwo", 3},
                 {"plain", -1},
                 {"C:\\Program Files\\x", -1},
                 {"a=b,c;d", -1},
                 {"", -1},
                 {"caf\xc3\xa9 'q' *?", -1}};
    for (const auto& c : cases) {
        const char* found = format::FindBatchCharacter(c.argument, strlen(c.argument));
        EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found - c.argument), c.at) << c.argument;
    }
}

TEST(BatchArgument, AProgramLineMayQuoteButNotCloseOrCommand) {
    const struct {
        const char* line;
        bool safe;
    } cases[] = {{"setup.bat /quiet", true},
                 {"setup.bat \"C:\\Program Files\\x\" two", true},
                 {"setup.bat", true},
                 {"setup.bat a&calc", false},
                 {"setup.bat \"a&calc\"", false},
                 {"setup.bat \"open", false},
                 {"setup.bat %TEMP%", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(format::BatchLineIsSafe(c.line, strlen(c.line), 9), c.safe) << c.line;
    }
}

}  // namespace
