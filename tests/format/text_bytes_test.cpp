// Control bytes and their display, the overwrite names, and the settings block written as read.
#include "format/text_bytes.h"

#include <gtest/gtest.h>

#include <string>

#include "format/display_text.h"
#include "format/sfx_settings.h"

namespace {

using format::kDisplayKeepLayout;
using format::kDisplayUtf8;

TEST(TextBytes, ControlBytesAreShownEscapedAndNothingElse) {
    const struct {
        std::string text;
        unsigned flags;
        std::string shown;
    } cases[] = {
        {"plain caf\xc3\xa9", kDisplayUtf8, "plain caf\xc3\xa9"},
        {"a\nextracted fake ok", kDisplayUtf8, "a\\x0Aextracted fake ok"},
        {"a\nb\tc\r", kDisplayUtf8 | kDisplayKeepLayout, "a\nb\tc\r"},
        {"\x1b[2J\x7f", kDisplayUtf8 | kDisplayKeepLayout, "\\x1B[2J\\x7F"},
        {"\x9b"
         "2J",
         kDisplayUtf8, "\\x9B2J"},  // the 8-bit CSI, not UTF-8
        {"\xc2\x9b"
         "2J",
         kDisplayUtf8, "\\xC2\\x9B2J"},  // the same as a UTF-8 character
        {"\xc2\x9b"
         "2J",
         0,
         "\xc2\x9b"
         "2J"},  // bytes of a code page: kept
        {"\xe9t\xe9", 0, "\xe9t\xe9"},
        {"\xe9t\xe9", kDisplayUtf8, "\\xE9t\\xE9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format::DisplayText(c.text, c.flags), c.shown) << c.shown;
    }
    char small[4];
    EXPECT_EQ(format::EscapeForDisplay("a\nb", 3, small, sizeof small, 0), 6u);
    EXPECT_STREQ(small, "a") << "an escape that does not fit is left off whole";
    EXPECT_TRUE(format::IsControlCodePoint(0x9b));
    EXPECT_FALSE(format::IsControlByte(0x9b));
}

TEST(SfxSettings, OverwriteNamesAndTheBlockReadBackAsWritten) {
    for (auto overwrite :
         {format::SfxOverwrite::Ask, format::SfxOverwrite::Always, format::SfxOverwrite::Never}) {
        format::SfxOverwrite parsed;
        ASSERT_TRUE(format::ParseSfxOverwrite(format::SfxOverwriteName(overwrite), false, &parsed));
        EXPECT_EQ(parsed, overwrite);
    }
    format::SfxOverwrite parsed;
    EXPECT_FALSE(format::ParseSfxOverwrite("ALWAYS", false, &parsed));
    EXPECT_TRUE(format::ParseSfxOverwrite("ALWAYS", true, &parsed));
    EXPECT_FALSE(format::ParseSfxOverwrite("alway", true, &parsed));

    format::SfxSettings settings;
    settings.run = "bin\\setup.exe /q";
    settings.runLength = 16;
    settings.temporary = true;
    settings.overwriteStored = true;
    settings.title = "Sample";
    settings.titleLength = 6;
    uint8_t block[format::kSfxSettingsBytes] = {};
    size_t length = format::WriteSfxSettings(settings, block, sizeof block);
    EXPECT_EQ(length, 3 + 16 + 3 + 4 + 3 + 6 + 1u);
    format::SfxSettings read;
    ASSERT_EQ(format::ReadSfxSettings(block, sizeof block, &read), format::SfxSettingsStatus::Ok);
    EXPECT_EQ(std::string(read.run, read.runLength), "bin\\setup.exe /q");
    EXPECT_TRUE(read.temporary && read.overwriteStored);
    EXPECT_EQ(read.overwrite, format::SfxOverwrite::Ask);
    EXPECT_EQ(std::string(read.title, read.titleLength), "Sample");
    EXPECT_GT(format::WriteSfxSettings(settings, block, 10), 10u) << "the length it needs";
    settings.title = "Bad\ttitle";
    settings.titleLength = 9;
    EXPECT_EQ(format::WriteSfxSettings(settings, block, sizeof block), 0u);
}

}  // namespace
