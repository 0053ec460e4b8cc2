// Self-extractors: the signature search that finds the archive behind a stub, the stub's
// built-in destination and its settings block.
#include "pack/self_extractor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "byte_reading.h"
#include "format/builtin_destination.h"
#include "format/sfx_settings.h"
#include "format/stub_fields.h"
#include "test_archive.h"

namespace {

using namespace packtest;

const std::vector<uint8_t> kCurrent = {'V', 'O', 'R', 'N', 2, 0, 0, 0x8f};
const std::vector<uint8_t> kOld = {'V', 'O', 'R', 'N', 1, 0, 0, 0x8f};

std::vector<uint8_t> With(std::vector<uint8_t> bytes, size_t at, const std::vector<uint8_t>& put) {
    std::copy(put.begin(), put.end(), bytes.begin() + at);
    return bytes;
}

std::vector<uint8_t> SmallArchive() {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry entry;
    entry.name = "readme.txt";
    entry.data = Bytes("hello");
    archiveSpec.entries = {entry};
    return vorntest::BuildTestArchive(archiveSpec);
}

// What a reader finds of the stub's fields in file, before its archive (format/stub_fields.h).
std::optional<std::string> DestinationIn(const std::vector<uint8_t>& file) {
    const size_t image = format::FindSignature(file.data(), file.size());
    const uint8_t* field = format::FindBuiltInDestinationField(file.data(), image);
    if (field == nullptr) return std::nullopt;
    return std::string(field, field + format::BuiltInDestinationLength(field));
}

std::optional<std::vector<uint8_t>> SettingsIn(const std::vector<uint8_t>& file) {
    const size_t image = format::FindSignature(file.data(), file.size());
    const uint8_t* block = format::FindSfxSettingsBlock(file.data(), image);
    if (block == nullptr) return std::nullopt;
    return std::vector<uint8_t>(block, block + format::kSfxSettingsBytes);
}

// ---- Finding the signature

TEST(ArchiveSignature, LowestOfBothVersionWordsIsFound) {
    const auto bytes = With(With(Pattern(500), 300, kCurrent), 120, kOld);
    EXPECT_EQ(pack::FindArchiveSignature(bytes), std::optional<size_t>(120));
    EXPECT_EQ(pack::FindArchiveSignature(With(Pattern(500), 300, kCurrent)),
              std::optional<size_t>(300));
}

TEST(ArchiveSignature, MagicWithOtherVersionWordsIsNoSignature) {
    auto bytes = Pattern(500);
    bytes = With(bytes, 10, {'V', 'O', 'R', 'N', 3, 0, 0, 0x8f});
    bytes = With(bytes, 40, {'V', 'O', 'R', 'N', 2, 0, 0, 0x8e});
    bytes = With(bytes, 80, {'V', 'V', 'O', 'R', 'N', 'V'});
    EXPECT_EQ(pack::FindArchiveSignature(bytes), std::nullopt);
}

TEST(ArchiveSignature, SignatureInTheLastEightBytesIsFound) {
    const auto bytes = With(Pattern(64), 56, kOld);
    EXPECT_EQ(pack::FindArchiveSignature(bytes), std::optional<size_t>(56));
    EXPECT_EQ(pack::FindArchiveSignature(Slice(bytes, 0, 63)), std::nullopt);
}

TEST(ArchiveSignature, ArchivesStartWithIt) {
    EXPECT_EQ(pack::FindArchiveSignature(SmallArchive()), std::optional<size_t>(0));
}

TEST(ArchiveSignature, NoneRunsFromAStubsLastBytesIntoItsArchive) {
    // A stub may end in any proper prefix of the signature; the archive is still found first.
    for (size_t k = 1; k < kCurrent.size(); ++k) {
        std::vector<uint8_t> joined = Pattern(100);
        joined.insert(joined.end(), kCurrent.begin(), kCurrent.begin() + static_cast<long>(k));
        const size_t stubSize = joined.size();
        const auto archive = SmallArchive();
        joined.insert(joined.end(), archive.begin(), archive.end());
        EXPECT_EQ(pack::FindArchiveSignature(joined), std::optional<size_t>(stubSize)) << k;
    }
}

// ---- The built-in destination

const std::string kMarker(VORN_BUILTIN_DESTINATION_MARKER, format::kBuiltInDestinationMarkerBytes);

// A stand-in image: some code, the marker with its empty field as the stub has it, more code.
std::vector<uint8_t> StubImage() {
    std::vector<uint8_t> image = Pattern(1000);
    std::string field(format::kBuiltInDestinationBytes, '\0');
    field.replace(1, 3, "???");
    const std::string inside = kMarker + field;
    image.insert(image.begin() + 400, inside.begin(), inside.end());
    return image;
}

std::string FieldOf(const std::vector<uint8_t>& image) {
    return std::string(image.begin() + 400 + static_cast<std::ptrdiff_t>(kMarker.size()),
                       image.begin() + 400 + static_cast<std::ptrdiff_t>(kMarker.size()) +
                           static_cast<std::ptrdiff_t>(format::kBuiltInDestinationBytes));
}

TEST(BuiltInDestination, IsWrittenIntoTheFieldAndReadBackFromTheSelfExtractor) {
    for (const std::string& text : {std::string("C:\\Program Files\\Sample"),
                                    std::string("~/Έγγραφα/サンプル"), std::string(255, 'd')}) {
        std::vector<uint8_t> image = StubImage();
        std::string error;
        ASSERT_TRUE(pack::SetBuiltInDestination(image, text, &error)) << error;
        std::string expected =
            text + std::string(format::kBuiltInDestinationBytes - text.size(), '\0');
        EXPECT_EQ(FieldOf(image), expected);
        const std::vector<uint8_t> archive = SmallArchive();
        image.insert(image.end(), archive.begin(), archive.end());
        EXPECT_EQ(DestinationIn(image), std::optional<std::string>(text));
    }
    // As built, the field reads as empty; a bare archive has none.
    EXPECT_EQ(DestinationIn(StubImage()), std::optional<std::string>(""));
    EXPECT_EQ(DestinationIn(SmallArchive()), std::nullopt);
}

TEST(BuiltInDestination, BadTextsAndImagesAreRefusedAndLeaveTheImage) {
    std::vector<uint8_t> twice = StubImage();
    twice.insert(twice.begin() + 10, kMarker.begin(), kMarker.end());
    std::vector<uint8_t> cut = StubImage();
    cut.resize(400 + kMarker.size() + 100);
    const struct {
        std::vector<uint8_t> image;
        std::string text;
        const char* why;
    } cases[] = {
        {StubImage(), std::string(256, 'd'), "at most 255"},
        {StubImage(), "C:\\with\ttab", "control character"},
        {StubImage(), "C:\\caf\xe9", "not valid UTF-8"},
        {Pattern(1000), "C:\\Out", "no field"},
        {cut, "C:\\Out", "no field"},
        {twice, "C:\\Out", "more than once"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = c.image;
        std::string error;
        EXPECT_FALSE(pack::SetBuiltInDestination(image, c.text, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
        EXPECT_EQ(image, c.image) << c.why;
    }
}

// ---- The settings block

const std::string kSettingsMarker(VORN_SFX_SETTINGS_MARKER, format::kSfxSettingsMarkerBytes);

// A stand-in image with both fields, as the stub lays them out: destination, then settings.
std::vector<uint8_t> StubWithSettings() {
    std::vector<uint8_t> image = StubImage();
    std::string block = kSettingsMarker + std::string(format::kSfxSettingsBytes, '\0');
    image.insert(image.begin() + 800, block.begin(), block.end());
    return image;
}

format::SfxSettingsStatus Decode(const std::vector<uint8_t>& block, format::SfxSettings* out) {
    return format::ReadSfxSettings(block.data(), block.size(), out);
}

TEST(SfxSettings, EverySettingIsWrittenAndReadBackFromTheSelfExtractor) {
    pack::SfxPackSettings chosen;
    chosen.run = "\"my setup/setup.exe\" /quiet \"C:\\a b\"";
    chosen.temporary = true;
    chosen.overwrite = format::SfxOverwrite::Never;
    chosen.license = true;
    std::vector<uint8_t> image = StubWithSettings();
    std::string error;
    ASSERT_TRUE(pack::SetSfxSettings(image, chosen, &error)) << error;
    const std::vector<uint8_t> archive = SmallArchive();
    image.insert(image.end(), archive.begin(), archive.end());

    const auto block = SettingsIn(image);
    ASSERT_TRUE(block.has_value());
    ASSERT_EQ(block->size(), format::kSfxSettingsBytes);
    format::SfxSettings read;
    ASSERT_EQ(Decode(*block, &read), format::SfxSettingsStatus::Ok);
    EXPECT_EQ(std::string(read.run, read.runLength), *chosen.run);
    EXPECT_TRUE(read.temporary);
    EXPECT_EQ(read.overwrite, format::SfxOverwrite::Never);
    EXPECT_TRUE(read.license);
    EXPECT_TRUE(format::IsLicenseEntry(read, "$license$"));
    EXPECT_FALSE(format::IsLicenseEntry(read, "$license$x"));
    // The destination field in front is untouched.
    EXPECT_EQ(DestinationIn(image), std::optional<std::string>(""));
}

TEST(SfxSettings, AsBuiltTheBlockHoldsNoSettings) {
    const auto block = SettingsIn(StubWithSettings());
    ASSERT_TRUE(block.has_value());
    format::SfxSettings read;
    ASSERT_EQ(Decode(*block, &read), format::SfxSettingsStatus::Ok);
    EXPECT_EQ(read.run, nullptr);
    EXPECT_FALSE(read.temporary);
    EXPECT_EQ(read.overwrite, format::SfxOverwrite::Ask);
    EXPECT_FALSE(format::IsLicenseEntry(read, "$license$")) << "no setting: an ordinary entry";
    EXPECT_EQ(SettingsIn(SmallArchive()), std::nullopt);
}

TEST(SfxSettings, SettingsThatCannotBeStoredAreRefusedAndLeaveTheImage) {
    std::vector<uint8_t> twice = StubWithSettings();
    twice.insert(twice.begin() + 10, kSettingsMarker.begin(), kSettingsMarker.end());
    pack::SfxPackSettings plain;
    plain.run = "setup.exe";
    auto with = [](std::optional<std::string> run, bool temporary) {
        pack::SfxPackSettings s;
        s.run = run;
        s.temporary = temporary;
        return s;
    };
    const struct {
        std::vector<uint8_t> image;
        pack::SfxPackSettings settings;
        const char* why;
    } cases[] = {
        {StubWithSettings(), with("", false), "empty"},
        {StubWithSettings(), with("   ", false), "names no program"},
        {StubWithSettings(), with("\"\" /x", false), "names no program"},
        {StubWithSettings(), with("setup.exe\n/x", false), "control character"},
        {StubWithSettings(), with("setup\xff.exe", false), "not valid UTF-8"},
        {StubWithSettings(), with(std::string(1025, 'a'), false), "at most 1024"},
        {StubWithSettings(), with(std::nullopt, true), "only for a program to run"},
        {StubImage(), plain, "no field for settings"},
        {twice, plain, "more than once"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = c.image;
        std::string error;
        EXPECT_FALSE(pack::SetSfxSettings(image, c.settings, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
        EXPECT_EQ(image, c.image) << c.why;
    }
}

TEST(SfxSettings, BesideArchiveIsReadBackAndOnlyAPlainNameIsStored) {
    const std::vector<uint8_t> hash(32, 0xab);
    auto beside = [&](const std::string& name) {
        pack::SfxPackSettings s;
        s.besideName = name;
        s.besideSize = (uint64_t{5} << 30) + 7;  // past 4 GiB, so all 64 bits count
        s.besideHash = hash;
        return s;
    };
    std::vector<uint8_t> block;
    std::string error;
    ASSERT_TRUE(pack::EncodeSfxSettings(beside("setup.vorn"), block, &error)) << error;
    format::SfxSettings read;
    ASSERT_EQ(Decode(block, &read), format::SfxSettingsStatus::Ok);
    EXPECT_EQ(std::string(read.besideName, read.besideNameLength), "setup.vorn");
    EXPECT_EQ(read.besideSize, (uint64_t{5} << 30) + 7);
    EXPECT_EQ(std::vector<uint8_t>(read.besideHash, read.besideHash + 32), hash);
    for (const char* name : {"", ".", "..", "a/b.vorn", "a\\b.vorn", "C:x.vorn", "a\nb"}) {
        EXPECT_FALSE(pack::EncodeSfxSettings(beside(name), block, &error)) << name;
    }
    // A reader refuses a record too short for its size and hash, as if a name were missing.
    const uint8_t shortRecord[] = {format::kSfxTagBeside, 40, 0};
    std::vector<uint8_t> damaged(shortRecord, shortRecord + 3);
    damaged.resize(3 + 40 + 1, 0);
    EXPECT_EQ(Decode(damaged, &read), format::SfxSettingsStatus::BadValue);
}

TEST(SfxSettings, ProgramNameIsTheFirstWordWithBackslashes) {
    const struct {
        const char* line;
        const char* name;
    } cases[] = {
        {"setup.exe", "setup.exe"},
        {"  bin/install.sh --prefix /opt", "bin\\install.sh"},
        {"\"my setup\\setup.exe\" /S", "my setup\\setup.exe"},
        {"dir\\\"with space\"/run.bat", "dir\\with space\\run.bat"},
    };
    for (const auto& c : cases) {
        std::string name, error;
        ASSERT_TRUE(pack::ProgramEntryName(c.line, &name, &error)) << c.line << ": " << error;
        EXPECT_EQ(name, c.name);
    }
}

// Blocks as a damaged or hand-made stub may hold them.
TEST(SfxSettings, ReaderRefusesDamagedBlocksAndPassesOverUnknownTags) {
    using format::SfxSettingsStatus;
    const struct {
        std::vector<uint8_t> block;
        SfxSettingsStatus status;
        const char* what;
    } cases[] = {
        {{0}, SfxSettingsStatus::Ok, "empty list"},
        {{9, 2, 0, 'x', 'y', 3, 1, 0, 1, 0}, SfxSettingsStatus::Ok, "unknown tag passed over"},
        {{}, SfxSettingsStatus::Truncated, "no end tag"},
        {{2, 0, 0}, SfxSettingsStatus::Truncated, "no end tag after a record"},
        {{1, 5, 0, 'a', 'b'}, SfxSettingsStatus::Truncated, "record past the block"},
        {{1, 0}, SfxSettingsStatus::Truncated, "head cut"},
        {{2, 0, 0, 2, 0, 0, 0}, SfxSettingsStatus::Repeated, "temporary twice"},
        {{1, 0, 0, 0}, SfxSettingsStatus::BadValue, "empty program line"},
        {{1, 2, 0, 'a', '\n', 0}, SfxSettingsStatus::BadValue, "control byte"},
        {{2, 1, 0, 1, 0}, SfxSettingsStatus::BadValue, "temporary with a value"},
        {{3, 1, 0, 3, 0}, SfxSettingsStatus::BadValue, "overwrite out of range"},
        {{3, 0, 0, 0}, SfxSettingsStatus::BadValue, "overwrite without a value"},
        {{5, 0, 0, 5, 0, 0, 0}, SfxSettingsStatus::Repeated, "licence twice"},
        {{5, 1, 0, 1, 0}, SfxSettingsStatus::BadValue, "licence with a value"},
    };
    for (const auto& c : cases) {
        format::SfxSettings read;
        EXPECT_EQ(Decode(c.block, &read), c.status) << c.what;
    }
    format::SfxSettings read;
    ASSERT_EQ(Decode({9, 2, 0, 'x', 'y', 3, 1, 0, 1, 0}, &read), SfxSettingsStatus::Ok);
    EXPECT_EQ(read.overwrite, format::SfxOverwrite::Always);
}

TEST(SfxSettings, ProgramWordsKeepQuotedSpacesAndRefuseWhatDoesNotFit) {
    const std::string line = "run.sh  \"two words\" a\"b c\"d \"\" last";
    const std::vector<std::string> expected = {"run.sh", "two words", "ab cd", "", "last"};
    std::vector<std::string> words;
    size_t offset = 0;
    char word[32];
    while (format::NextProgramWord(line.data(), line.size(), &offset, word, sizeof word)) {
        words.push_back(word);
    }
    EXPECT_EQ(words, expected);
    offset = 0;
    EXPECT_FALSE(format::NextProgramWord("abcdef", 6, &offset, word, 6));
    EXPECT_EQ(offset, 0u);
}

}  // namespace
