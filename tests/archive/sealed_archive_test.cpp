// Sealed archives as the writer makes them, read back: every level, an entry under its own
// password, and the table of damage and wrong passwords that must each end in a status; a file
// extraction that fails, plain or sealed, leaves its output path as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/extraction.h"
#include "archive_test_util.h"
#include "format/block.h"
#include "format/sealed.h"
#include "pack/archive_writer.h"

using archive::Status;
using namespace archive_test;

namespace {

constexpr char kPassword[] = "correct horse";
constexpr char kOwnPassword[] = "own battery";

struct Built {
    std::vector<std::string> names;
    std::vector<std::vector<uint8_t>> data;
    std::vector<uint8_t> bytes;
};

// Three entries: one stored over three segments, one compressed at level, one under its own
// password; small key-derivation parameters keep the tests fast.
Built BuildSealed(int level) {
    Built b{{"stored.bin", "text.txt", "own.txt"},
            {SampleData(150000, 1), SampleData(300000, 2), Bytes("a secret of its own")},
            {}};
    pack::SealOptions seal{kPassword, format::kSealMinMemoryKiB, 1, 1, {}};
    seal.salt.emplace();
    seal.salt->fill(0x5a);
    TempFile file("sealed.vorn");
    pack::ArchiveWriter writer;
    writer.SetSealing(seal);
    EXPECT_EQ(writer.Open(file.path), pack::Status::Ok) << writer.Error();
    for (size_t i = 0; i < b.names.size(); ++i) {
        pack::EntryOptions options;
        options.method = i == 1 ? pack::Method::Compressed : pack::Method::Stored;
        options.encoder.level = level;
        if (i == 2) options.password = kOwnPassword;
        EXPECT_EQ(writer.AddEntry(b.names[i], b.data[i], options), pack::Status::Ok);
    }
    EXPECT_EQ(writer.Finish(), pack::Status::Ok) << writer.Error();
    std::ifstream in(file.path, std::ios::binary);
    b.bytes.assign(std::istreambuf_iterator<char>(in), {});
    return b;
}

bool Collect(void* out, const uint8_t* bytes, uint32_t count) {
    static_cast<std::vector<uint8_t>*>(out)->insert(static_cast<std::vector<uint8_t>*>(out)->end(),
                                                    bytes, bytes + count);
    return true;
}

// Opens bytes with password and decodes every entry (the last with entryPassword) on threads;
// the first failing status, Ok when every entry came out as built.
Status ReadAll(const Built& b, const std::vector<uint8_t>& bytes, const char* password,
               const char* entryPassword = kOwnPassword) {
    TempFile file("read.vorn", bytes);
    Handle h;
    Status status = archive::OpenArchive(&h.h, file.path.c_str(), password, VORN_OPEN_READONLY);
    if (status != Status::Ok) return status;
    if (vorn_GetNumFiles(h.h) != b.names.size()) return Status::Corrupt;
    for (uint64_t i = 0; i < b.names.size(); ++i) {
        VORN_FILEINFO info;
        if ((status = archive::EnumerateEntry(h.h, &info, i)) != Status::Ok) return status;
        if (b.names[i] != info.szName || !(info.dwAttributes & VORN_ATTR_ENCRYPTED)) {
            return Status::Corrupt;
        }
        std::vector<uint8_t> out;
        status = archive::ExtractToSink(h.h, i, i == 2 ? entryPassword : password,
                                        codec::BlockSink{Collect, &out}, {}, {}, 2);
        if (status != Status::Ok) return status;
        if (out != b.data[i]) return Status::Corrupt;
    }
    return Status::Ok;
}

TEST(SealedArchive, EveryLevelAndAnEntryUnderItsOwnPasswordRoundTrip) {
    for (int level = 1; level <= 3; ++level) {
        const Built b = BuildSealed(level);
        EXPECT_EQ(ReadAll(b, b.bytes, kPassword), Status::Ok) << "level " << level;
    }
}

TEST(SealedArchive, PasswordsThatAreWrongEmptyOrHugeEndInTheirStatus) {
    const Built b = BuildSealed(2);
    const std::string huge(1 << 20, 'p');
    Handle h;
    TempFile file("sealed.vorn", b.bytes);
    EXPECT_EQ(archive::OpenArchive(&h.h, file.path.c_str(), nullptr, VORN_OPEN_READONLY),
              Status::PasswordNeeded);
    EXPECT_EQ(ReadAll(b, b.bytes, "wrong"), Status::CrcMismatch);
    EXPECT_EQ(ReadAll(b, b.bytes, ""), Status::CrcMismatch);
    EXPECT_EQ(ReadAll(b, b.bytes, huge.c_str()), Status::InvalidArgument);
    // The entry under its own password: the archive's or a huge one reads as a wrong password.
    EXPECT_EQ(ReadAll(b, b.bytes, kPassword, kPassword), Status::CrcMismatch);
    EXPECT_EQ(ReadAll(b, b.bytes, kPassword, huge.c_str()), Status::CrcMismatch);
    EXPECT_TRUE(format::MeansWrongPassword(ReadAll(b, b.bytes, kPassword, "")));
}

TEST(SealedArchive, AnyChangedOrMissingByteEndsTheOpenOrTheEntryWithAStatus) {
    const Built b = BuildSealed(2);
    const uint64_t stored0 = format::SealedDataBytes(150000 + 4);
    const uint64_t data0 =
        format::kHeaderBytes + format::kSealBlockBytes + format::kSealedRecordBytes;
    uint64_t namesLength = 0;
    for (const std::string& name : b.names) namesLength += name.size() + 1;
    const uint64_t names = b.bytes.size() - format::kSealTagBytes - namesLength;
    const uint64_t trailer = names - format::kSealedTrailerBytes;
    struct Flip {
        const char* what;
        uint64_t at;
        uint8_t mask;
    };
    const Flip flips[] = {
        {"magic", 0, 0x01},
        {"version", 4, 0x01},
        {"entry count", 8, 0x01},
        {"reserved: an unknown mark", 20, 0x04},
        {"reserved: no seal", 20, 0x02},
        {"seal block scheme", 26, 0x01},
        {"memory", 28, 0x01},
        {"memory above the bound", 30, 0x80},
        {"passes", 40, 0x01},
        {"passes above the bound", 40, 0x40},
        {"lanes", 44, 0x01},
        {"salt", 48, 0x01},
        {"record 0", 66, 0x01},
        {"record 0 tag", 64 + 40 + 3, 0x10},
        {"record 1", data0 + stored0 + 9, 0x01},
        {"block header", data0 + 1, 0x01},
        {"block body", data0 + 1000, 0x80},
        {"segment tag", data0 + format::kSegmentPlainBytes + 2, 0x01},
        {"last segment", data0 + stored0 - 17, 0x01},
        {"trailer", trailer + 9, 0x01},
        {"trailer digest", trailer + 20, 0x01},
        {"names", names + 3, 0x01},
        {"names tag", b.bytes.size() - 1, 0x01},
    };
    ASSERT_EQ(ReadAll(b, b.bytes, kPassword), Status::Ok);  // the control: untouched, it reads
    for (const Flip& flip : flips) {
        std::vector<uint8_t> changed = b.bytes;
        changed[flip.at] ^= flip.mask;
        EXPECT_NE(ReadAll(b, changed, kPassword), Status::Ok) << flip.what;
    }
    for (size_t keep : {b.bytes.size() - 1, b.bytes.size() / 2, size_t{100}, size_t{30}}) {
        std::vector<uint8_t> cut(b.bytes.begin(), b.bytes.begin() + keep);
        EXPECT_NE(ReadAll(b, cut, kPassword), Status::Ok) << "cut to " << keep;
    }
    // The last entry replaced by a plain record and its plain stored data.
    const uint32_t own = static_cast<uint32_t>(b.data[2].size());
    const uint64_t record2 = trailer - format::kSealedRecordBytes -
                             format::SealedDataBytes(own + format::kBlockHeaderBytes);
    std::vector<uint8_t> spliced(b.bytes.begin(), b.bytes.begin() + record2);
    spliced.resize(record2 + format::kRecordBytes + format::kBlockHeaderBytes);
    format::EncodeRecord(format::EntryRecord{0, format::kAttributeArchive,
                                             own + format::kBlockHeaderBytes, own, 0, 0},
                         spliced.data() + record2);
    format::EncodeBlockHeader(format::BlockHeader{format::kBlockStored, own},
                              spliced.data() + record2 + format::kRecordBytes);
    spliced.insert(spliced.end(), b.data[2].begin(), b.data[2].end());
    spliced.insert(spliced.end(), b.bytes.begin() + trailer, b.bytes.end());
    EXPECT_EQ(ReadAll(b, spliced, kPassword), Status::Corrupt);
}

void* g_cancelHandle = nullptr;
void CancelAtFirstBlock(int) {
    vorn_CancelOperation(g_cancelHandle);
}

// A failed file extraction (damage found late, a failed segment tag, a cancel) answers its status
// and leaves its path absent, or the file that stood there with its old bytes; the same entry
// undamaged replaces that file with its own bytes, so the test can fail.
TEST(FileExtraction, FailureLeavesThePathAsItWas) {
    const Built sealed = BuildSealed(2);
    const uint64_t sealedData0 =
        format::kHeaderBytes + format::kSealBlockBytes + format::kSealedRecordBytes;
    const uint64_t sealedStored0 = format::SealedDataBytes(150000 + 4);
    const std::vector<uint8_t> plainData = SampleData(150000, 3);
    vorntest::TestArchive plainSpec;
    plainSpec.entries.push_back(Entry("plain.bin", plainData));
    const std::vector<uint8_t> plain = vorntest::BuildTestArchive(plainSpec);
    struct Case {
        const char* what;
        const std::vector<uint8_t>& archive;
        const char* password;  // the open's and the extraction's
        const char* name;
        const std::vector<uint8_t>& data;
        uint64_t flipAt;  // 0: undamaged
        ProgressCallback progress;
        uint32_t status;
    };
    const Case cases[] = {
        {"plain, a byte of its data", plain, nullptr, "plain.bin", plainData,
         format::kHeaderBytes + format::kRecordBytes + 4 + 120000, nullptr, VORN_E_CRC},
        {"sealed, its last segment", sealed.bytes, kPassword, "stored.bin", sealed.data[0],
         sealedData0 + sealedStored0 - 17, nullptr, VORN_E_CORRUPT},
        {"plain, cancelled", plain, nullptr, "plain.bin", plainData, 0, CancelAtFirstBlock,
         VORN_E_INVALID_ARGUMENT},
    };
    const std::vector<uint8_t> old = Bytes("the file that stood there");
    for (const Case& c : cases) {
        for (bool damaged : {true, false}) {
            std::vector<uint8_t> bytes = c.archive;
            if (damaged && c.flipAt) bytes[c.flipAt] ^= 0x01;
            TempFile file("failing.vorn", bytes);
            Handle h;
            ASSERT_EQ(vorn_OpenStream(&h.h, file.path.c_str(), c.password, VORN_OPEN_READONLY),
                      VORN_SUCCESS)
                << c.what;
            g_cancelHandle = h.h;
            ProgressCallback progress = damaged ? c.progress : nullptr;
            TempFile absent("absent.out");
            TempFile existing("existing.out", old);
            for (const TempFile* out : {&absent, &existing}) {
                EXPECT_EQ(
                    vorn_DecompressToFile(h.h, c.name, out->path.c_str(), progress, c.password),
                    damaged ? c.status : VORN_SUCCESS)
                    << c.what;
            }
            if (damaged) {
                EXPECT_FALSE(std::filesystem::exists(absent.path)) << c.what;
                EXPECT_EQ(ReadFile(existing.path), old) << c.what;
            } else {
                EXPECT_EQ(ReadFile(absent.path), c.data) << c.what;
                EXPECT_EQ(ReadFile(existing.path), c.data) << c.what;
            }
            // No part file is left beside them.
            const std::filesystem::path folder = std::filesystem::path(absent.path).parent_path();
            const std::string leaves[] = {std::filesystem::path(absent.path).filename().string(),
                                          std::filesystem::path(existing.path).filename().string()};
            for (const auto& item : std::filesystem::directory_iterator(folder)) {
                const std::string name = item.path().filename().string();
                for (const std::string& leaf : leaves) {
                    EXPECT_FALSE(name != leaf && name.find(leaf) != std::string::npos) << name;
                }
            }
        }
    }
}

}  // namespace
