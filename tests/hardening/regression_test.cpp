// Inputs the fuzzers turned up, kept as archives made by the writer: each pins down the answer
// the library gives to a shape of archive that once broke a caller's or the library's bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../archive/archive_test_util.h"
#include "archive/vorn.h"
#include "test_archive.h"

namespace {

using archive_test::Handle;
using archive_test::TempFile;

// Two entries carry one name, the first small, the second large. Extraction by name takes the
// first entry, as the lookup does, so a buffer sized by vorn_GetFileInfo is never overrun; the
// archive fuzzer first sized its buffer by the enumerated (second) entry and overran the other.
TEST(DuplicateNames, ExtractionByNameWritesOnlyTheSizeTheLookupReported) {
    vorntest::TestArchive archiveSpec;
    vorntest::TestEntry first = archive_test::Entry("same.txt", archive_test::Bytes("0123456789"));
    vorntest::TestEntry second = archive_test::Entry("same.txt", archive_test::SampleData(100, 7));
    first.method = pack::Method::Compressed;
    second.method = pack::Method::Compressed;
    archiveSpec.entries = {first, second};
    TempFile file("dup.vorn", vorntest::BuildTestArchive(archiveSpec));

    Handle h;
    ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY), VORN_SUCCESS);
    VORN_FILEINFO enumerated;
    ASSERT_EQ(vorn_EnumerateFiles(h.h, &enumerated, 1), VORN_SUCCESS);
    EXPECT_EQ(enumerated.qwUnpackedSize, 100u);
    VORN_FILEINFO byName;
    ASSERT_EQ(vorn_GetFileInfo(h.h, &byName, "same.txt"), VORN_SUCCESS);
    ASSERT_EQ(byName.qwUnpackedSize, 10u);

    auto* buffer = static_cast<unsigned char*>(std::malloc(10));  // exact, for the sanitizer
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(vorn_DecompressToPtr(h.h, "same.txt", buffer, nullptr, nullptr), VORN_SUCCESS);
    EXPECT_EQ(std::memcmp(buffer, "0123456789", 10), 0);
    std::free(buffer);
}

}  // namespace
