// Decoding of one compressed block: body header, the four weight tables, and the token loop that
// rebuilds the output from literals and context matches. Corrupt or hostile bodies end with status
// 3 and never make the loop read or write outside the body, its read slack, or the output area.
#include "codec/compressed_block_decoder.h"

#include <cstring>

#include "codec/bit_reader.h"
#include "codec/code_tree.h"
#include "format/block.h"
#include "format/failed_check.h"

namespace codec {

namespace {

using format::Status;

struct BlockCoding {
    SymbolTable flags;
    SymbolTable literals;
    SymbolTable lengths;
    SymbolTable selectors;
    CodeTree flagTree;
    CodeTree literalTree;
    CodeTree lengthTree;
    CodeTree selectorTree;

    void Release() {
        flagTree.Destroy();
        literalTree.Destroy();
        lengthTree.Destroy();
        selectorTree.Destroy();
        flags.Release();
        literals.Release();
        lengths.Release();
        selectors.Release();
    }
};

// Symbols of fixed width, or (symbolBits == 0 with growingSymbols) growing-width integers.
Status ReadSymbolTable(const uint8_t* body, uint32_t* bitPos, uint32_t bitLimit, SymbolTable* table,
                       int32_t entries, uint32_t symbolBits, bool growingSymbols) {
    for (int32_t i = 0; i < entries; ++i) {
        CORRUPT_IF(*bitPos > bitLimit);
        uint32_t symbol;
        if (growingSymbols) {
            symbol = ReadGrowingInt(body, bitPos);
            CORRUPT_IF(symbol == 0 || *bitPos > bitLimit);
        } else {
            symbol = ReadBits(body, *bitPos, symbolBits);
            *bitPos += symbolBits;
        }
        uint32_t weight = ReadGrowingInt(body, bitPos);
        CORRUPT_IF(weight == 0);
        table->entries[i].symbol = symbol;
        table->entries[i].weight = weight;
    }
    CORRUPT_IF(*bitPos > bitLimit);
    return Status::Ok;
}

// A head's entry count (at most 65535) as a table's length.
int32_t Entries(uint32_t count) {
    return static_cast<int32_t>(count);
}

// The tables and trees of a block in the storage the context table lends, where they fit.
bool CreateIn(BlockCodeStorage* storage, const format::CompressedHead& head, BlockCoding* coding) {
    BlockCodeStorage& s = *storage;
    const auto count = [](const auto& array) {
        return static_cast<int32_t>(sizeof array / sizeof array[0]);
    };
    coding->flagTree.Lend(s.flagNodes, count(s.flagNodes), s.tables[0]);
    coding->literalTree.Lend(s.literalNodes, count(s.literalNodes), s.tables[1]);
    coding->lengthTree.Lend(s.lengthNodes, count(s.lengthNodes), s.tables[2]);
    coding->selectorTree.Lend(s.selectorNodes, count(s.selectorNodes), s.tables[3]);
    // Each table as long as the block's own: every entry is read, and a longer table would only
    // add entries of weight 0 for the tree to pass over.
    return coding->flags.CreateIn(s.flagSymbols, count(s.flagSymbols), Entries(head.flagEntries)) &&
           coding->selectors.CreateIn(s.selectorSymbols, count(s.selectorSymbols),
                                      Entries(head.selectorEntries)) &&
           coding->literals.CreateIn(s.literalSymbols, count(s.literalSymbols),
                                     Entries(head.literalEntries)) &&
           coding->lengths.CreateIn(s.lengthSymbols, count(s.lengthSymbols),
                                    Entries(head.lengthEntries));
}

Status ReadTablesAndBuildTrees(const uint8_t* body, uint32_t* bitPos, uint32_t bitLimit,
                               const format::CompressedHead& head, BlockCodeStorage* storage,
                               BlockCoding* coding) {
    if (!CreateIn(storage, head, coding)) return Status::NoMemory;
    Status status = ReadSymbolTable(body, bitPos, bitLimit, &coding->flags,
                                    Entries(head.flagEntries), 4, false);
    if (status == Status::Ok) {
        status = ReadSymbolTable(body, bitPos, bitLimit, &coding->literals,
                                 Entries(head.literalEntries), head.literalWidth, false);
    }
    if (status == Status::Ok) {
        status = ReadSymbolTable(body, bitPos, bitLimit, &coding->lengths,
                                 Entries(head.lengthEntries), 0, true);
    }
    if (status == Status::Ok) {
        status = ReadSymbolTable(body, bitPos, bitLimit, &coding->selectors,
                                 Entries(head.selectorEntries), 4, false);
    }
    if (status == Status::Ok) status = coding->flagTree.Build(coding->flags, SMALL_TABLE_BITS);
    if (status == Status::Ok) status = coding->literalTree.Build(coding->literals);
    if (status == Status::Ok) status = coding->lengthTree.Build(coding->lengths);
    if (status == Status::Ok) {
        status = coding->selectorTree.Build(coding->selectors, SMALL_TABLE_BITS);
    }
    return status;
}

// The token loop reads through a 64-bit bit buffer: `bits` holds the next `count` stream bits,
// low bit first, and `next` is the first byte not yet loaded. A refill tops it up to 56..63 bits
// with one unaligned load; a token reads at most three codes of at most 25 bits, with one refill
// at its start and one before a match's selector. The stream position is (next - body) * 8 - count.
struct BitBuffer {
    const uint8_t* next;
    uint64_t bits;
    uint32_t count;

    void Refill() {
        bits |= format::LoadLE64(next) << count;
        next += (63 - count) >> 3;
        count |= 56;
    }
};

// Every tree of a kind has a table of the same bits, so the mask is a constant. The probe table is
// passed on its own so that the caller keeps its pointer in a register (byte stores to the output
// could alias anything reached through the tree), and the rare walk works on temporaries so that
// no variable of the loop has its address taken.
//
// Flag and selector symbols each serve several tokens, so whether a token needs a new one follows
// the data and a branch on it mispredicts often. Those are decoded with need computed per token:
// the table is probed every time and the symbol taken with selects; only a long code, which is
// rare, walks the tree. Without need, *symbol and the bits stay as they are.
template <uint32_t kTableBits = DECODE_TABLE_BITS>
inline bool DecodeIfNeeded(bool need, const CodeDecodeEntry* entries, const CodeTree& tree,
                           BitBuffer* in, uint32_t* symbol) {
    CodeDecodeEntry entry = entries[in->bits & ((1u << kTableBits) - 1)];
    uint32_t value = entry >> CODE_ENTRY_VALUE_SHIFT;
    uint32_t length = entry & CODE_ENTRY_LENGTH_MASK;
    if (__builtin_expect((entry & CODE_ENTRY_KIND_MASK) != 0, 0) && need) {
        uint32_t walked = 0;
        uint32_t walkedLength = 0;
        if (!WalkLongCode(tree, entry, in->bits, &walked, &walkedLength)) return false;
        value = walked;
        length = walkedLength;
    }
    *symbol = need ? value : *symbol;
    length = need ? length : 0;
    in->bits >>= length;
    in->count -= length;
    return true;
}

template <uint32_t kTableBits = DECODE_TABLE_BITS>
inline bool DecodeNext(const CodeDecodeEntry* entries, const CodeTree& tree, BitBuffer* in,
                       uint32_t* symbol) {
    return DecodeIfNeeded<kTableBits>(true, entries, tree, in, symbol);
}

// The next slot's stamp is always 0, so a literal's position goes there without reading or
// writing any stamp.
inline void StorePosition(ContextTable* table, uint32_t bucket, bool bucketUsed,
                          uint32_t position) {
    uint32_t* positions = table->position[bucket];
    if (__builtin_expect(!bucketUsed, 0)) {
        table->used[bucket >> 6] |= uint64_t{1} << (bucket & 63);
        positions[0] = position;
        positions[1] = positions[2] = positions[3] = 0;
        uint32_t* stamps = table->stamp[bucket];
        stamps[0] = stamps[1] = stamps[2] = stamps[3] = 0;
        return;
    }
    // Slot 0 holding the next-slot bits means the next slot is 0 exactly when they are 0, so a
    // store into slot 0 writes them back unchanged.
    positions[positions[0] >> NEXT_SLOT_SHIFT] = position;
}

// A match raises the stamp of the slot it used, which may move the replacement slot. The new
// position then goes there with stamp 0, which leaves that slot the choice for the next position.
inline void StoreAfterMatch(ContextTable* table, uint32_t bucket, uint32_t usedSlot,
                            uint32_t stampValue, uint32_t position) {
    uint32_t* stamps = table->stamp[bucket];
    stamps[usedSlot] = stampValue;
    uint32_t slot = ReplacementSlot(stamps[0], stamps[1], stamps[2], stamps[3]);
    stamps[slot] = 0;
    uint32_t* positions = table->position[bucket];
    positions[slot] = position;
    positions[0] = (positions[0] & POSITION_MASK) | (slot << NEXT_SLOT_SHIFT);
}

// Copies length bytes from out[source] to out[o] as if one byte at a time in increasing order,
// so a source fewer bytes back than the length repeats what it has just written. room is the
// space left in the output area from o on (at least length).
inline void CopyMatch(uint8_t* out, uint32_t o, uint32_t source, uint32_t length, uint32_t room) {
    uint8_t* dst = out + o;
    const uint8_t* src = out + source;
    uint32_t distance = o - source;
    if (distance >= 8 && room >= 16 && room - length >= 8) {
        // Whole 8-byte words, at least two whatever the length: most matches are short, and a
        // loop whose trip count follows the data mispredicts. The words may write up to 15 bytes
        // past the match, inside the area.
        memcpy(dst, src, 8);
        memcpy(dst + 8, src + 8, 8);
        for (uint32_t i = 16; i < length; i += 8) memcpy(dst + i, src + i, 8);
    } else if (distance == 1) {
        memset(dst, *src, length);
    } else {
        for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
    }
}

// The bucket a token at the position after history uses, and whether it has been written in this
// block. The used bits cover the whole index range, so an order-3 index that can never have been
// filled simply reads as unused.
struct BucketChoice {
    uint32_t bucket;
    bool used;
};

inline BucketChoice ChooseBucket(const ContextTable* table, uint32_t history) {
    uint32_t order2 = Order2Bucket(history);
    uint32_t order3 = Order3Bucket(history);
    bool used3 = table->IsUsed(order3);
    bool used2 = table->IsUsed(order2);
    return BucketChoice{used3 ? order3 : order2, used3 || used2};
}

// Everything the token loop reads through: the four trees and their probe tables, kept apart so
// that the loop holds the table pointers in registers (byte stores to the output could alias
// anything reached through a tree).
struct TokenCodes {
    const CodeTree& flagTree;
    const CodeTree& literalTree;
    const CodeTree& lengthTree;
    const CodeTree& selectorTree;
    const CodeDecodeEntry* flagTable;
    const CodeDecodeEntry* literalTable;
    const CodeDecodeEntry* lengthTable;
    const CodeDecodeEntry* selectorTable;
};

// The loop's state: the output position, the flag and selector symbols in use (each carries a
// marker bit above its 4 bits; once the marker is all that is left, every flag (1 bit) or selector
// (2 bits) of the symbol has been used), the next match's stamp and the three bytes before o (the
// oldest in bits 16-23). Passed to inline helpers by reference and never stored, so it stays in
// registers.
struct TokenState {
    uint32_t o;
    uint32_t flags;
    uint32_t selectors;
    uint32_t stampCounter;
    uint32_t history;
};

// A token refills at most twice, each time loading 8 bytes after advancing up to 7, so from the
// refill limit its loads stay inside the slack. Past it the stream position is already beyond the
// padded body, which the final check would report anyway: stopping early changes nothing.
static_assert(BODY_READ_SLACK >= 8 + 7 + 8, "read slack too small for a token's refills");

inline BitBuffer BitBufferAt(const uint8_t* body, uint32_t bitPos) {
    BitBuffer in;
    in.next = body + (bitPos >> 3);
    in.bits = 0;
    in.count = 0;
    in.Refill();
    in.bits >>= bitPos & 7;
    in.count -= bitPos & 7;
    return in;
}

// The first three bytes have no context: only literals can produce them, and they store no
// position. Splitting them off keeps the "o >= 3" tests out of the main loop. Returns the tokens
// consumed, or -1 for corrupt data.
__attribute__((always_inline)) inline int64_t DecodeOpeningLiterals(
    const TokenCodes& codes, BitBuffer& in, const uint8_t* refillLimit, uint32_t tokenCount,
    uint8_t* out, uint32_t outCapacity, TokenState& state) {
    uint32_t token = 0;
    for (; token < tokenCount && state.o < 3; ++token) {
        if (in.next > refillLimit) return -1;
        in.Refill();
        if (state.flags == 1) {
            if (!DecodeNext<SMALL_TABLE_BITS>(codes.flagTable, codes.flagTree, &in, &state.flags)) {
                return -1;
            }
            state.flags |= 0x10;
        }
        uint32_t isMatch = state.flags & 1;
        state.flags >>= 1;
        if (isMatch != 0) return -1;
        uint32_t literal;
        if (!DecodeNext(codes.literalTable, codes.literalTree, &in, &literal)) return -1;
        if (state.o >= outCapacity) return -1;
        literal &= 0xFF;
        out[state.o++] = static_cast<uint8_t>(literal);
        state.history = (state.history << 8) | literal;
    }
    return token;
}

// Four literals in a row, the commonest group: no flag tests, no output bound per byte, and a
// refill only when fewer bits are left than a code can take. The caller has checked that four
// tokens remain and that four bytes fit; choice is the first literal's bucket.
__attribute__((always_inline)) inline bool DecodeFourLiterals(
    const TokenCodes& codes, BitBuffer& in, const uint8_t* refillLimit, ContextTable* table,
    BucketChoice choice, uint8_t* out, TokenState& state) {
    for (uint32_t i = 0;;) {
        uint32_t literal;
        if (!DecodeNext(codes.literalTable, codes.literalTree, &in, &literal)) return false;
        literal &= 0xFF;
        out[state.o] = static_cast<uint8_t>(literal);
        StorePosition(table, choice.bucket, choice.used, state.o);
        ++state.o;
        state.history = (state.history << 8) | literal;
        if (++i == 4) return true;
        if (in.count < MAX_CODE_LENGTH) {
            if (in.next > refillLimit) return false;
            in.Refill();
        }
        choice = ChooseBucket(table, state.history);
    }
}

Status DecodeTokens(const uint8_t* body, uint32_t bodyBytes, uint32_t bitPos, uint32_t bitLimit,
                    uint32_t tokenCount, const BlockCoding& coding, ContextTable* table,
                    uint8_t* out, uint32_t outCapacity, uint32_t* produced, uint32_t* bitsUsed) {
    const TokenCodes codes{coding.flagTree,         coding.literalTree,
                           coding.lengthTree,       coding.selectorTree,
                           coding.flagTree.table,   coding.literalTree.table,
                           coding.lengthTree.table, coding.selectorTree.table};
    BitBuffer in = BitBufferAt(body, bitPos);
    const uint8_t* const refillLimit = body + bodyBytes + 8;
    TokenState state{0, 1, 1, FIRST_MATCH_STAMP, 0};

    int64_t opening =
        DecodeOpeningLiterals(codes, in, refillLimit, tokenCount, out, outCapacity, state);
    CORRUPT_IF(opening < 0);

    for (uint32_t left = tokenCount - static_cast<uint32_t>(opening); left != 0; --left) {
        CORRUPT_IF(in.next > refillLimit);
        in.Refill();
        BucketChoice choice = ChooseBucket(table, state.history);

        bool needFlags = state.flags == 1;
        uint32_t freshFlags = 0;
        CORRUPT_IF(!DecodeIfNeeded<SMALL_TABLE_BITS>(needFlags, codes.flagTable, codes.flagTree,
                                                     &in, &freshFlags));
        // After a shift the marker sits below bit 4, so 0x10 is a new symbol of 0.
        state.flags = needFlags ? freshFlags | 0x10 : state.flags;
        if (state.flags == 0x10 && left >= 4 && outCapacity - state.o >= 4) {
            CORRUPT_IF(!DecodeFourLiterals(codes, in, refillLimit, table, choice, out, state));
            left -= 3;
            state.flags = 1;
            continue;
        }
        uint32_t isMatch = state.flags & 1;
        state.flags >>= 1;

        if (isMatch == 0) {
            uint32_t literal;
            CORRUPT_IF(!DecodeNext(codes.literalTable, codes.literalTree, &in, &literal));
            CORRUPT_IF(state.o >= outCapacity);
            literal &= 0xFF;
            out[state.o] = static_cast<uint8_t>(literal);
            StorePosition(table, choice.bucket, choice.used, state.o);
            ++state.o;
            state.history = (state.history << 8) | literal;
            continue;
        }

        uint32_t length;
        CORRUPT_IF(!DecodeNext(codes.lengthTable, codes.lengthTree, &in, &length));
        in.Refill();
        bool needSelectors = state.selectors == 1;
        uint32_t freshSelectors = 0;
        CORRUPT_IF(!DecodeIfNeeded<SMALL_TABLE_BITS>(needSelectors, codes.selectorTable,
                                                     codes.selectorTree, &in, &freshSelectors));
        state.selectors = needSelectors ? freshSelectors | 0x10 : state.selectors;
        uint32_t slot = state.selectors & 3;
        state.selectors >>= 2;

        // An unwritten bucket has no positions.
        CORRUPT_IF(!choice.used);
        uint32_t source = table->position[choice.bucket][slot] & POSITION_MASK;
        StoreAfterMatch(table, choice.bucket, slot, state.stampCounter++, state.o);

        CORRUPT_IF(source == 0);
        CORRUPT_IF(length > outCapacity - state.o);
        if (length == 0) continue;
        // Only a length-0 match stores a position equal to o, and then every length is 0; a
        // source at or past o would read bytes the block has not produced.
        CORRUPT_IF(source >= state.o);
        CopyMatch(out, state.o, source, length, outCapacity - state.o);
        // The three bytes before the new o. A match of at least three bytes ends with the same
        // bytes as its source (the copy goes as if byte by byte), and unless it overlaps itself
        // those were written long ago: reading them there does not wait for the copy's stores
        // to reach the load. A shorter match's are read behind the new o, which is at least 4
        // here. The byte before the context lands in bits 24-31, which the hashes never look at.
        const uint32_t historyEnd = length >= 3 ? source + length : state.o + length;
        state.o += length;
        state.history = __builtin_bswap32(format::LoadLE32(out + historyEnd - 4));
    }
    uint32_t position = static_cast<uint32_t>(in.next - body) * 8 - in.count;
    CORRUPT_IF(position > bitLimit);
    *produced = state.o;
    *bitsUsed = position;
    return Status::Ok;
}

}  // namespace

Status DecodeCompressedBlock(const uint8_t* body, uint32_t bodyBytes, ContextTable* table,
                             uint8_t* out, uint32_t outCapacity, uint32_t* produced,
                             uint32_t* bitsUsed) {
    *produced = 0;
    // Bits beyond the padded body are never stream bits; the limit keeps reads inside the slack.
    uint64_t limit64 = static_cast<uint64_t>(bodyBytes) * 8;
    CORRUPT_IF(limit64 > 0xFFFFFF00u);
    uint32_t bitLimit = static_cast<uint32_t>(limit64);

    memset(table->used, 0, sizeof table->used);
    // Positions share their word with the next-slot bits; no valid block comes near this size.
    if (outCapacity > POSITION_MASK) outCapacity = POSITION_MASK;

    // The head lies within the read slack even when the body is shorter.
    const format::CompressedHead head = format::DecodeCompressedHead(body);
    uint32_t bitPos = format::kCompressedHeadBits;
    CORRUPT_IF(bitPos > bitLimit);

    BlockCoding coding;
    memset(&coding, 0, sizeof coding);
    Status status = ReadTablesAndBuildTrees(body, &bitPos, bitLimit, head, &table->codes, &coding);
    uint32_t bitsRead = bitPos;
    if (status == Status::Ok && head.tokenCount != 0) {
        status = DecodeTokens(body, bodyBytes, bitPos, bitLimit, head.tokenCount, coding, table,
                              out, outCapacity, produced, &bitsRead);
    }
    coding.Release();
    if (status == Status::Ok && bitsUsed != nullptr) *bitsUsed = bitsRead;
    return status;
}

}  // namespace codec
