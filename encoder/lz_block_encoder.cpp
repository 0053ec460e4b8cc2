// Writing an LZ block: block header, then per segment its size, the precode, the code lengths
// run-length coded through the precode, and the tokens. docs/format.md has the layout.
#include "encoder/lz_block_encoder.h"

#include <cstring>

#include "encoder/block_encoder.h"
#include "encoder/compress_bits.h"
#include "encoder/lz_code_lengths.h"
#include "encoder/lz_parse.h"
#include "format/block.h"
#include "format/lz_block.h"
#include "format/solid.h"

namespace encoder {

using format::Status;
using namespace format;

namespace {

// A code: its lengths and its codes, bit-reversed for least-significant-first output.
struct Code {
    uint8_t lengths[kLzMainSymbols];
    uint32_t codes[kLzMainSymbols];

    void Build(const uint32_t* counts, uint32_t count, uint32_t maxLength) {
        LimitedCodeLengths(counts, count, maxLength, lengths);
        LzCanonicalCodes(lengths, count, codes);
    }
    void Write(BitWriter& bits, uint32_t symbol) const {
        bits.Write(codes[symbol], lengths[symbol]);
    }
};

struct PrecodeItem {
    uint32_t symbol;
    uint32_t extra;
};

// Run-length codes the lengths of all three codes into precode symbols.
std::vector<PrecodeItem> RunLengths(const uint8_t* lengths, uint32_t count) {
    const LzRunShape& longZeros = LzRunShapeOf(kLzLongZeros);
    const LzRunShape& shortZeros = LzRunShapeOf(kLzShortZeros);
    const LzRunShape& repeat = LzRunShapeOf(kLzRepeatPrevious);
    std::vector<PrecodeItem> items;
    for (uint32_t i = 0; i < count;) {
        uint32_t run = 1;
        while (i + run < count && lengths[i + run] == lengths[i]) ++run;
        uint32_t left = run;
        if (lengths[i] == 0) {
            while (left >= longZeros.shortest) {
                uint32_t n = left < longZeros.Longest() ? left : longZeros.Longest();
                items.push_back({kLzLongZeros, n - longZeros.shortest});
                left -= n;
            }
            // Fewer than the long run's shortest are left: within the short run's longest.
            if (left >= shortZeros.shortest) {
                items.push_back({kLzShortZeros, left - shortZeros.shortest});
                left = 0;
            }
        } else {
            items.push_back({lengths[i], 0});
            --left;
            while (left >= repeat.shortest) {
                uint32_t n = left < repeat.Longest() ? left : repeat.Longest();
                items.push_back({kLzRepeatPrevious, n - repeat.shortest});
                left -= n;
            }
        }
        for (; left > 0; --left) items.push_back({lengths[i], 0});
        i += run;
    }
    return items;
}

void WriteCodeLengths(const uint8_t* lengths, uint32_t count, BitWriter& bits) {
    std::vector<PrecodeItem> items = RunLengths(lengths, count);
    uint32_t counts[kLzPrecodeSymbols] = {};
    for (const PrecodeItem& item : items) ++counts[item.symbol];
    Code precode;
    precode.Build(counts, kLzPrecodeSymbols, kLzMaxPrecodeLength);
    for (uint32_t s = 0; s < kLzPrecodeSymbols; ++s) {
        bits.Write(precode.lengths[s], kLzPrecodeLengthBits);
    }
    for (const PrecodeItem& item : items) {
        precode.Write(bits, item.symbol);
        if (item.symbol >= kLzRepeatPrevious)
            bits.Write(item.extra, LzRunShapeOf(item.symbol).extraBits);
    }
}

void WriteSlotValue(const Code& code, uint32_t value, BitWriter& bits) {
    uint32_t slot = LzSlotOf(value);
    code.Write(bits, slot);
    bits.Write(value - LzSlotBase(slot), LzSlotExtraBits(slot));
}

// distanceSymbols: the distance code's size, kLzDistanceSymbols in a type-2 block.
struct SegmentCodes {
    Code main, length, distance;
    uint32_t distanceSymbols;

    SegmentCodes(const LzCounts& counts, uint32_t distances) : distanceSymbols(distances) {
        main.Build(counts.main, kLzMainSymbols, kLzMaxCodeLength);
        length.Build(counts.length, kLzLengthSymbols, kLzMaxCodeLength);
        distance.Build(counts.distance, distanceSymbols, kLzMaxCodeLength);
    }
    uint32_t AllCount() const { return kLzMainSymbols + kLzLengthSymbols + distanceSymbols; }
    void AllLengths(uint8_t* all) const {
        memcpy(all, main.lengths, kLzMainSymbols);
        memcpy(all + kLzMainSymbols, length.lengths, kLzLengthSymbols);
        memcpy(all + kLzMainSymbols + kLzLengthSymbols, distance.lengths, distanceSymbols);
    }
};

// A run of tokens parsed together: where its bytes start, its tokens and their counts.
struct ParsedUnit {
    uint32_t begin;
    size_t firstToken, endToken;
    LzCounts counts;
};

void AddCounts(LzCounts* into, const LzCounts& from) {
    for (uint32_t s = 0; s < kLzMainSymbols; ++s) into->main[s] += from.main[s];
    for (uint32_t s = 0; s < kLzLengthSymbols; ++s) into->length[s] += from.length[s];
    for (uint32_t s = 0; s < kLzHistoryDistanceSymbols; ++s) into->distance[s] += from.distance[s];
}

// Bits a segment of these counts spends on its code lengths and its symbols (extra bits aside,
// which no choice of segments changes).
uint64_t SegmentBits(const LzCounts& counts, uint32_t distanceSymbols) {
    SegmentCodes codes(counts, distanceSymbols);
    uint64_t bits = kLzSizeBits + kLzPrecodeSymbols * kLzPrecodeLengthBits;
    for (uint32_t s = 0; s < kLzMainSymbols; ++s)
        bits += uint64_t{counts.main[s]} * codes.main.lengths[s];
    for (uint32_t s = 0; s < kLzLengthSymbols; ++s) {
        bits += uint64_t{counts.length[s]} * codes.length.lengths[s];
    }
    for (uint32_t s = 0; s < distanceSymbols; ++s) {
        bits += uint64_t{counts.distance[s]} * codes.distance.lengths[s];
    }
    uint8_t all[kLzHistoryAllLengths];
    codes.AllLengths(all);
    for (const PrecodeItem& item : RunLengths(all, codes.AllCount())) {
        bits += item.symbol >= kLzRepeatPrevious ? 8 : 4;  // about a precode code and its extra
    }
    return bits;
}

void WriteSegment(const uint8_t* data, uint32_t begin, const LzToken* tokens, size_t count,
                  const LzCounts& counts, uint32_t distanceSymbols, BitWriter& bits) {
    SegmentCodes codes(counts, distanceSymbols);
    uint8_t all[kLzHistoryAllLengths];
    codes.AllLengths(all);
    bits.Write(static_cast<uint32_t>(count), kLzSizeBits);
    WriteCodeLengths(all, codes.AllCount(), bits);
    uint32_t at = begin;
    for (size_t t = 0; t < count; ++t) {
        const LzToken& token = tokens[t];
        if (token.kind == encoder::kLzLiteralToken) {
            codes.main.Write(bits, data[at]);
        } else {
            codes.main.Write(bits, LzMatchSymbol(token.kind, token.length));
            if (token.length >= kLzLongLength) {
                WriteSlotValue(codes.length, token.length - kLzLongLength, bits);
            }
            if (token.kind == kLzKindNewDistance) {
                WriteSlotValue(codes.distance, token.distance - 1, bits);
            }
        }
        at += token.length;
    }
}

LzCounts CountTokens(const uint8_t* data, uint32_t begin, const LzToken* tokens, size_t count) {
    LzCounts counts;
    uint32_t at = begin;
    for (size_t t = 0; t < count; ++t) {
        CountToken(tokens[t], data + at, &counts);
        at += tokens[t].length;
    }
    return counts;
}

// Parses data[begin .. end) (a long match may run past end) over the matches found, in
// settings.passes passes, each priced by the counts of the one before, the first by prices carried
// from the unit before. Appends the tokens to s.tokens and returns where they end.
uint32_t ParseUnit(LzEncoderState& s, const uint8_t* data, uint32_t size, uint32_t begin,
                   uint32_t end, const LzSegmentMatches& found, uint32_t distanceSymbols,
                   LzPrices* prices, uint32_t* recent) {
    LzParseSettings parse;
    parse.niceLength = s.settings.niceLength;
    uint32_t startRecent[kLzRepeatKinds];
    memcpy(startRecent, recent, sizeof startRecent);
    const size_t first = s.tokens.size();
    uint32_t reached = end;
    for (uint32_t pass = 0; pass < s.settings.passes; ++pass) {
        memcpy(recent, startRecent, sizeof startRecent);
        s.tokens.resize(first);
        reached = ParseSegment(data, size, begin, end, found, *prices, parse, recent, &s.tokens);
        PricesFromCounts(CountTokens(data, begin, s.tokens.data() + first, s.tokens.size() - first),
                         prices, distanceSymbols);
    }
    return reached;
}

// Joins neighbouring units into one segment while one set of codes for both costs less than two.
std::vector<ParsedUnit> ChooseSegments(const std::vector<ParsedUnit>& units,
                                       uint32_t distanceSymbols) {
    std::vector<ParsedUnit> segments;
    uint64_t segmentBits = 0;
    for (const ParsedUnit& unit : units) {
        uint64_t unitBits = SegmentBits(unit.counts, distanceSymbols);
        if (!segments.empty()) {
            LzCounts joined = segments.back().counts;
            AddCounts(&joined, unit.counts);
            uint64_t joinedBits = SegmentBits(joined, distanceSymbols);
            if (joinedBits <= segmentBits + unitBits) {
                segments.back().counts = joined;
                segments.back().endToken = unit.endToken;
                segmentBits = joinedBits;
                continue;
            }
        }
        segments.push_back(unit);
        segmentBits = unitBits;
    }
    return segments;
}

}  // namespace

bool LzLooksLikeX86(const uint8_t* data, uint32_t size) {
    uint32_t calls = 0;
    for (uint32_t i = 0; size >= 5 && i <= size - 5; ++i) {
        if ((data[i] & 0xFE) != 0xE8) continue;
        uint32_t target = LoadLE32(data + i + 1) + i + 5;
        if (target < size) ++calls;
    }
    // Code has a call or jump every few dozen bytes; other data lands inside the block by chance
    // about once in a few thousand E8/E9 bytes.
    return calls >= 16 && calls >= size / 4096;
}

namespace {

// The LZ block of data[begin .. end) after the bytes before begin that its matches may reach
// (the finder already holds them): header of type type, its size and flags, then its segments.
// A lone block's units start where the tokens before them end, and their matches are found then;
// a group block's come from the group's cut.
Status EncodeLzBody(LzEncoderState& s, const uint8_t* data, uint32_t begin, uint32_t end,
                    uint32_t flags, uint32_t type, LzGroupMatches* group,
                    std::vector<uint8_t>& out) {
    const uint32_t distanceSymbols =
        type == kBlockLzHistory ? kLzHistoryDistanceSymbols : kLzDistanceSymbols;
    const size_t start = out.size();
    out.resize(start + kBlockHeaderBytes, 0);
    BitWriter bits(out);
    bits.Write(end - begin, kLzSizeBits);
    bits.Write(flags, kLzFlagBits);
    uint32_t recent[kLzRepeatKinds];
    memcpy(recent, kLzInitialDistances, sizeof recent);
    LzPrices prices;
    PricesFromCounts(LzCounts(), &prices, distanceSymbols);
    s.tokens.clear();
    std::vector<ParsedUnit> units;
    for (uint32_t at = begin; at < end;) {
        const LzSegmentMatches* found = &s.matches;
        uint32_t stop;
        if (group != nullptr) {
            found = &group->UnitAt(at);
            stop = LzGroupMatches::EndOf(*found);
        } else {
            stop = end - at > s.settings.segmentBytes ? at + s.settings.segmentBytes : end;
            FindSegmentMatches(&s.finder, data, end, at, stop, s.settings.niceLength, &s.matches);
        }
        size_t first = s.tokens.size();
        uint32_t reached =
            ParseUnit(s, data, end, at, stop, *found, distanceSymbols, &prices, recent);
        units.push_back(
            ParsedUnit{at, first, s.tokens.size(),
                       CountTokens(data, at, s.tokens.data() + first, s.tokens.size() - first)});
        at = reached;
    }
    for (const ParsedUnit& segment : ChooseSegments(units, distanceSymbols)) {
        WriteSegment(data, segment.begin, s.tokens.data() + segment.firstToken,
                     segment.endToken - segment.firstToken, segment.counts, distanceSymbols, bits);
    }
    bits.Finish();
    uint64_t streamBits = bits.BitCount();
    uint64_t body = out.size() - start - kBlockHeaderBytes;
    if (streamBits > kMaxBlockLength || RoundUp16(static_cast<uint32_t>(body)) > kBlockBufferSize) {
        out.resize(start);
        return Status::InvalidArgument;
    }
    out.resize(start + kBlockHeaderBytes + RoundUp16(static_cast<uint32_t>(body)), 0);
    EncodeBlockHeader(BlockHeader{type, static_cast<uint32_t>(streamBits)}, &out[start]);
    return Status::Ok;
}

}  // namespace

Status EncodeLzBlock(const uint8_t* data, uint32_t size, LzEncoderState& s,
                     std::vector<uint8_t>& out) {
    if (size == 0 || size > kBlockBufferSize) return Status::InvalidArgument;
    bool filter = LzLooksLikeX86(data, size);
    if (filter) {
        s.filtered.assign(data, data + size);
        LzFilterX86(s.filtered.data(), size, true);
        data = s.filtered.data();
    }
    s.finder.Reset(data, size);
    return EncodeLzBody(s, data, 0, size, filter ? kLzFilterX86 : 0, kBlockLz, nullptr, out);
}

Status LzGroupEncoder::Start(const uint8_t* data, const std::vector<uint32_t>& blockSizes,
                             bool findAhead) {
    uint64_t total = 0;
    for (uint32_t size : blockSizes) {
        if (size == 0 || size > kLzGroupBlockBytes) return Status::InvalidArgument;
        total += size;
    }
    if (total > kSolidWindowBytes) return Status::InvalidArgument;
    // A group started before may still be finding its matches in bytes_.
    matches_.Stop();
    bytes_.assign(data, data + total);
    filtered_.clear();
    ends_.clear();
    uint32_t at = 0;
    for (uint32_t size : blockSizes) {
        bool filter = LzLooksLikeX86(data + at, size);
        // Blocks with history are new enough to filter x86-64 operands as well; a lone block
        // keeps the bytes that readers before them accept.
        if (filter) LzFilterX86(bytes_.data() + at, size, true, true);
        filtered_.push_back(filter);
        at += size;
        ends_.push_back(at);
    }
    // The tree compares over the whole group, whose bytes no longer change: a position near a
    // block's end is ordered by the bytes that follow it in the next block, as later searches
    // find them. The parse cuts every match at its block's end.
    state_.finder.Reset(bytes_.data(), at);
    matches_.Start(bytes_.data(), ends_, findAhead);
    next_ = 0;
    return Status::Ok;
}

Status LzGroupEncoder::EncodeNext(std::vector<uint8_t>& out) {
    if (next_ >= ends_.size()) return Status::InvalidArgument;
    const uint32_t begin = next_ == 0 ? 0 : ends_[next_ - 1];
    const uint32_t end = ends_[next_];
    const bool filter = filtered_[next_];
    ++next_;
    const size_t start = out.size();
    const uint32_t flags = filter ? kLzFilterX86 | kLzFilterX64 : 0;
    Status status =
        EncodeLzBody(state_, bytes_.data(), begin, end, flags, kBlockLzHistory, &matches_, out);
    // A small block's code lengths may outweigh its bytes: stored, they join the history as
    // they are, which holds only for a block the filter left alone.
    if (status == Status::Ok && !filter &&
        out.size() - start > RoundUp16(end - begin) + kBlockHeaderBytes) {
        out.resize(start);
        status = EncodeStoredBlock(bytes_.data() + begin, end - begin, out);
    }
    return status;
}

}  // namespace encoder
