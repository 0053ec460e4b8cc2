// BLAKE2b against RFC 7693 appendix A and Argon2id against RFC 9106 section 5.3, plus the rules
// around them: incremental hashing at every split, parameter bounds and work areas. H' of every
// length class is checked through Argon2id tags in the cross-check with argon2-cffi.
#include <gtest/gtest.h>

#include <cstdlib>

#include "crypto/argon2.h"
#include "crypto/blake2b.h"
#include "hex.h"

namespace {

const char kBlake2b512OfAbc[] =
    "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
    "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923";

// RFC 9106 section 5.3: m = 32 KiB, t = 3, p = 4, tag 32 bytes.
const char kArgon2idTag[] = "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659";

struct Argon2Vector {
    Bytes password = Bytes(32, 0x01), salt = Bytes(16, 0x02), secret = Bytes(8, 0x03),
          ad = Bytes(12, 0x04);
    Argon2Inputs Inputs() const {
        return {password.data(), password.size(), salt.data(), salt.size(),
                secret.data(),   secret.size(),   ad.data(),   ad.size()};
    }
};

TEST(Blake2b, MatchesRfc7693Abc) {
    uint8_t digest[64];
    ASSERT_TRUE(Blake2bHash(digest, sizeof digest, "abc", 3));
    EXPECT_EQ(ToHex(digest, sizeof digest), kBlake2b512OfAbc);
}

// Fed in two parts split at every offset, with and without a key, around the block boundaries.
TEST(Blake2b, IncrementalEqualsOneShotAtEverySplit) {
    Bytes message(300);
    for (size_t i = 0; i < message.size(); ++i) message[i] = uint8_t(i * 7);
    const Bytes key(64, 0x5c);
    for (size_t keyLength : {size_t(0), size_t(1), size_t(64)}) {
        uint8_t whole[40], split[40];
        ASSERT_TRUE(Blake2bHash(whole, sizeof whole, message.data(), message.size(), key.data(),
                                keyLength));
        for (size_t at = 0; at <= message.size(); ++at) {
            Blake2b hash;
            ASSERT_TRUE(hash.Init(sizeof split, key.data(), keyLength));
            hash.Update(message.data(), at);
            hash.Update(message.data() + at, message.size() - at);
            hash.Final(split);
            ASSERT_EQ(ToHex(split, sizeof split), ToHex(whole, sizeof whole)) << at;
        }
    }
}

TEST(Blake2b, RefusesLengthsOutsideTheParameterBlock) {
    Blake2b hash;
    const uint8_t key[65] = {};
    EXPECT_FALSE(hash.Init(0));
    EXPECT_FALSE(hash.Init(65));
    EXPECT_FALSE(hash.Init(32, key, 65));
    EXPECT_TRUE(hash.Init(1, key, 64));
    uint8_t digest[1];
    EXPECT_FALSE(Blake2bLong(digest, 0, key, 1));
}

TEST(Argon2id, MatchesRfc9106Vector) {
    const Argon2Vector v;
    const Argon2Params params{32, 3, 4};
    ASSERT_EQ(Argon2idWorkBytes(params), 32u * 1024);
    uint8_t tag[32];
    ASSERT_EQ(Argon2idAllocating(params, v.Inputs(), 32 * 1024, tag, sizeof tag), Argon2Status::Ok);
    EXPECT_EQ(ToHex(tag, sizeof tag), kArgon2idTag);
}

// Memory rounds down to whole segments: 35 KiB over 4 lanes is the RFC's 32 KiB of blocks, but m
// itself enters H0, so the tag differs.
TEST(Argon2id, WorkAreaIsWholeSegmentsAndWipedAfterwards) {
    const Argon2Vector v;
    const Argon2Params params{35, 3, 4};
    ASSERT_EQ(Argon2idWorkBytes(params), 32u * 1024);
    uint64_t* work = static_cast<uint64_t*>(std::malloc(32 * 1024));
    uint8_t tag[32];
    ASSERT_EQ(Argon2id(params, v.Inputs(), work, 32 * 1024, tag, sizeof tag), Argon2Status::Ok);
    EXPECT_NE(ToHex(tag, sizeof tag), kArgon2idTag);
    bool allZero = true;
    for (size_t i = 0; i < 32 * 1024 / 8; ++i) allZero &= work[i] == 0;
    EXPECT_TRUE(allZero);
    EXPECT_EQ(Argon2id(params, v.Inputs(), work, 32 * 1024 - 1, tag, sizeof tag),
              Argon2Status::WorkAreaTooSmall);
    EXPECT_EQ(Argon2id(params, v.Inputs(), reinterpret_cast<uint8_t*>(work) + 1, 32 * 1024 - 1, tag,
                       sizeof tag),
              Argon2Status::WorkAreaTooSmall);
    std::free(work);
}

TEST(Argon2id, RefusesParametersOutsideTheirRanges) {
    const Argon2Vector v;
    uint8_t tag[64];
    const struct {
        Argon2Params params;
        uint32_t tagLength;
        size_t maxWork;
    } refused[] = {
        {{31, 3, 4}, 32, 1 << 20},                // fewer than 8 KiB per lane
        {{32, 0, 4}, 32, 1 << 20},                // no pass
        {{32, 3, 0}, 32, 1 << 20},                // no lane
        {{1u << 30, 3, 1u << 24}, 32, SIZE_MAX},  // more than 2^24 - 1 lanes
        {{32, 3, 4}, 3, 1 << 20},                 // tag shorter than 4 bytes
        {{64, 1, 1}, 32, 63 * 1024},              // more memory than the caller allows
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Argon2idAllocating(r.params, v.Inputs(), r.maxWork, tag, r.tagLength),
                  Argon2Status::BadParameters)
            << r.params.memoryKiB << " " << r.params.passes << " " << r.params.lanes;
    }
    EXPECT_EQ(Argon2idAllocating({64, 1, 1}, v.Inputs(), 64 * 1024, tag, 4), Argon2Status::Ok);
}

}  // namespace
