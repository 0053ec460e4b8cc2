// SHA-256 against the published vectors of FIPS 180-4's examples and RFC 6234 (the three-byte,
// the 448-bit and the million-"a" messages), each fed whole and in uneven slices, so that the
// block buffer's edges are crossed in every way.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "hex.h"

namespace {

struct Vector {
    std::string message;
    const char* digest;
};

TEST(Sha256, PublishedVectorsWholeAndInSlices) {
    const Vector vectors[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    };
    for (const Vector& v : vectors) {
        uint8_t digest[kSha256Bytes];
        Sha256Hash(v.message.data(), v.message.size(), digest);
        EXPECT_EQ(ToHex(digest, sizeof digest), v.digest) << v.message.size() << " bytes whole";
        for (size_t slice : {1u, 55u, 63u, 64u, 65u, 4099u}) {
            Sha256 sha;
            for (size_t at = 0; at < v.message.size(); at += slice) {
                sha.Update(v.message.data() + at, std::min(slice, v.message.size() - at));
            }
            sha.Final(digest);
            EXPECT_EQ(ToHex(digest, sizeof digest), v.digest) << "in slices of " << slice;
        }
    }
}

}  // namespace
