// Solid groups end to end: the worked example of docs/format.md replayed through the entry run and
// made again by the group encoder; the writer's groups read back whole, one entry alone, out of
// order and cancelled midway; and the damaged forms a reader must refuse, each differing from the
// sound archive in one thing, with the groups they must leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "archive/extraction.h"
#include "archive/vorn.h"
#include "byte_reading.h"
#include "codec/entry_run.h"
#include "crypto/crc32.h"
#include "encoder/lz_block_encoder.h"
#include "format/block.h"
#include "format/solid.h"
#include "memory_sink.h"
#include "pack/archive_writer.h"
#include "pack/solid_groups.h"
#include "test_archive.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// docs/format.md, "Example: a group of two entries".
const Bytes kFirst = {0xA3, 0x05, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x82,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0xD6, 0x0A, 0x06, 0xC1, 0xFF, 0xFF,
                      0x1F, 0x49, 0x0D, 0,    0,    0,    0,    0,    0,    0,    0,    0};
const Bytes kSecond = {0xF3, 0x04, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x08,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFE, 0xFF, 0x93, 0x9C, 0x49, 0x02,
                       0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};

struct MemoryInput {
    const Bytes* data;
    size_t at = 0;
};

int64_t ReadMemory(void* context, void* buffer, uint32_t count) {
    auto* in = static_cast<MemoryInput*>(context);
    size_t n = std::min<size_t>(count, in->data->size() - in->at);
    std::memcpy(buffer, in->data->data() + in->at, n);
    in->at += n;
    return static_cast<int64_t>(n);
}

// One entry's data area decoded with history (or none) into out.
format::Status RunEntry(const Bytes& area, const Bytes& expected, codec::LzHistory* history,
                        Bytes* out) {
    MemoryInput in{&area};
    codec::EntryRun run{};
    run.storedSize = area.size();
    run.unpackedSize = expected.size();
    Crc32 crc;
    run.crc = crc.Update(expected.data(), static_cast<uint32_t>(expected.size()));
    run.history = history;
    out->assign(expected.size(), 0);
    run.destination = out->data();
    return codec::DecodeEntry(codec::EntryInput{&in, ReadMemory, nullptr}, run);
}

TEST(SolidGroup, TheWorkedExampleDecodesAndTheWriterStoresWhatIsSmaller) {
    const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    Bytes window(hello.size() * 2), out;
    codec::LzHistory history{window.data(), static_cast<uint32_t>(window.size()), 0};
    ASSERT_EQ(RunEntry(kFirst, hello, &history, &out), format::Status::Ok);
    EXPECT_EQ(out, hello);
    ASSERT_EQ(RunEntry(kSecond, hello, &history, &out), format::Status::Ok);
    EXPECT_EQ(out, hello);
    EXPECT_EQ(history.filled, 10u);

    // Alone, the second block's match reaches before the group's first byte; without a history
    // a type-3 block is refused outright.
    codec::LzHistory empty{window.data(), static_cast<uint32_t>(window.size()), 0};
    EXPECT_EQ(RunEntry(kSecond, hello, &empty, &out), format::Status::Corrupt);
    EXPECT_EQ(RunEntry(kFirst, hello, nullptr, &out), format::Status::Corrupt);

    // The writer stores blocks this small: they cost less as they are, and join the history.
    encoder::LzGroupEncoder encoder;
    Bytes first, second, both = hello;
    both.insert(both.end(), hello.begin(), hello.end());
    ASSERT_EQ(encoder.Start(both.data(), {5, 5}), format::Status::Ok);
    ASSERT_EQ(encoder.EncodeNext(first), format::Status::Ok);
    ASSERT_EQ(encoder.EncodeNext(second), format::Status::Ok);
    EXPECT_EQ(format::DecodeBlockHeader(first.data()).type, format::kBlockStored);
    EXPECT_EQ(second.size(), 20u);
}

// A repeat that runs across the cut between two entries: the encoder sees the next entry's bytes,
// and its matches must stop at each block's end all the same.
TEST(SolidGroup, MatchesStopAtTheBlockEndWhereTheRepeatRunsOn) {
    std::mt19937 rng(11);
    Bytes half(3000);
    for (uint8_t& b : half) b = static_cast<uint8_t>(rng() % 16);  // compresses: never stored
    Bytes all = half;
    all.insert(all.end(), half.begin(), half.end());
    for (uint32_t cut : {3001u, 3200u, 4000u, 5990u}) {
        encoder::LzGroupEncoder encoder;
        ASSERT_EQ(encoder.Start(all.data(), {cut, 6000 - cut}), format::Status::Ok);
        Bytes window(all.size()), out;
        codec::LzHistory history{window.data(), static_cast<uint32_t>(window.size()), 0};
        for (auto [from, to] : {std::pair{0u, cut}, {cut, 6000u}}) {
            Bytes area, expected(all.begin() + from, all.begin() + to);
            ASSERT_EQ(encoder.EncodeNext(area), format::Status::Ok);
            EXPECT_EQ(RunEntry(area, expected, &history, &out), format::Status::Ok) << cut;
            EXPECT_EQ(out, expected) << cut;
        }
    }
}

// Matches found on a thread ahead of the parse are the ones found when the parse asks: units far
// smaller than the blocks make the queue between them fill and drain many times, and a long
// repeat makes the parse pass over whole units.
TEST(SolidGroup, MatchesFoundOnAThreadAheadGiveTheSameBytes) {
    std::mt19937 rng(5);
    Bytes all(40000);
    for (uint8_t& b : all) b = static_cast<uint8_t>(rng() % 8);
    std::memcpy(all.data() + 20000, all.data() + 1000, 9000);
    encoder::LzEncoderSettings settings = encoder::LzGroupSettings();
    settings.segmentBytes = 700;
    const std::vector<uint32_t> blocks = {15000, 1, 24999};
    std::vector<Bytes> areas[2];
    for (bool ahead : {false, true}) {
        encoder::LzGroupEncoder encoder(settings);
        // Started again while its thread is still finding: the first group's work ends first.
        Bytes abandoned;
        ASSERT_EQ(encoder.Start(all.data(), blocks, ahead), format::Status::Ok);
        ASSERT_EQ(encoder.EncodeNext(abandoned), format::Status::Ok);
        ASSERT_EQ(encoder.Start(all.data(), blocks, ahead), format::Status::Ok);
        for (size_t b = 0; b < blocks.size(); ++b) {
            areas[ahead].emplace_back();
            ASSERT_EQ(encoder.EncodeNext(areas[ahead].back()), format::Status::Ok);
        }
    }
    EXPECT_EQ(areas[0], areas[1]);
    Bytes window(all.size()), out;
    codec::LzHistory history{window.data(), static_cast<uint32_t>(window.size()), 0};
    uint32_t from = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        Bytes expected(all.begin() + from, all.begin() + from + blocks[b]);
        ASSERT_EQ(RunEntry(areas[1][b], expected, &history, &out), format::Status::Ok) << b;
        EXPECT_EQ(out, expected) << b;
        from += blocks[b];
    }
}

// Program code in a group is filtered with its x86-64 operands: the block's flags say so and the
// reader undoes both parts. A block that claims the x86-64 operands without the x86 filter, or a
// flag bit no reader knows, is refused; one that drops the x86-64 flag decodes to other bytes.
TEST(SolidGroup, ProgramCodeIsFilteredWithItsX64Operands) {
    const Bytes code = packtest::X64Code(60000, 7);
    ASSERT_TRUE(encoder::LzLooksLikeX86(code.data(), static_cast<uint32_t>(code.size())));
    encoder::LzGroupEncoder encoder;
    Bytes written;
    ASSERT_EQ(encoder.Start(code.data(), {static_cast<uint32_t>(code.size())}), Status::Ok);
    ASSERT_EQ(encoder.EncodeNext(written), Status::Ok);
    ASSERT_EQ(format::DecodeBlockHeader(written.data()).type, format::kBlockLzHistory);
    const size_t flagsAt = format::kBlockHeaderBytes + 3;  // after the 24-bit size
    EXPECT_EQ(written[flagsAt], format::kLzFilterX86 | format::kLzFilterX64);
    struct Case {
        const char* name;
        uint8_t flags;
        Status status;
    };
    const Case cases[] = {{"as written", 3, Status::Ok},
                          {"x86 filter alone", 1, Status::CrcMismatch},
                          {"x86-64 operands alone", 2, Status::Corrupt},
                          {"unknown bit", 7, Status::Corrupt}};
    for (const Case& c : cases) {
        Bytes area = written, window(code.size()), out;
        area[flagsAt] = c.flags;
        codec::LzHistory history{window.data(), static_cast<uint32_t>(window.size()), 0};
        EXPECT_EQ(RunEntry(area, code, &history, &out), c.status) << c.name;
        if (c.status == Status::Ok) {
            EXPECT_EQ(out, code);
        }
    }
}

Bytes Text(size_t size, uint32_t seed) {
    static const char* kWords[] = {"group ", "window ", "entry ", "the ", "history ", "match\n"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char* w = kWords[rng() % 6];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

struct GroupFiles {
    fs::path dir =
        fs::temp_directory_path() / ("vorn_solid_" + std::to_string(std::random_device{}()));
    std::vector<std::string> names;
    std::vector<Bytes> data;
    GroupFiles() { fs::create_directories(dir); }
    ~GroupFiles() { fs::remove_all(dir); }
    void Add(const std::string& name, Bytes bytes) {
        EXPECT_TRUE(vorntest::WriteWholeFile((dir / name).string(), bytes));
        names.push_back(name);
        data.push_back(std::move(bytes));
    }
};

// Layout changes that a reader must meet: one entry's area or record, or the header.
struct Damage : LayoutHooks {
    std::optional<uint64_t> areaOf, recordOf;
    std::function<void(format::EntryRecord&)> record;
    std::optional<uint32_t> reserved;
    Bytes area;
    const std::vector<uint8_t>* DataArea(uint64_t entry) override {
        return areaOf == entry ? &area : nullptr;
    }
    void Record(uint64_t entry, format::EntryRecord& r) override {
        if (recordOf == entry) record(r);
    }
    void Header(format::ArchiveHeader& header) override {
        if (reserved && header.entryCount != 0) header.reserved = *reserved;
    }
};

// Two groups: entries 0-1 (programs) and 2-4 (text); entry 5 stands alone.
Bytes WriteGroups(const GroupFiles& files, LayoutHooks* hooks) {
    vorntest::MemorySink sink;
    ArchiveWriter writer;
    if (hooks) writer.SetLayoutHooks(hooks);
    EXPECT_EQ(writer.Open(sink), Status::Ok);
    std::vector<std::vector<ArchiveWriter::FileEntry>> groups(2);
    EntryOptions options;
    options.method = Method::Best;
    options.encoder.level = 3;
    for (size_t i = 0; i < 5; ++i) {
        groups[i < 2 ? 0 : 1].push_back(
            {files.names[i], (files.dir / files.names[i]).string(), options});
    }
    EXPECT_EQ(writer.AddSolidGroups(groups, 2), Status::Ok) << writer.Error();
    EXPECT_EQ(
        writer.AddFiles({{files.names[5], (files.dir / files.names[5]).string(), options}}, 1),
        Status::Ok);
    EXPECT_EQ(writer.Finish(), Status::Ok) << writer.Error();
    return sink.bytes();
}

struct OpenArchive {
    std::string path;
    void* handle = nullptr;
    explicit OpenArchive(const Bytes& bytes, const fs::path& dir)
        : path((dir / "a.vorn").string()) {
        EXPECT_TRUE(vorntest::WriteWholeFile(path, bytes));
        EXPECT_EQ(vorn_OpenStream(&handle, path.c_str(), nullptr, VORN_OPEN_READONLY), 0u);
    }
    ~OpenArchive() { vorn_CloseStream(handle); }
    // The status of entry i to memory, its bytes checked when it succeeds.
    uint32_t Extract(const GroupFiles& files, size_t i) {
        Bytes out(files.data[i].size() + 1);
        uint32_t status =
            vorn_DecompressToPtr(handle, files.names[i].c_str(), out.data(), nullptr, nullptr);
        out.pop_back();
        if (status == 0) {
            EXPECT_EQ(out, files.data[i]) << files.names[i];
        }
        return status;
    }
};

void MakeFiles(GroupFiles& files) {
    Bytes code(300000);
    std::mt19937 rng(3);
    for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>(rng() % 16 * 7);
    files.Add("a.dll", code);
    code[1000] ^= 1;
    files.Add("b.exe", code);
    files.Add("one.txt", Text(200000, 1));
    files.Add("two.txt", Text(200000, 1));  // the same text: all of it a match into one.txt
    files.Add("three.txt", Text(50000, 2));
    files.Add("alone.zip", Text(1000, 4));
}

TEST(SolidGroup, EntriesReadInOrderAloneAndOutOfOrder) {
    GroupFiles files;
    MakeFiles(files);
    Bytes bytes = WriteGroups(files, nullptr);
    const uint32_t reserved = format::DecodeHeader(bytes.data()).reserved;
    EXPECT_TRUE(format::ArchiveAllowsSolidGroups(reserved));
    {
        OpenArchive a(bytes, files.dir);
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(a.Extract(files, i), 0u) << i;
        uint32_t group = 9;
        for (auto [index, expected] : {std::pair{0, 1u}, {1, 1u}, {3, 2u}, {5, 0u}}) {
            EXPECT_EQ(archive::EntryGroup(a.handle, index, &group), format::Status::Ok);
            EXPECT_EQ(group, expected) << index;
        }
    }
    for (std::vector<size_t> order : {std::vector<size_t>{3}, {4, 2, 3, 0}}) {
        OpenArchive a(bytes, files.dir);
        for (size_t i : order) EXPECT_EQ(a.Extract(files, i), 0u) << i;
    }
    // Two texts of one content: the second costs almost nothing beside the first.
    EXPECT_LT(bytes.size(), 300000u + 200000u / 3);
}

TEST(SolidGroup, DamageFailsTheRestOfItsGroupOnly) {
    struct Case {
        const char* what;
        std::function<void(Damage&)> make;
        std::vector<uint32_t> expected;  // entries 0-5
    };
    const uint32_t ok = 0, corrupt = VORN_E_CORRUPT, crc = VORN_E_CRC;
    const std::vector<Case> cases = {
        {"sound", [](Damage&) {}, {ok, ok, ok, ok, ok, ok}},
        {"first entry of the text group damaged",
         [](Damage& d) {
             d.areaOf = 2;
             d.area = Bytes(64, 0x5A);
         },
         {ok, ok, corrupt, corrupt, corrupt, ok}},
        {"first entry of the text group missing from it",
         [](Damage& d) {
             d.recordOf = 2;
             d.record = [](format::EntryRecord& r) { r.group = 0; };
         },
         {ok, ok, corrupt, corrupt, corrupt, ok}},
        {"a text entry's CRC wrong",
         [](Damage& d) {
             d.recordOf = 3;
             d.record = [](format::EntryRecord& r) { r.crc ^= 1; };
         },
         {ok, ok, ok, crc, crc, ok}},
        {"a group larger than the window",
         [](Damage& d) {
             d.recordOf = 4;
             d.record = [](format::EntryRecord& r) { r.unpackedSize = format::kSolidWindowBytes; };
         },
         {ok, ok, corrupt, corrupt, corrupt, ok}},
        {"the header's mark taken away",
         [](Damage& d) { d.reserved = format::kMarkLzBlocks; },
         {corrupt, corrupt, corrupt, corrupt, corrupt, ok}},
    };
    GroupFiles files;
    MakeFiles(files);
    for (const Case& c : cases) {
        Damage damage;
        c.make(damage);
        OpenArchive a(WriteGroups(files, &damage), files.dir);
        std::vector<uint32_t> got;
        for (size_t i = 0; i < 6; ++i) got.push_back(a.Extract(files, i));
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

struct CancelAfter {
    int polls;
    static bool Cancelled(void* context) { return --static_cast<CancelAfter*>(context)->polls < 0; }
};

bool Keep(void* context, const uint8_t* bytes, uint32_t count) {
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), bytes, bytes + count);
    return true;
}

void Percent(void* context, int percent) {
    static_cast<std::vector<int>*>(context)->push_back(percent);
}

TEST(SolidGroup, CancelMidGroupStopsAndProgressMovesOverEarlierEntries) {
    GroupFiles files;
    for (const char* name : {"p.dll", "q.dll", "a.txt", "b.txt", "c.txt", "r.zip"}) {
        files.Add(name, Text(3000, static_cast<uint32_t>(files.names.size())));
    }
    OpenArchive a(WriteGroups(files, nullptr), files.dir);
    Bytes out;
    CancelAfter cancel{1};  // c.txt's run polls at a.txt's block, then at b.txt's
    EXPECT_EQ(archive::ExtractToSink(a.handle, 4, nullptr, {Keep, &out}, {},
                                     {CancelAfter::Cancelled, &cancel}),
              format::Status::Cancelled);
    EXPECT_TRUE(out.empty());
    std::vector<int> percents;
    EXPECT_EQ(archive::ExtractToSink(a.handle, 4, nullptr, {Keep, &out}, {Percent, &percents}, {}),
              format::Status::Ok);
    EXPECT_EQ(out, files.data[4]);
    ASSERT_GE(percents.size(), 5u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GT(percents[1], 0);  // a.txt done, before c.txt was reached
    EXPECT_LT(percents[3], 100);
    EXPECT_EQ(percents.back(), 100);
}

TEST(SolidGroup, GroupsFollowKindSizeAndPassword) {
    const std::vector<GroupCandidate> files = {{"x\\b.txt", 10, false}, {"x\\a.dll", 10, false},
                                               {"x\\c.zip", 10, false}, {"x\\d.txt", 10, true},
                                               {"x\\e.exe", 10, false}, {"x\\f.txt", 60, false},
                                               {"x\\g.TXT", 40, false}, {"x\\h.md", 500, false}};
    GroupPlan plan = ChooseSolidGroups(files, 100);
    EXPECT_EQ(plan.alone, (std::vector<size_t>{2, 3, 7}));  // compressed, password, too large
    const std::vector<std::vector<size_t>> expected = {{1, 4}, {0, 5}, {6}};
    EXPECT_EQ(plan.groups, expected);
}

TEST(SolidGroup, GroupsLargerThanAJobsShareFindTheirMatchesAhead) {
    const struct {
        std::vector<uint64_t> bytes;
        unsigned jobs;
        std::vector<bool> ahead;
    } kCases[] = {
        {{25}, 2, {true}},            // one group: the second thread is idle otherwise
        {{25}, 1, {false}},           // one job: no thread to spare
        {{8, 52}, 2, {false, true}},  // programs beside a tree of text
        {{10, 10, 10, 10}, 2, {false, false, false, false}},  // alike: each takes a job
        {{30, 30}, 2, {false, false}},                        // exactly a share each
        {{0, 0}, 2, {false, false}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(GroupsFindingAhead(c.bytes, c.jobs), c.ahead) << c.bytes.size() << " " << c.jobs;
    }
}

TEST(SolidGroup, AGroupHoldsNoEntryWithAPassword) {
    GroupFiles files;
    files.Add("p.txt", Text(100, 1));
    vorntest::MemorySink sink;
    ArchiveWriter writer;
    ASSERT_EQ(writer.Open(sink), Status::Ok);
    EntryOptions options;
    options.password = "secret";
    EXPECT_EQ(writer.AddSolidGroups({{{"p.txt", (files.dir / "p.txt").string(), options}}}, 1),
              Status::InvalidArgument);
}

}  // namespace
}  // namespace pack
