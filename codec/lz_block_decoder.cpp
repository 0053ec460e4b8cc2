// Decodes LZ blocks: the block header, then segments of code lengths and tokens, then the x86
// filter. Bounds are checked once per token and per code length: no token reads more than 87
// bits, so between checks the reads stay inside the body's slack.
#include "codec/lz_block_decoder.h"

#include <cstring>

#include "codec/bit_reader.h"
#include "codec/compressed_block_decoder.h"
#include "format/failed_check.h"
#include "format/solid.h"

namespace codec {

using format::Status;

namespace {

static_assert(BODY_READ_SLACK >= 24, "a token's reads must stay inside the body's slack");

struct LzCode {
    const uint16_t* table;
    uint32_t mask;
};

struct LzStream {
    const uint8_t* body;
    uint32_t bitPos;
    uint32_t limit;  // streamBits
};

// One symbol, or -1 when the bits start no code.
inline int32_t DecodeSymbol(LzStream* in, const LzCode& code) {
    uint32_t entry = code.table[static_cast<uint32_t>(PeekBits(in->body, in->bitPos)) & code.mask];
    uint32_t len = entry & 15;
    if (len == 0) return -1;
    in->bitPos += len;
    return static_cast<int32_t>(entry >> 4);
}

// A slot-coded value (slot symbol and its extra bits), or -1.
inline int32_t DecodeSlotValue(LzStream* in, const LzCode& code) {
    int32_t slot = DecodeSymbol(in, code);
    if (slot < 4) return slot;
    uint32_t extra = format::LzSlotExtraBits(static_cast<uint32_t>(slot));
    uint32_t bits = static_cast<uint32_t>(PeekBits(in->body, in->bitPos)) & ((1u << extra) - 1);
    in->bitPos += extra;
    return static_cast<int32_t>(format::LzSlotBase(static_cast<uint32_t>(slot)) + bits);
}

// Reads the code lengths of all three codes (allLengths of them) through the precode.
bool ReadCodeLengths(LzStream* in, LzDecodeTables* t, uint32_t allLengths) {
    uint8_t precodeLengths[format::kLzPrecodeSymbols];
    for (uint8_t& len : precodeLengths) {
        len = static_cast<uint8_t>(ReadBits(in->body, in->bitPos, format::kLzPrecodeLengthBits));
        in->bitPos += format::kLzPrecodeLengthBits;
    }
    uint32_t precodeBits = 0;
    if (!BuildLzLookup(precodeLengths, format::kLzPrecodeSymbols, format::kLzMaxPrecodeLength,
                       t->precode, &precodeBits)) {
        return false;
    }
    const LzCode precode{t->precode, (1u << precodeBits) - 1};
    uint32_t filled = 0;
    while (filled < allLengths) {
        if (in->bitPos > in->limit) return false;
        int32_t symbol = DecodeSymbol(in, precode);
        if (symbol < 0) return false;
        if (symbol < 16) {
            t->lengths[filled++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t value = 0;
        if (symbol == format::kLzRepeatPrevious) {
            if (filled == 0) return false;
            value = t->lengths[filled - 1];
        }
        const format::LzRunShape& run = format::LzRunShapeOf(static_cast<uint32_t>(symbol));
        uint32_t count = run.shortest + ReadBits(in->body, in->bitPos, run.extraBits);
        in->bitPos += run.extraBits;
        if (count > allLengths - filled) return false;
        memset(t->lengths + filled, static_cast<int>(value), count);
        filled += count;
    }
    return in->bitPos <= in->limit;
}

struct LzCodes {
    LzCode main, length, distance;
};

bool BuildSegmentCodes(LzDecodeTables* t, uint32_t distanceSymbols, LzCodes* codes) {
    using namespace format;
    uint32_t mainBits = 0, lengthBits = 0, distanceBits = 0;
    const uint8_t* lengths = t->lengths;
    if (!BuildLzLookup(lengths, kLzMainSymbols, kLzMaxCodeLength, t->main, &mainBits) ||
        !BuildLzLookup(lengths + kLzMainSymbols, kLzLengthSymbols, kLzMaxCodeLength, t->length,
                       &lengthBits) ||
        !BuildLzLookup(lengths + kLzMainSymbols + kLzLengthSymbols, distanceSymbols,
                       kLzMaxCodeLength, t->distance, &distanceBits)) {
        return false;
    }
    codes->main = LzCode{t->main, (1u << mainBits) - 1};
    codes->length = LzCode{t->length, (1u << lengthBits) - 1};
    codes->distance = LzCode{t->distance, (1u << distanceBits) - 1};
    return true;
}

// Copies len bytes from distance back; the source may overlap the bytes written. Whole words
// when the distance allows them and the area has room for the overshoot.
inline void CopyMatch(uint8_t* out, uint32_t o, uint32_t distance, uint32_t len,
                      uint32_t capacity) {
    uint8_t* dst = out + o;
    const uint8_t* src = dst - distance;
    if (distance >= 8 && capacity - o >= len + 8) {
        for (uint32_t i = 0; i < len; i += 8) memcpy(dst + i, src + i, 8);
        return;
    }
    for (uint32_t i = 0; i < len; ++i) dst[i] = src[i];
}

struct LzState {
    uint32_t o;
    uint32_t recent[format::kLzRepeatKinds];
};

// A segment's tokens, none past the block's end; false on any violation.
bool DecodeTokens(LzStream* in, const LzCodes& codes, uint32_t tokens, LzState* state, uint8_t* out,
                  uint32_t blockEnd, uint32_t capacity) {
    using namespace format;
    uint32_t o = state->o;
    for (; tokens != 0; --tokens) {
        if (in->bitPos > in->limit || o >= blockEnd) return false;
        int32_t symbol = DecodeSymbol(in, codes.main);
        if (symbol < 0) return false;
        if (symbol < static_cast<int32_t>(kLzLiterals)) {
            out[o++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t matchCode = static_cast<uint32_t>(symbol) - kLzLiterals;
        uint32_t kind = matchCode / kLzLengthCodes;
        uint32_t len = kLzMinMatch + matchCode % kLzLengthCodes;
        if (len == kLzLongLength) {
            int32_t more = DecodeSlotValue(in, codes.length);
            if (more < 0) return false;
            len += static_cast<uint32_t>(more);
        }
        uint32_t distance = state->recent[kind & 3];
        if (kind == kLzKindNewDistance) {
            int32_t value = DecodeSlotValue(in, codes.distance);
            if (value < 0) return false;
            distance = static_cast<uint32_t>(value) + 1;
            kind = kLzRepeatKinds - 1;  // every recent distance moves down one place
        }
        for (uint32_t k = kind; k > 0; --k) state->recent[k] = state->recent[k - 1];
        state->recent[0] = distance;
        if (distance > o || len > blockEnd - o) return false;
        CopyMatch(out, o, distance, len, capacity);
        o += len;
    }
    state->o = o;
    return in->bitPos <= in->limit;
}

}  // namespace

bool BuildLzLookup(const uint8_t* lengths, uint32_t count, uint32_t maxLength, uint16_t* table,
                   uint32_t* tableBits) {
    uint32_t perLength[format::kLzMaxCodeLength + 1] = {};
    for (uint32_t s = 0; s < count; ++s) {
        if (lengths[s] > maxLength) return false;
        ++perLength[lengths[s]];
    }
    uint32_t used = count - perLength[0];
    uint32_t longest = 0;
    int64_t room = 1;  // Kraft: the share of the code space still free, in units of 2^-len
    for (uint32_t len = 1; len <= maxLength; ++len) {
        room = room * 2 - perLength[len];
        if (room < 0) return false;
        if (perLength[len] != 0) longest = len;
    }
    *tableBits = longest;
    table[0] = 0;
    if (used == 0) return true;
    bool single = used == 1 && perLength[1] == 1;
    if (room != 0 && !single) return false;
    uint32_t size = 1u << longest;
    if (single) table[1] = 0;
    uint32_t codes[format::kLzMainSymbols];
    format::LzCanonicalCodes(lengths, count, codes);
    for (uint32_t s = 0; s < count; ++s) {
        uint32_t len = lengths[s];
        if (len == 0) continue;
        auto entry = static_cast<uint16_t>(s << 4 | len);
        for (uint32_t i = codes[s]; i < size; i += 1u << len) table[i] = entry;
    }
    return true;
}

namespace {

// The block's tokens into out[start ..), reaching back as far as out[0]: the size its header
// gives (at most room and within capacity) in *size, its flags in *flags; the filter is not undone.
Status DecodeLzTokens(const uint8_t* body, uint32_t bodyBytes, uint32_t streamBits,
                      LzDecodeTables* tables, uint8_t* out, uint32_t start, uint32_t capacity,
                      uint32_t room, uint32_t distanceSymbols, uint32_t* size, uint32_t* flags) {
    using namespace format;
    CORRUPT_IF(streamBits > uint64_t{bodyBytes} * 8 || streamBits < kLzSizeBits + kLzFlagBits);
    LzStream in{body, 0, streamBits};
    *size = ReadBits(body, 0, kLzSizeBits);
    *flags = ReadBits(body, kLzSizeBits, kLzFlagBits);
    in.bitPos = kLzSizeBits + kLzFlagBits;
    // The x86-64 operands extend the x86 filter, and only blocks with history may use them.
    const uint32_t known =
        distanceSymbols == kLzHistoryDistanceSymbols ? kLzFilterX86 | kLzFilterX64 : kLzFilterX86;
    CORRUPT_IF(*size == 0 || *size > room || *size > capacity - start || (*flags & ~known) != 0 ||
               *flags == kLzFilterX64);

    const uint32_t end = start + *size;
    const uint32_t allLengths = kLzMainSymbols + kLzLengthSymbols + distanceSymbols;
    LzState state{start, {}};
    memcpy(state.recent, kLzInitialDistances, sizeof state.recent);
    while (state.o < end) {
        CORRUPT_IF(in.bitPos > in.limit);
        uint32_t tokens = ReadBits(body, in.bitPos, kLzSizeBits);
        in.bitPos += kLzSizeBits;
        CORRUPT_IF(tokens == 0);
        LzCodes codes;
        CORRUPT_IF(!ReadCodeLengths(&in, tables, allLengths));
        CORRUPT_IF(!BuildSegmentCodes(tables, distanceSymbols, &codes));
        CORRUPT_IF(!DecodeTokens(&in, codes, tokens, &state, out, end, capacity));
    }
    CORRUPT_IF(in.bitPos != streamBits);
    return Status::Ok;
}

}  // namespace

Status DecodeLzBlock(const uint8_t* body, uint32_t bodyBytes, uint32_t streamBits,
                     LzDecodeTables* tables, uint8_t* out, uint32_t outCapacity,
                     uint32_t* produced) {
    uint32_t size = 0, flags = 0;
    Status status = DecodeLzTokens(body, bodyBytes, streamBits, tables, out, 0, outCapacity,
                                   outCapacity, format::kLzDistanceSymbols, &size, &flags);
    if (status != Status::Ok) return status;
    if ((flags & format::kLzFilterX86) != 0) format::LzFilterX86(out, size, false);
    *produced = size;
    return Status::Ok;
}

Status DecodeLzHistoryBlock(const uint8_t* body, uint32_t bodyBytes, uint32_t streamBits,
                            LzDecodeTables* tables, LzHistory* history, uint32_t room,
                            uint8_t* staging, const uint8_t** output, uint32_t* produced) {
    uint32_t size = 0, flags = 0;
    Status status =
        DecodeLzTokens(body, bodyBytes, streamBits, tables, history->bytes, history->filled,
                       history->capacity, room, format::kLzHistoryDistanceSymbols, &size, &flags);
    if (status != Status::Ok) return status;
    uint8_t* block = history->bytes + history->filled;
    history->filled += size;
    *output = block;
    *produced = size;
    // The history keeps the bytes as the matches saw them; the filter is undone in a copy.
    if ((flags & format::kLzFilterX86) != 0) {
        memcpy(staging, block, size);
        format::LzFilterX86(staging, size, false, (flags & format::kLzFilterX64) != 0);
        *output = staging;
    }
    return Status::Ok;
}

}  // namespace codec
