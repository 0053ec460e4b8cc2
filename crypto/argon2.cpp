// Argon2id as RFC 9106 section 3 describes it: H0 from the inputs, the first two blocks of each
// lane from H', then t passes over the memory in four slices, each block the compression G of its
// predecessor and a reference block; the first half of the first pass picks references from
// address blocks (independent of the password), the rest from the previous block's first word.
#include "crypto/argon2.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/blake2b.h"
#include "crypto/secure_memory.h"
#include "format/byte_order.h"

namespace {

constexpr uint32_t kVersion = 0x13;
constexpr uint32_t kTypeArgon2id = 2;
constexpr uint32_t kSyncPoints = 4;
constexpr size_t kWords = kArgon2BlockBytes / 8;

struct Block {
    uint64_t v[kWords];
};

// The shape of the memory: lanes of laneLength blocks, each lane four segments long.
struct Geometry {
    uint32_t lanes;
    uint32_t laneLength;
    uint32_t segmentLength;
    uint32_t blocks;
    uint32_t passes;
};

inline uint64_t Rotr(uint64_t v, int n) {
    return v >> n | v << (64 - n);
}

// BLAKE2b's G with each addition a + b replaced by a + b + 2 * lo32(a) * lo32(b).
inline uint64_t MulAdd(uint64_t a, uint64_t b) {
    return a + b + 2 * (a & 0xFFFFFFFF) * (b & 0xFFFFFFFF);
}

inline void Gb(uint64_t& a, uint64_t& b, uint64_t& c, uint64_t& d) {
    a = MulAdd(a, b);
    d = Rotr(d ^ a, 32);
    c = MulAdd(c, d);
    b = Rotr(b ^ c, 24);
    a = MulAdd(a, b);
    d = Rotr(d ^ a, 16);
    c = MulAdd(c, d);
    b = Rotr(b ^ c, 63);
}

// The permutation P over sixteen words of a block: row r is words 16r to 16r + 15, column c the
// pairs 2c + 16k and 2c + 16k + 1 for k = 0..7. base points at the first word of either.
template <bool kColumn>
inline void Permute(uint64_t* base) {
    auto w = [base](int k) -> uint64_t& { return kColumn ? base[k / 2 * 16 + k % 2] : base[k]; };
    Gb(w(0), w(4), w(8), w(12));
    Gb(w(1), w(5), w(9), w(13));
    Gb(w(2), w(6), w(10), w(14));
    Gb(w(3), w(7), w(11), w(15));
    Gb(w(0), w(5), w(10), w(15));
    Gb(w(1), w(6), w(11), w(12));
    Gb(w(2), w(7), w(8), w(13));
    Gb(w(3), w(4), w(9), w(14));
}

// G(x, y) = P(x ^ y) ^ x ^ y, written to out, or XORed into it (later passes of version 0x13).
void Compress(Block* out, const Block& x, const Block& y, bool xorInto) {
    Block r, z;
    for (size_t k = 0; k < kWords; ++k) r.v[k] = x.v[k] ^ y.v[k];
    z = r;
    for (int row = 0; row < 8; ++row) Permute<false>(z.v + 16 * row);
    for (int column = 0; column < 8; ++column) Permute<true>(z.v + 2 * column);
    if (xorInto) {
        for (size_t k = 0; k < kWords; ++k) out->v[k] ^= z.v[k] ^ r.v[k];
    } else {
        for (size_t k = 0; k < kWords; ++k) out->v[k] = z.v[k] ^ r.v[k];
    }
}

void LoadBlock(Block* block, const uint8_t bytes[kArgon2BlockBytes]) {
    for (size_t k = 0; k < kWords; ++k) block->v[k] = format::LoadLE64(bytes + 8 * k);
}

void StoreBlock(uint8_t bytes[kArgon2BlockBytes], const Block& block) {
    for (size_t k = 0; k < kWords; ++k) format::StoreLE64(bytes + 8 * k, block.v[k]);
}

bool MakeGeometry(const Argon2Params& p, Geometry* g) {
    if (p.lanes == 0 || p.lanes > kArgon2MaxLanes || p.passes == 0) return false;
    if (p.memoryKiB < 8 * p.lanes) return false;
    g->lanes = p.lanes;
    g->segmentLength = p.memoryKiB / (kSyncPoints * p.lanes);
    g->laneLength = g->segmentLength * kSyncPoints;
    g->blocks = g->laneLength * p.lanes;
    g->passes = p.passes;
    return true;
}

void HashLength(Blake2b& hash, size_t length) {
    uint8_t le[4];
    format::StoreLE32(le, static_cast<uint32_t>(length));
    hash.Update(le, sizeof le);
}

// H0: the 64-byte digest of the parameters and inputs, each string preceded by its length.
void InitialHash(uint8_t h0[64], const Argon2Params& p, const Argon2Inputs& in,
                 uint32_t tagLength) {
    Blake2b hash;
    hash.Init(64);
    const uint32_t words[] = {p.lanes, tagLength, p.memoryKiB, p.passes, kVersion, kTypeArgon2id};
    for (uint32_t w : words) HashLength(hash, w);
    const uint8_t* strings[] = {in.password, in.salt, in.secret, in.associatedData};
    const size_t lengths[] = {in.passwordLength, in.saltLength, in.secretLength,
                              in.associatedDataLength};
    for (int i = 0; i < 4; ++i) {
        HashLength(hash, lengths[i]);
        if (lengths[i]) hash.Update(strings[i], lengths[i]);
    }
    hash.Final(h0);
}

void FirstBlocks(Block* memory, const Geometry& g, const uint8_t h0[64]) {
    uint8_t suffix[8];
    uint8_t bytes[kArgon2BlockBytes];
    for (uint32_t lane = 0; lane < g.lanes; ++lane) {
        for (uint32_t column = 0; column < 2; ++column) {
            format::StoreLE32(suffix, column);
            format::StoreLE32(suffix + 4, lane);
            Blake2bLong(bytes, kArgon2BlockBytes, h0, 64, suffix, sizeof suffix);
            LoadBlock(&memory[size_t(lane) * g.laneLength + column], bytes);
        }
    }
    SecureWipe(bytes, sizeof bytes);
}

// Where a segment stands, and the address generator that Argon2i-style indexing uses.
struct Position {
    uint32_t pass;
    uint32_t lane;
    uint32_t slice;
};

void NextAddresses(Block* addresses, Block* input, const Block& zero) {
    ++input->v[6];
    Compress(addresses, zero, *input, false);
    Compress(addresses, zero, *addresses, false);
}

// The reference block's column in its lane (RFC 9106 section 3.4.2).
uint32_t ReferenceColumn(const Geometry& g, const Position& pos, uint32_t index, uint32_t j1,
                         bool sameLane) {
    // The blocks finished so far that may be referenced: in the first pass the earlier slices, in
    // later ones the other three; in its own lane also this segment's blocks before the previous.
    uint64_t areaSize = pos.pass == 0 ? uint64_t(pos.slice) * g.segmentLength
                                      : uint64_t(g.laneLength) - g.segmentLength;
    if (sameLane) {
        areaSize += index;
        areaSize -= 1;
    } else if (index == 0) {
        areaSize -= 1;
    }
    const uint64_t x = (uint64_t(j1) * j1) >> 32;
    const uint64_t y = (areaSize * x) >> 32;
    const uint64_t relative = areaSize - 1 - y;
    uint64_t start = 0;
    if (pos.pass != 0 && pos.slice != kSyncPoints - 1) start = (pos.slice + 1) * g.segmentLength;
    return static_cast<uint32_t>((start + relative) % g.laneLength);
}

void FillSegment(Block* memory, const Geometry& g, const Position& pos) {
    const bool independent = pos.pass == 0 && pos.slice < kSyncPoints / 2;
    Block zero{}, input{}, addresses{};
    if (independent) {
        const uint64_t fields[] = {pos.pass, pos.lane, pos.slice,
                                   g.blocks, g.passes, kTypeArgon2id};
        for (int k = 0; k < 6; ++k) input.v[k] = fields[k];
    }
    const uint32_t startIndex = (pos.pass == 0 && pos.slice == 0) ? 2 : 0;
    if (independent && startIndex != 0) NextAddresses(&addresses, &input, zero);
    Block* lane = memory + size_t(pos.lane) * g.laneLength;
    for (uint32_t index = startIndex; index < g.segmentLength; ++index) {
        const uint32_t column = pos.slice * g.segmentLength + index;
        const Block& previous = lane[column == 0 ? g.laneLength - 1 : column - 1];
        uint64_t pseudoRandom;
        if (independent) {
            if (index % kWords == 0) NextAddresses(&addresses, &input, zero);
            pseudoRandom = addresses.v[index % kWords];
        } else {
            pseudoRandom = previous.v[0];
        }
        uint32_t refLane = static_cast<uint32_t>((pseudoRandom >> 32) % g.lanes);
        if (pos.pass == 0 && pos.slice == 0) refLane = pos.lane;
        const uint32_t refColumn =
            ReferenceColumn(g, pos, index, uint32_t(pseudoRandom), refLane == pos.lane);
        const Block& reference = memory[size_t(refLane) * g.laneLength + refColumn];
        Compress(&lane[column], previous, reference, pos.pass != 0);
    }
}

void FinalTag(const Block* memory, const Geometry& g, uint8_t* tag, uint32_t tagLength) {
    Block last = memory[g.laneLength - 1];
    for (uint32_t l = 1; l < g.lanes; ++l) {
        const Block& b = memory[size_t(l) * g.laneLength + g.laneLength - 1];
        for (size_t k = 0; k < kWords; ++k) last.v[k] ^= b.v[k];
    }
    uint8_t bytes[kArgon2BlockBytes];
    StoreBlock(bytes, last);
    Blake2bLong(tag, tagLength, bytes, sizeof bytes);
    SecureWipe(bytes, sizeof bytes);
    SecureWipe(&last, sizeof last);
}

}  // namespace

size_t Argon2idWorkBytes(const Argon2Params& params) {
    Geometry g;
    if (!MakeGeometry(params, &g)) return 0;
    const uint64_t bytes = uint64_t(g.blocks) * kArgon2BlockBytes;
    // A 32-bit host cannot address 4 GiB or more.
    return static_cast<size_t>(bytes) == bytes ? static_cast<size_t>(bytes) : 0;
}

Argon2Status Argon2id(const Argon2Params& params, const Argon2Inputs& inputs, void* work,
                      size_t workBytes, uint8_t* tag, uint32_t tagLength) {
    Geometry g;
    if (!MakeGeometry(params, &g) || tagLength < kArgon2MinTagBytes || !tag) {
        return Argon2Status::BadParameters;
    }
    const uint64_t lengths[] = {inputs.passwordLength, inputs.saltLength, inputs.secretLength,
                                inputs.associatedDataLength};
    for (uint64_t length : lengths) {
        if (length > 0xFFFFFFFFu) return Argon2Status::BadParameters;
    }
    const size_t needed = Argon2idWorkBytes(params);
    if (needed == 0) return Argon2Status::BadParameters;
    if (!work || workBytes < needed || reinterpret_cast<uintptr_t>(work) % alignof(Block) != 0) {
        return Argon2Status::WorkAreaTooSmall;
    }
    Block* memory = static_cast<Block*>(work);
    uint8_t h0[64];
    InitialHash(h0, params, inputs, tagLength);
    FirstBlocks(memory, g, h0);
    SecureWipe(h0, sizeof h0);
    for (uint32_t pass = 0; pass < g.passes; ++pass) {
        for (uint32_t slice = 0; slice < kSyncPoints; ++slice) {
            for (uint32_t lane = 0; lane < g.lanes; ++lane) {
                FillSegment(memory, g, Position{pass, lane, slice});
            }
        }
    }
    FinalTag(memory, g, tag, tagLength);
    SecureWipe(work, needed);
    return Argon2Status::Ok;
}

Argon2Status Argon2idAllocating(const Argon2Params& params, const Argon2Inputs& inputs,
                                size_t maxWorkBytes, uint8_t* tag, uint32_t tagLength) {
    const size_t bytes = Argon2idWorkBytes(params);
    if (bytes == 0 || bytes > maxWorkBytes) return Argon2Status::BadParameters;
    void* work = std::malloc(bytes);
    if (!work) return Argon2Status::OutOfMemory;
    const Argon2Status status = Argon2id(params, inputs, work, bytes, tag, tagLength);
    std::free(work);
    return status;
}
