// The entry decoding run over an in-memory data area: block framing, progress, cancel, delivery
// to a sink or memory, the final checksum, and the refusals of blocks outside the format.
#include "codec/entry_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "block_builder.h"
#include "codec/bit_reader.h"
#include "codec/parallel_run.h"
#include "crypto/blowfish.h"

namespace {

using codec::DecodeEntry;
using codec::EntryInput;
using codec::EntryRun;
using format::Status;

uint32_t BitwiseCrc32(const std::string& data) {
    uint32_t reg = 0xFFFFFFFF;
    for (unsigned char c : data) {
        reg ^= c;
        for (int i = 0; i < 8; ++i) reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0);
    }
    return ~reg;
}

void PutHeader(std::vector<uint8_t>* area, uint32_t type, uint32_t length) {
    uint32_t word = (length << 3) | type;
    for (int i = 0; i < 4; ++i) area->push_back(static_cast<uint8_t>(word >> (8 * i)));
}

// A stored block: header, the bytes, then padding that is not data.
void AddStoredPadded(std::vector<uint8_t>* area, const std::string& bytes) {
    size_t start = area->size();
    PutHeader(area, 0, static_cast<uint32_t>(bytes.size()));
    area->insert(area->end(), bytes.begin(), bytes.end());
    while ((area->size() - start - 4) % 16 != 0) area->push_back(0xCC);
}

void AddCompressed(std::vector<uint8_t>* area, const std::vector<codec_test::Token>& tokens) {
    codec_test::BitWriter writer = codec_test::EncodeBlock(tokens, codec_test::CountTokens(tokens));
    PutHeader(area, 1, writer.bitCount());
    std::vector<uint8_t> body = writer.Body();
    area->insert(area->end(), body.begin(), body.end());
}

struct FakeArchive {
    std::vector<uint8_t> area;
    size_t offset = 0;
    uint64_t bytesRead = 0;
    int pollsBeforeCancel = -1;  // cancel reported on this poll (0-based); -1 never
    int polls = 0;
    std::vector<int> progress;
    std::string sunk;
    int sinkCalls = 0;
    int failSinkAtCall = -1;
    int reads = 0;
    uint32_t largestRead = UINT32_MAX;  // a read returns at most this many bytes

    static int64_t Read(void* context, void* buffer, uint32_t count) {
        FakeArchive* self = static_cast<FakeArchive*>(context);
        ++self->reads;
        size_t left = self->area.size() - self->offset;
        size_t n = count < left ? count : left;
        if (n > self->largestRead) n = self->largestRead;
        memcpy(buffer, self->area.data() + self->offset, n);
        self->offset += n;
        self->bytesRead += n;
        return static_cast<int64_t>(n);
    }
    static bool Poll(void* context) {
        FakeArchive* self = static_cast<FakeArchive*>(context);
        return self->polls++ == self->pollsBeforeCancel;
    }
    static bool Sink(void* context, const uint8_t* bytes, uint32_t count) {
        FakeArchive* self = static_cast<FakeArchive*>(context);
        if (self->sinkCalls++ == self->failSinkAtCall) return false;
        self->sunk.append(reinterpret_cast<const char*>(bytes), count);
        return true;
    }
};

void RecordProgress(void* context, int percent) {
    static_cast<FakeArchive*>(context)->progress.push_back(percent);
}

struct RunResult {
    Status status;
    std::string output;
};

class EntryRunTest : public ::testing::Test {
  protected:
    EntryRun BaseRun(uint32_t crc) {
        EntryRun run = {};
        run.storedSize = archive_.area.size();
        run.crc = crc;
        run.progress = codec::ProgressReport{RecordProgress, &archive_};
        return run;
    }

    Status RunToSink(EntryRun run, uint64_t unpackedSize) {
        run.unpackedSize = unpackedSize;
        run.sink = codec::BlockSink{FakeArchive::Sink, &archive_};
        return DecodeEntry(Input(), run);
    }

    RunResult RunToMemory(EntryRun run, size_t unpackedSize) {
        std::vector<uint8_t> buffer(unpackedSize + 1, 0xEE);
        run.destination = buffer.data();
        run.unpackedSize = unpackedSize;
        Status status = DecodeEntry(Input(), run);
        EXPECT_EQ(buffer[unpackedSize], 0xEE) << "wrote past the caller's buffer";
        return RunResult{status, std::string(buffer.begin(), buffer.begin() + unpackedSize)};
    }

    EntryInput Input() { return EntryInput{&archive_, FakeArchive::Read, FakeArchive::Poll}; }

    FakeArchive archive_;
};

std::string Bytes(size_t n, char seed) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>(seed + i % 23);
    return s;
}

TEST_F(EntryRunTest, Stored134ByteBlockUses148BytesAndDecodes) {
    std::string data = Bytes(134, 'A');
    AddStoredPadded(&archive_.area, data);
    ASSERT_EQ(archive_.area.size(), 148u);
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32(data)), data.size()), Status::Ok);
    EXPECT_EQ(archive_.sunk, data);
    EXPECT_EQ(archive_.progress, (std::vector<int>{0, 100}));
    EXPECT_EQ(archive_.bytesRead, 148u);
}

TEST_F(EntryRunTest, ProgressReportsEachBlocksShareThenHundred) {
    AddStoredPadded(&archive_.area, Bytes(134, 'a'));  // 148 bytes
    AddStoredPadded(&archive_.area, Bytes(20, 'b'));   // 36 bytes
    std::string all = Bytes(134, 'a') + Bytes(20, 'b');
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32(all)), all.size()), Status::Ok);
    EXPECT_EQ(archive_.progress, (std::vector<int>{0, 148 * 100 / 184, 100}));
    EXPECT_EQ(archive_.sunk, all);
}

TEST_F(EntryRunTest, PercentageIsTruncatedAfterDivisionAndMultiplication) {
    AddStoredPadded(&archive_.area, Bytes(112, 'a'));  // 116 bytes
    AddStoredPadded(&archive_.area, Bytes(80, 'b'));   // 84 bytes
    ASSERT_EQ(archive_.area.size(), 200u);
    RunToSink(BaseRun(0), 192);
    EXPECT_EQ(archive_.progress, (std::vector<int>{0, 57, 100}));
}

TEST_F(EntryRunTest, EmptyEntryReportsOnlyHundredAndChecksTheCrcOfNothing) {
    EXPECT_EQ(RunToSink(BaseRun(0), 0), Status::Ok);
    EXPECT_EQ(archive_.progress, (std::vector<int>{100}));
    EXPECT_EQ(archive_.polls, 0);
    archive_.progress.clear();
    EXPECT_EQ(RunToSink(BaseRun(5), 0), Status::CrcMismatch);
    EXPECT_EQ(archive_.progress, (std::vector<int>{100}));
}

TEST_F(EntryRunTest, CrcMismatchReportsHundredThenNine) {
    AddStoredPadded(&archive_.area, "hello");
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32("hellO")), 5), Status::CrcMismatch);
    EXPECT_EQ(archive_.progress.back(), 100);
    EXPECT_EQ(archive_.sunk, "hello");
}

TEST_F(EntryRunTest, InvalidBlockTypesAreCorrupt) {
    for (uint32_t type = 2; type <= 7; ++type) {
        archive_ = FakeArchive();
        PutHeader(&archive_.area, type, 16);
        archive_.area.resize(archive_.area.size() + 16, 0);
        EXPECT_EQ(RunToSink(BaseRun(0), 16), Status::Corrupt) << type;
        EXPECT_EQ(archive_.progress, (std::vector<int>{0})) << type;
    }
}

TEST_F(EntryRunTest, ZeroLengthBlockIsCorrupt) {
    PutHeader(&archive_.area, 0, 0);
    archive_.area.resize(20, 0);
    EXPECT_EQ(RunToSink(BaseRun(0), 16), Status::Corrupt);
    archive_ = FakeArchive();
    PutHeader(&archive_.area, 1, 0);
    archive_.area.resize(20, 0);
    EXPECT_EQ(RunToSink(BaseRun(0), 16), Status::Corrupt);
}

TEST_F(EntryRunTest, ShortHeaderOrBodyIsCorrupt) {
    AddStoredPadded(&archive_.area, Bytes(40, 'a'));
    EntryRun run = BaseRun(0);
    run.storedSize += 10;  // claims more blocks than the area holds
    EXPECT_EQ(RunToSink(run, 40), Status::Corrupt);

    archive_ = FakeArchive();
    AddStoredPadded(&archive_.area, Bytes(40, 'a'));
    archive_.area.push_back(0x08);  // two bytes of a header
    archive_.area.push_back(0x00);
    EXPECT_EQ(RunToSink(BaseRun(0), 40), Status::Corrupt);

    archive_ = FakeArchive();
    AddStoredPadded(&archive_.area, Bytes(40, 'a'));
    archive_.area.resize(archive_.area.size() - 5);
    EntryRun whole = BaseRun(0);
    whole.storedSize += 5;
    EXPECT_EQ(RunToSink(whole, 40), Status::Corrupt);
    EXPECT_EQ(archive_.sunk, "");
}

TEST_F(EntryRunTest, BodiesBeyondTheReadBufferAreRefusedBeforeReading) {
    PutHeader(&archive_.area, 0, codec::BLOCK_BUFFER_SIZE + 1);
    archive_.area.resize(64, 0);
    EntryRun run = BaseRun(0);
    run.storedSize = 0x1000000;
    EXPECT_EQ(RunToSink(run, codec::BLOCK_BUFFER_SIZE + 1), Status::Corrupt);
    EXPECT_EQ(archive_.bytesRead, 4u);

    archive_ = FakeArchive();
    PutHeader(&archive_.area, 1, (codec::BLOCK_BUFFER_SIZE + 16) * 8);
    archive_.area.resize(64, 0);
    EXPECT_EQ(RunToSink(run, codec::BLOCK_BUFFER_SIZE + 1), Status::Corrupt);
    EXPECT_EQ(archive_.bytesRead, 4u);
}

TEST_F(EntryRunTest, LargestStoredBodyFits) {
    std::string data(codec::BLOCK_BUFFER_SIZE, 'z');
    AddStoredPadded(&archive_.area, data);
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32(data)), data.size()), Status::Ok);
    EXPECT_EQ(archive_.sunk.size(), data.size());
}

TEST_F(EntryRunTest, CancelStopsAtTheNextBlockBoundary) {
    for (int k = 0; k < 3; ++k) {
        archive_ = FakeArchive();
        AddStoredPadded(&archive_.area, "one");
        AddStoredPadded(&archive_.area, "two");
        AddStoredPadded(&archive_.area, "three");
        archive_.pollsBeforeCancel = k;
        EXPECT_EQ(RunToSink(BaseRun(0), 11), Status::Cancelled) << k;
        EXPECT_EQ(archive_.sunk, std::string("onetwothree").substr(0, k == 0 ? 0 : k == 1 ? 3 : 6));
        EXPECT_NE(archive_.progress.back(), 100);
        EXPECT_EQ(archive_.bytesRead, 20u * k + 4) << "the body after the cancel is not read";
    }
}

TEST_F(EntryRunTest, CancelDuringTheLastBlockLetsTheRunFinish) {
    AddStoredPadded(&archive_.area, "only");
    archive_.pollsBeforeCancel = 1;  // would be seen at a following boundary; there is none
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32("only")), 4), Status::Ok);
}

TEST_F(EntryRunTest, SinkFailureStopsTheRunWithSix) {
    AddStoredPadded(&archive_.area, "one");
    AddStoredPadded(&archive_.area, "two");
    archive_.failSinkAtCall = 0;
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32("onetwo")), 6), Status::DiskFull);
    EXPECT_EQ(archive_.polls, 1);
}

TEST_F(EntryRunTest, CompressedAndStoredBlocksMixInMemoryMode) {
    std::vector<uint8_t> expected;
    std::vector<codec_test::Token> tokens = codec_test::RandomValidTokens(9, 500, 6, &expected);
    AddCompressed(&archive_.area, tokens);
    AddStoredPadded(&archive_.area, "tail");
    AddCompressed(&archive_.area, tokens);
    std::string block(expected.begin(), expected.end());
    std::string all = block + "tail" + block;
    RunResult r = RunToMemory(BaseRun(BitwiseCrc32(all)), all.size());
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.output, all);
}

TEST_F(EntryRunTest, CompressedBlocksReachTheSinkOneCallEach) {
    AddCompressed(&archive_.area, {codec_test::Lit('a'), codec_test::Lit('a'), codec_test::Lit('a'),
                                   codec_test::Lit('a'), codec_test::Match(5, 0)});
    AddCompressed(&archive_.area, {});  // produces nothing: no sink call
    AddCompressed(&archive_.area, {codec_test::Lit('z')});
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32("aaaaaaaaaz")), 10), Status::Ok);
    EXPECT_EQ(archive_.sunk, "aaaaaaaaaz");
    EXPECT_EQ(archive_.sinkCalls, 2);
}

TEST_F(EntryRunTest, WorkedExampleBlockFromItsHeaderWord) {
    const uint8_t block[] = {0xF9, 0x03, 0x00, 0x00, 0x07, 0x00, 0x00, 0x02, 0x01, 0x00,
                             0x71, 0x00, 0x00, 0x11, 0x4E, 0xDC, 0x38, 0x01, 0xAE, 0x69};
    archive_.area.assign(block, block + sizeof block);
    RunResult r = RunToMemory(BaseRun(BitwiseCrc32("abcabcabc")), 9);
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.output, "abcabcabc");
}

TEST_F(EntryRunTest, OutputBeyondTheCallersBufferIsCorrupt) {
    AddStoredPadded(&archive_.area, "0123456789");
    EXPECT_EQ(RunToMemory(BaseRun(0), 9).status, Status::Corrupt);

    archive_ = FakeArchive();
    std::vector<uint8_t> expected;
    std::vector<codec_test::Token> tokens = codec_test::RandomValidTokens(4, 200, 3, &expected);
    AddCompressed(&archive_.area, tokens);
    AddCompressed(&archive_.area, tokens);
    EXPECT_EQ(RunToMemory(BaseRun(0), expected.size() * 2 - 1).status, Status::Corrupt);
}

TEST_F(EntryRunTest, CorruptCompressedBlockDeliversNothingOfIt) {
    AddStoredPadded(&archive_.area, "kept");
    AddCompressed(&archive_.area, {codec_test::Lit('a'), codec_test::Match(1, 0)});
    EXPECT_EQ(RunToSink(BaseRun(0), 6), Status::Corrupt);
    EXPECT_EQ(archive_.sunk, "kept");
}

TEST_F(EntryRunTest, EncipheredBodiesAreDecipheredOnlyForEncryptedEntries) {
    std::vector<uint8_t> expected;
    std::vector<codec_test::Token> tokens = codec_test::RandomValidTokens(21, 300, 5, &expected);
    std::vector<uint8_t> plain;
    AddCompressed(&plain, tokens);
    AddStoredPadded(&plain, "stored part");
    std::string all = std::string(expected.begin(), expected.end()) + "stored part";

    // Encipher every body in place, never the headers.
    std::vector<uint8_t> sealed = plain;
    size_t at = 0;
    while (at < sealed.size()) {
        uint32_t word = format::LoadLE32(&sealed[at]);
        uint32_t length = word >> 3;
        uint32_t body = (word & 7) == 1 ? format::RoundUp16(format::BitsToBytes(length))
                                        : format::RoundUp16(length);
        EncryptBuffer(&sealed[at + 4], body, "secret");
        at += 4 + body;
    }

    archive_.area = sealed;
    EntryRun run = BaseRun(BitwiseCrc32(all));
    run.encrypted = true;
    run.password = "secret";
    EXPECT_EQ(RunToSink(run, all.size()), Status::Ok);
    EXPECT_EQ(archive_.sunk, all);

    archive_ = FakeArchive();
    archive_.area = sealed;
    run.password = "wrong";
    Status status = RunToSink(run, all.size());
    EXPECT_TRUE(status == Status::Corrupt || status == Status::CrcMismatch);

    archive_ = FakeArchive();
    archive_.area = plain;
    run.encrypted = false;
    run.password = "secret";
    EXPECT_EQ(RunToSink(run, all.size()), Status::Ok);
    EXPECT_EQ(archive_.sunk, all);
}

TEST_F(EntryRunTest, EachBlockIsOneReadThatBringsTheNextBlocksHeader) {
    AddStoredPadded(&archive_.area, "one");
    AddCompressed(&archive_.area,
                  {codec_test::Lit('t'), codec_test::Lit('w'), codec_test::Lit('o')});
    AddStoredPadded(&archive_.area, "three");
    EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32("onetwothree")), 11), Status::Ok);
    EXPECT_EQ(archive_.sunk, "onetwothree");
    EXPECT_EQ(archive_.reads, 4) << "the first header, then one read per block";
    EXPECT_EQ(archive_.bytesRead, archive_.area.size()) << "nothing past the data area";
}

TEST_F(EntryRunTest, HeadersSplitOverShortReadsStillFrameTheBlocks) {
    std::vector<uint8_t> expected;
    std::vector<codec_test::Token> tokens = codec_test::RandomValidTokens(5, 300, 4, &expected);
    AddStoredPadded(&archive_.area, "abcdefghijklmnopq");
    AddCompressed(&archive_.area, tokens);
    AddStoredPadded(&archive_.area, "z");
    std::string all = "abcdefghijklmnopq" + std::string(expected.begin(), expected.end()) + "z";
    for (uint32_t largest : {1u, 3u, 5u, 18u}) {
        archive_.offset = 0;
        archive_.sunk.clear();
        archive_.largestRead = largest;
        EXPECT_EQ(RunToSink(BaseRun(BitwiseCrc32(all)), all.size()), Status::Ok) << largest;
        EXPECT_EQ(archive_.sunk, all) << largest;
    }
}

// Memory a caller lends to successive runs holds whatever the run before left in it.
class LentMemoryTest : public EntryRunTest {
  protected:
    void SetUp() override {
        EntryRunTest::SetUp();
        ASSERT_TRUE(codec::MapRunMemory(&memory_));
        Scribble(0x5A);
    }
    void TearDown() override {
        codec::UnmapRunMemory(&memory_);
        EXPECT_EQ(memory_.readBuffer, nullptr);
        EXPECT_EQ(memory_.contextTable, nullptr);
    }
    void Scribble(uint8_t seed) {
        uint8_t* table = reinterpret_cast<uint8_t*>(memory_.contextTable);
        for (size_t i = 0; i < sizeof(codec::ContextTable); ++i) table[i] = seed ^ (i * 131 >> 3);
        memset(memory_.readBuffer, seed, codec::RUN_READ_BUFFER_BYTES);
    }
    EntryRun Lent(uint32_t crc) {
        EntryRun run = BaseRun(crc);
        run.memory = memory_;
        return run;
    }
    // A three-block entry whose middle block matches against its own first bytes.
    std::string ThreeBlocks(uint32_t seed) {
        std::vector<uint8_t> expected;
        std::vector<codec_test::Token> tokens =
            codec_test::RandomValidTokens(seed, 800, 6, &expected);
        archive_ = FakeArchive();
        AddCompressed(&archive_.area, tokens);
        AddStoredPadded(&archive_.area, "between");
        AddCompressed(&archive_.area, tokens);
        std::string block(expected.begin(), expected.end());
        return block + "between" + block;
    }
    codec::RunMemory memory_ = {nullptr, nullptr, nullptr};
};

TEST_F(LentMemoryTest, RunsInScribbledMemoryAndLeavesItMapped) {
    std::string all = ThreeBlocks(31);
    RunResult r = RunToMemory(Lent(BitwiseCrc32(all)), all.size());
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.output, all);
    // The bodies went through the lent buffer, which is still there to be written.
    EXPECT_NE(memory_.readBuffer[0], 0x5A);
    memory_.readBuffer[codec::RUN_READ_BUFFER_BYTES - 1] = 1;
}

TEST_F(LentMemoryTest, RunAfterAFailedRunDecodesAsIfFirst) {
    std::string good = ThreeBlocks(32);
    std::vector<uint8_t> goodArea = archive_.area;

    // A block that fails halfway, when the caller's buffer ends inside it, after a block that
    // filled the table.
    archive_ = FakeArchive();
    std::vector<uint8_t> first, second;
    AddCompressed(&archive_.area, codec_test::RandomValidTokens(33, 900, 6, &first));
    AddCompressed(&archive_.area, codec_test::RandomValidTokens(34, 400, 6, &second));
    EXPECT_EQ(RunToMemory(Lent(0), first.size() + second.size() / 2).status, Status::Corrupt);

    archive_ = FakeArchive();
    archive_.area = goodArea;
    RunResult r = RunToMemory(Lent(BitwiseCrc32(good)), good.size());
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.output, good);
}

TEST_F(LentMemoryTest, CancelledAndWronglyDecipheredRunsLeaveNothingBehind) {
    std::string good = ThreeBlocks(35);
    std::vector<uint8_t> plain = archive_.area;
    archive_.pollsBeforeCancel = 2;
    EXPECT_EQ(RunToMemory(Lent(BitwiseCrc32(good)), good.size()).status, Status::Cancelled);

    // The same blocks enciphered: a wrong password fills buffer and table with noise first.
    std::vector<uint8_t> sealed = plain;
    for (size_t at = 0; at < sealed.size();) {
        uint32_t word = format::LoadLE32(&sealed[at]);
        uint32_t body = (word & 7) == 1 ? format::RoundUp16(format::BitsToBytes(word >> 3))
                                        : format::RoundUp16(word >> 3);
        EncryptBuffer(&sealed[at + 4], body, "right");
        at += 4 + body;
    }
    EntryRun run = Lent(BitwiseCrc32(good));
    run.encrypted = true;
    run.password = "wrong";
    archive_ = FakeArchive();
    archive_.area = sealed;
    EXPECT_NE(RunToMemory(run, good.size()).status, Status::Ok);

    run.password = "right";
    archive_ = FakeArchive();
    archive_.area = sealed;
    RunResult r = RunToMemory(run, good.size());
    EXPECT_EQ(r.status, Status::Ok);
    EXPECT_EQ(r.output, good);
}

// The blocks of one entry decoded on several threads: whatever the area holds, the sink gets the
// same bytes and the run ends with the same status as on one thread.
struct ParallelCase {
    const char* name;
    void (*build)(FakeArchive*, std::string* whole);
    int failSinkAtCall;
    int pollsBeforeCancel;
    int64_t declaredShift = 0;  // the record's unpacked size against the blocks' output
};

void ManyBlocks(FakeArchive* a, std::string* whole) {
    std::vector<uint8_t> expected;
    std::vector<codec_test::Token> tokens = codec_test::RandomValidTokens(3, 400, 7, &expected);
    for (int i = 0; i < 7; ++i) {
        AddCompressed(&a->area, tokens);
        *whole += std::string(expected.begin(), expected.end());
        AddStoredPadded(&a->area, Bytes(30 + i, 'k'));
        *whole += Bytes(30 + i, 'k');
    }
}

void DamagedMiddleBlock(FakeArchive* a, std::string* whole) {
    ManyBlocks(a, whole);
    std::vector<uint8_t> tail = a->area;
    a->area.clear();
    AddStoredPadded(&a->area, "before");
    AddCompressed(&a->area, {codec_test::Lit('a'), codec_test::Match(1, 0)});
    a->area.insert(a->area.end(), tail.begin(), tail.end());
}

void TruncatedArea(FakeArchive* a, std::string* whole) {
    ManyBlocks(a, whole);
    a->area.resize(a->area.size() - 5);
}

TEST_F(EntryRunTest, SeveralThreadsDeliverWhatOneThreadDelivers) {
    const ParallelCase cases[] = {
        {"intact", ManyBlocks, -1, -1},
        {"damaged middle block", DamagedMiddleBlock, -1, -1},
        {"area ends early", TruncatedArea, -1, -1},
        {"sink fails at the third block", ManyBlocks, 2, -1},
        {"cancelled before the fifth block", ManyBlocks, -1, 4},
        {"record understates the size", ManyBlocks, -1, -1, -100},
        {"record overstates the size", ManyBlocks, -1, -1, 1},
    };
    for (const ParallelCase& c : cases) {
        FakeArchive fresh;
        std::string whole;
        c.build(&fresh, &whole);
        fresh.failSinkAtCall = c.failSinkAtCall;
        fresh.pollsBeforeCancel = c.pollsBeforeCancel;
        const uint64_t storedSize =
            c.build == TruncatedArea ? fresh.area.size() + 5 : fresh.area.size();
        std::vector<std::pair<Status, std::string>> outcomes;
        for (unsigned threads : {1u, 2u, 3u, 8u}) {
            archive_ = fresh;
            EntryRun run = BaseRun(BitwiseCrc32(whole));
            run.storedSize = storedSize;
            run.unpackedSize = whole.size() + c.declaredShift;
            run.sink = codec::BlockSink{FakeArchive::Sink, &archive_};
            Status status = codec::DecodeEntryParallel(Input(), run, threads);
            EXPECT_LE(archive_.sunk.size(), run.unpackedSize) << c.name << ", " << threads;
            if (c.declaredShift != 0) {
                EXPECT_EQ(status, Status::Corrupt) << c.name << ", " << threads;
            }
            outcomes.emplace_back(status, archive_.sunk);
        }
        EXPECT_EQ(outcomes[0].first == Status::Ok, std::string(c.name) == "intact") << c.name;
        for (size_t i = 1; i < outcomes.size(); ++i) {
            EXPECT_EQ(outcomes[i].first, outcomes[0].first) << c.name << ", run " << i;
            EXPECT_EQ(outcomes[i].second, outcomes[0].second) << c.name << ", run " << i;
        }
    }
}

}  // namespace
