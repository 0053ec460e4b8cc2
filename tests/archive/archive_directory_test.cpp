// The entry directory: enumeration with its cursor, lookups by name, names on 16-byte unit
// boundaries, and name tables that a well-behaved writer never makes (missing names, runs longer
// than a name can be, garbage padding).
#include <gtest/gtest.h>

#include "archive/archive_handle.h"
#include "archive_test_util.h"

using namespace archive_test;

namespace {

// Entries whose unpacked sizes and file times tell them apart.
vorntest::TestArchive NamedEntries(const std::vector<std::string>& names) {
    vorntest::TestArchive archiveSpec;
    for (size_t i = 0; i < names.size(); ++i) {
        vorntest::TestEntry e = Entry(names[i], SampleData(10 + i, static_cast<uint32_t>(i)));
        e.fileTime = 0x01D9000000000000ull + i;
        archiveSpec.entries.push_back(e);
    }
    return archiveSpec;
}

// Where the plain name table starts in a built archive.
size_t NameTableStart(const std::vector<uint8_t>& bytes, const std::vector<std::string>& names) {
    size_t length = 0;
    for (const auto& n : names) length += n.size() + 1;
    return bytes.size() - (length + 15) / 16 * 16;
}

struct Opened {
    TempFile file;
    Handle h;
    explicit Opened(const std::vector<uint8_t>& bytes, const char* password = nullptr)
        : file("dir.vorn", bytes) {
        EXPECT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), password, VORN_OPEN_READONLY),
                  VORN_SUCCESS);
    }
    archive::ArchiveHandle* handle() const { return static_cast<archive::ArchiveHandle*>(h.h); }
};

TEST(Enumeration, SequentialRepeatedAndSmallerIndicesGiveTheSameEntries) {
    std::vector<std::string> names = {"a", "bb", "dir\\ccc", "d", "$comments$"};
    Opened a(vorntest::BuildTestArchive(NamedEntries(names)));
    ASSERT_NE(a.h.h, nullptr);
    std::vector<VORN_FILEINFO> first(names.size());
    for (uint64_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &first[i], i), VORN_SUCCESS);
        EXPECT_EQ(first[i].szName, names[i]);
        EXPECT_EQ(first[i].qwUnpackedSize, 10 + i);
        EXPECT_EQ(first[i].qwFileTime, 0x01D9000000000000ull + i);
    }
    for (uint64_t i : {2u, 2u, 0u, 4u, 1u, 3u}) {
        VORN_FILEINFO again;
        ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &again, i), VORN_SUCCESS);
        EXPECT_STREQ(again.szName, first[i].szName);
        EXPECT_EQ(again.qwStoredSize, first[i].qwStoredSize);
        EXPECT_EQ(again.dwCRC, first[i].dwCRC);
    }
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_EnumerateFiles(a.h.h, &info, names.size()), VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(vorn_EnumerateFiles(a.h.h, &info, UINT64_MAX), VORN_E_INVALID_ARGUMENT);
}

TEST(Enumeration, EmptyArchiveHasNoIndexAndNoNames) {
    Opened a(vorntest::BuildTestArchive(vorntest::TestArchive{}));
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_EnumerateFiles(a.h.h, &info, 0), VORN_E_INVALID_ARGUMENT);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, ""), VORN_E_NOT_FOUND);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "$comments$"), VORN_E_NOT_FOUND);
}

TEST(Enumeration, FileInfoCarriesTheRecord) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry plain = Entry("plain", Bytes("hello"));
    plain.attributes = 0x0020;
    plain.fileTime = 0x0123456789ABCDEFull;
    vorntest::TestEntry secret = Entry("secret", Bytes("hidden"));
    secret.attributes = 0x0021;
    secret.password = "entry-pw";
    archiveSpec.entries = {plain, secret};
    Opened a(vorntest::BuildTestArchive(archiveSpec));
    VORN_FILEINFO info;
    ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 0), VORN_SUCCESS);
    EXPECT_EQ(info.dwAttributes, 0x20u);
    EXPECT_EQ(info.qwUnpackedSize, 5u);
    EXPECT_EQ(info.qwFileTime, 0x0123456789ABCDEFull);
    EXPECT_EQ(info.dwCRC, 0x3610A686u);  // CRC-32 of "hello"
    EXPECT_EQ(info.qwStoredSize, 4u + 16u);
    ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, "secret"), VORN_SUCCESS);
    EXPECT_EQ(info.dwAttributes, 0x121u);
    EXPECT_STREQ(info.szName, "secret");
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, nullptr, "secret"), VORN_SUCCESS);
}

TEST(Lookup, MissingNameAndLetterCaseGive64) {
    vorntest::TestArchive archiveSpec = NamedEntries({"readme.txt"});
    archiveSpec.comment = "the comment";
    Opened a(vorntest::BuildTestArchive(archiveSpec));
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "$COMMENTS$"), VORN_E_NAME_NOT_FOUND);
    EXPECT_STREQ(vorn_GetErrorString(VORN_E_NAME_NOT_FOUND), "Unknown <?>");
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "README.TXT"), VORN_E_NAME_NOT_FOUND);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "readme.tx"), VORN_E_NAME_NOT_FOUND);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "readme.txt\\"), VORN_E_NAME_NOT_FOUND);
    ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, "$comments$"), VORN_SUCCESS);
    EXPECT_EQ(info.qwUnpackedSize, 11u);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, std::string(300, 'r').c_str()), VORN_E_NAME_NOT_FOUND);
}

TEST(Lookup, FirstEntryCarryingANameWins) {
    vorntest::TestArchive archiveSpec = NamedEntries({"x", "dup", "y", "dup"});
    Opened a(vorntest::BuildTestArchive(archiveSpec));
    VORN_FILEINFO info;
    ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, "dup"), VORN_SUCCESS);
    EXPECT_EQ(info.qwUnpackedSize, 11u);
    ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 3), VORN_SUCCESS);
    EXPECT_STREQ(info.szName, "dup");
    EXPECT_EQ(info.qwUnpackedSize, 13u);
}

// Every name found by index and by name, whatever its place among the 16-byte units.
void ExpectAllNamesFound(const std::vector<std::string>& names, const char* password) {
    vorntest::TestArchive archiveSpec = NamedEntries(names);
    if (password) archiveSpec.namesPassword = password;
    archiveSpec.paddingByte = 0xFF;
    Opened a(vorntest::BuildTestArchive(archiveSpec), password);
    ASSERT_NE(a.h.h, nullptr);
    for (size_t i = 0; i < names.size(); ++i) {
        VORN_FILEINFO info;
        ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, i), VORN_SUCCESS) << i;
        EXPECT_EQ(std::string(info.szName), names[i]);
        ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, names[i].c_str()), VORN_SUCCESS) << names[i];
        EXPECT_EQ(info.qwUnpackedSize, 10 + i);
    }
}

TEST(NameTable, NamesOnUnitBoundariesAndInTheLastUnit) {
    // "fifteen chars.." ends with its NUL at byte 15: the next name starts a unit.
    std::vector<std::string> names = {"fifteen chars..", "starts-at-16", "abc",
                                      std::string(31, 'q'), "last"};
    ExpectAllNamesFound(names, nullptr);
    ExpectAllNamesFound(names, "pw");
    // Table length an exact multiple of 16: no padding, the file ends at the last NUL.
    ExpectAllNamesFound({"0123456789abcde", "0123456789abcdE"}, nullptr);
    ExpectAllNamesFound({"0123456789abcde", "0123456789ABCDE"}, "pw");
}

TEST(NameTable, LongestNamesFoundByIndexAndName) {
    std::vector<std::string> names = {std::string(255, 'a'), "b", std::string(255, 'c'),
                                      std::string(254, 'a')};
    ExpectAllNamesFound(names, nullptr);
    ExpectAllNamesFound(names, "long-key");
}

TEST(NameTable, ManyNamesAllFound) {
    std::vector<std::string> names;
    for (int i = 0; i < 600; ++i)
        names.push_back("dir" + std::to_string(i % 7) + "\\f" + std::to_string(i));
    ExpectAllNamesFound(names, nullptr);
}

TEST(NameTable, PaddingChangesNoLookupOfARealEntry) {
    for (uint8_t padding : {0x00, 0xFF, 0x41}) {
        vorntest::TestArchive archiveSpec = NamedEntries({"A", "b"});
        archiveSpec.paddingByte = padding;
        Opened a(vorntest::BuildTestArchive(archiveSpec));
        VORN_FILEINFO info;
        ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, "A"), VORN_SUCCESS);
        EXPECT_EQ(info.qwUnpackedSize, 10u);
        ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 1), VORN_SUCCESS);
        EXPECT_STREQ(info.szName, "b");
        // Padding of "A" bytes forms no name: no NUL ends it.
        EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "AAAAAAAAAAA"), VORN_E_NAME_NOT_FOUND);
    }
}

TEST(NameTable, NameInPaddingHasNoRecordBehindIt) {
    // With NUL padding the empty name is found past the last entry; the walk then runs into
    // the trailer and the end of the file without a whole record.
    vorntest::TestArchive archiveSpec = NamedEntries({"a", "b"});
    archiveSpec.paddingByte = 0;
    Opened a(vorntest::BuildTestArchive(archiveSpec));
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, ""), VORN_E_UNKNOWN);
}

TEST(NameTable, MissingNamesGiveNotFoundAfterMovingTheCursor) {
    std::vector<std::string> names = {"aa", "bb", "cc"};
    vorntest::TestArchive archiveSpec = NamedEntries(names);
    archiveSpec.paddingByte = 0xFF;
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    size_t table = NameTableStart(bytes, names);
    ASSERT_EQ(bytes[table + 2], 0);
    bytes[table + 2] = 'x';  // "aaxbb", "cc", and no third name
    Opened a(bytes);
    VORN_FILEINFO info;
    ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 0), VORN_SUCCESS);
    EXPECT_STREQ(info.szName, "aaxbb");
    ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 1), VORN_SUCCESS);
    EXPECT_STREQ(info.szName, "cc");
    EXPECT_EQ(vorn_EnumerateFiles(a.h.h, &info, 2), VORN_E_NOT_FOUND);
    EXPECT_EQ(info.qwUnpackedSize, 12u);  // filled from the record before the name failed
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "bb"), VORN_E_NAME_NOT_FOUND);
    ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, "cc"), VORN_SUCCESS);
    EXPECT_EQ(info.qwUnpackedSize, 11u);  // the name's index is 1 now
}

TEST(NameTable, RunLongerThanANameMatchesNothing) {
    std::vector<std::string> names = {std::string(200, 'a'), std::string(200, 'b'), "c"};
    vorntest::TestArchive archiveSpec = NamedEntries(names);
    archiveSpec.paddingByte = 0xFF;
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    size_t table = NameTableStart(bytes, names);
    bytes[table + 200] = 'a';  // one run of 401 bytes
    Opened a(bytes);
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_EnumerateFiles(a.h.h, &info, 0), VORN_E_NOT_FOUND);
    ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 1), VORN_SUCCESS);
    EXPECT_STREQ(info.szName, "c");
    EXPECT_EQ(vorn_EnumerateFiles(a.h.h, &info, 2), VORN_E_NOT_FOUND);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, names[0].c_str()), VORN_E_NAME_NOT_FOUND);
    EXPECT_EQ(
        vorn_GetFileInfo(a.h.h, &info, (std::string(201, 'a') + std::string(54, 'b')).c_str()),
        VORN_E_NAME_NOT_FOUND);
    ASSERT_EQ(vorn_GetFileInfo(a.h.h, &info, "c"), VORN_SUCCESS);
    EXPECT_EQ(info.qwUnpackedSize, 11u);
}

TEST(NameTable, HugeTableWithoutNulsStaysWithinWhatWasRead) {
    vorntest::TestArchive archiveSpec = NamedEntries({"only"});
    archiveSpec.paddingByte = 'z';
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    bytes.insert(bytes.end(), size_t{10} << 20, 'z');
    Opened a(bytes);
    ASSERT_NE(a.h.h, nullptr);
    EXPECT_LE(a.handle()->namesSize, bytes.size());
    EXPECT_EQ(a.handle()->indexedNames, 1u);
    VORN_FILEINFO info;
    ASSERT_EQ(vorn_EnumerateFiles(a.h.h, &info, 0), VORN_SUCCESS);
    EXPECT_STREQ(info.szName, "only");
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "zzzz"), VORN_E_NAME_NOT_FOUND);
}

TEST(NameTable, PartialLastUnitIsNotPartOfTheTable) {
    std::vector<std::string> names = {"0123456789abcde"};  // exactly one unit
    vorntest::TestArchive archiveSpec = NamedEntries(names);
    std::vector<uint8_t> bytes = vorntest::BuildTestArchive(archiveSpec);
    bytes.insert(bytes.end(), {'n', 'a', 'm', 0});  // 4 bytes: no whole unit
    Opened a(bytes);
    EXPECT_EQ(a.handle()->namesSize, 16u);
    VORN_FILEINFO info;
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, "nam"), VORN_E_NAME_NOT_FOUND);
    EXPECT_EQ(vorn_GetFileInfo(a.h.h, &info, names[0].c_str()), VORN_SUCCESS);
}

}  // namespace
