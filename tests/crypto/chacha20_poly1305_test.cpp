// ChaCha20, Poly1305 and their AEAD against every vector of RFC 8439 (sections 2.3.2 to 2.8.2 and
// appendix A), XChaCha20-Poly1305 against draft-irtf-cfrg-xchacha, and the AEAD's refusal of
// any changed byte without writing plaintext.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "crypto/aead.h"
#include "crypto/chacha20.h"
#include "crypto/poly1305.h"
#include "hex.h"

namespace {

struct BlockCase {
    const char* name;
    const char* key;
    uint32_t counter;
    const char* nonce;
    const char* keystream;
};
struct CipherCase {
    const char* name;
    const char* key;
    uint32_t counter;
    const char* nonce;
    const char* plain;
    const char* cipher;
};
struct MacCase {
    const char* name;
    const char* key;
    const char* message;
    const char* tag;
};
struct AeadCase {
    const char* name;
    const char* key;
    const char* nonce;
    const char* aad;
    const char* plain;
    const char* cipher;
    const char* tag;
};

const char kSunscreen[] =
    "4c616469657320616e642047656e746c656d656e206f662074686520636c6173"
    "73206f66202739393a204966204920636f756c64206f6666657220796f75206f"
    "6e6c79206f6e652074697020666f7220746865206675747572652c2073756e73"
    "637265656e20776f756c642062652069742e";
const char kIetfText[] =
    "416e79207375626d697373696f6e20746f20746865204945544620696e74656e"
    "6465642062792074686520436f6e7472696275746f7220666f72207075626c69"
    "636174696f6e20617320616c6c206f722070617274206f6620616e2049455446"
    "20496e7465726e65742d4472616674206f722052464320616e6420616e792073"
    "746174656d656e74206d6164652077697468696e2074686520636f6e74657874"
    "206f6620616e204945544620616374697669747920697320636f6e7369646572"
    "656420616e20224945544620436f6e747269627574696f6e222e205375636820"
    "73746174656d656e747320696e636c756465206f72616c2073746174656d656e"
    "747320696e20494554462073657373696f6e732c2061732077656c6c20617320"
    "7772697474656e20616e6420656c656374726f6e696320636f6d6d756e696361"
    "74696f6e73206d61646520617420616e792074696d65206f7220706c6163652c"
    "207768696368206172652061646472657373656420746f";
const char kJabberwocky[] =
    "2754776173206272696c6c69672c20616e642074686520736c6974687920746f"
    "7665730a446964206779726520616e642067696d626c6520696e207468652077"
    "6162653a0a416c6c206d696d737920776572652074686520626f726f676f7665"
    "732c0a416e6420746865206d6f6d65207261746873206f757467726162652e";
// Keystream blocks, and the Poly1305 keys of 2.6.2 and A.4: the first 32 bytes of block 0.
const BlockCase kBlockCases[] = {
    {"2.3.2", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", 1,
     "000000090000004a00000000",
     "10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
     "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e"},
    {"A.1 #1", "0000000000000000000000000000000000000000000000000000000000000000", 0,
     "000000000000000000000000",
     "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
     "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"},
    {"A.1 #2", "0000000000000000000000000000000000000000000000000000000000000000", 1,
     "000000000000000000000000",
     "9f07e7be5551387a98ba977c732d080dcb0f29a048e3656912c6533e32ee7aed"
     "29b721769ce64e43d57133b074d839d531ed1f28510afb45ace10a1f4b794d6f"},
    {"A.1 #3", "0000000000000000000000000000000000000000000000000000000000000001", 1,
     "000000000000000000000000",
     "3aeb5224ecf849929b9d828db1ced4dd832025e8018b8160b82284f3c949aa5a"
     "8eca00bbb4a73bdad192b5c42f73f2fd4e273644c8b36125a64addeb006c13a0"},
    {"A.1 #4", "00ff000000000000000000000000000000000000000000000000000000000000", 2,
     "000000000000000000000000",
     "72d54dfbf12ec44b362692df94137f328fea8da73990265ec1bbbea1ae9af0ca"
     "13b25aa26cb4a648cb9b9d1be65b2c0924a66c54d545ec1b7374f4872e99f096"},
    {"A.1 #5", "0000000000000000000000000000000000000000000000000000000000000000", 0,
     "000000000000000000000002",
     "c2c64d378cd536374ae204b9ef933fcd1a8b2288b3dfa49672ab765b54ee27c7"
     "8a970e0e955c14f3a88e741b97c286f75f8fc299e8148362fa198a39531bed6d"},
    {"2.6.2", "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f", 0,
     "000000000001020304050607",
     "8ad5a08b905f81cc815040274ab29471a833b637e3fd0da508dbb8e2fdd1a646"},
    {"A.4 #1", "0000000000000000000000000000000000000000000000000000000000000000", 0,
     "000000000000000000000000",
     "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"},
    {"A.4 #2", "0000000000000000000000000000000000000000000000000000000000000001", 0,
     "000000000000000000000002",
     "ecfa254f845f647473d3cb140da9e87606cb33066c447b87bc2666dde3fbb739"},
    {"A.4 #3", "1c9240a5eb55d38af333888604f6b5f0473917c1402b80099dca5cbc207075c0", 0,
     "000000000000000000000002",
     "965e3bc6f9ec7ed9560808f4d229f94b137ff275ca9b3fcbdd59deaad23310ae"},
};
const CipherCase kCipherCases[] = {
    {"2.4.2", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", 1,
     "000000000000004a00000000", kSunscreen,
     "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0b"
     "f91b65c5524733ab8f593dabcd62b3571639d624e65152ab8f530c359f0861d8"
     "07ca0dbf500d6a6156a38e088a22b65e52bc514d16ccf806818ce91ab7793736"
     "5af90bbf74a35be6b40b8eedf2785e42874d"},
    {"A.2 #1", "0000000000000000000000000000000000000000000000000000000000000000", 0,
     "000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000",
     "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
     "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"},
    {"A.2 #2", "0000000000000000000000000000000000000000000000000000000000000001", 1,
     "000000000000000000000002", kIetfText,
     "a3fbf07df3fa2fde4f376ca23e82737041605d9f4f4f57bd8cff2c1d4b7955ec"
     "2a97948bd3722915c8f3d337f7d370050e9e96d647b7c39f56e031ca5eb6250d"
     "4042e02785ececfa4b4bb5e8ead0440e20b6e8db09d881a7c6132f420e527950"
     "42bdfa7773d8a9051447b3291ce1411c680465552aa6c405b7764d5e87bea85a"
     "d00f8449ed8f72d0d662ab052691ca66424bc86d2df80ea41f43abf937d3259d"
     "c4b2d0dfb48a6c9139ddd7f76966e928e635553ba76c5c879d7b35d49eb2e62b"
     "0871cdac638939e25e8a1e0ef9d5280fa8ca328b351c3c765989cbcf3daa8b6c"
     "cc3aaf9f3979c92b3720fc88dc95ed84a1be059c6499b9fda236e7e818b04b0b"
     "c39c1e876b193bfe5569753f88128cc08aaa9b63d1a16f80ef2554d7189c411f"
     "5869ca52c5b83fa36ff216b9c1d30062bebcfd2dc5bce0911934fda79a86f6e6"
     "98ced759c3ff9b6477338f3da4f9cd8514ea9982ccafb341b2384dd902f3d1ab"
     "7ac61dd29c6f21ba5b862f3730e37cfdc4fd806c22f221"},
    {"A.2 #3", "1c9240a5eb55d38af333888604f6b5f0473917c1402b80099dca5cbc207075c0", 42,
     "000000000000000000000002", kJabberwocky,
     "62e6347f95ed87a45ffae7426f27a1df5fb69110044c0d73118effa95b01e5cf"
     "166d3df2d721caf9b21e5fb14c616871fd84c54f9d65b283196c7fe4f60553eb"
     "f39c6402c42234e32a356b3e764312a61a5532055716ead6962568f87d3f3f77"
     "04c6a8d1bcd1bf4d50d6154b6da731b187b58dfd728afa36757a797ac188d1"},
};
const MacCase kMacCases[] = {
    {"2.5.2", "85d6be7857556d337f4452fe42d506a80103808afb0db2fd4abff6af4149f51b",
     "43727970746f6772617068696320466f72756d2052657365617263682047726f"
     "7570",
     "a8061dc1305136c6c22b8baf0c0127a9"},
    {"A.3 #1", "0000000000000000000000000000000000000000000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000"
     "0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000"},
    {"A.3 #2", "0000000000000000000000000000000036e5f6b5c5e06070f0efca96227a863e", kIetfText,
     "36e5f6b5c5e06070f0efca96227a863e"},
    {"A.3 #3", "36e5f6b5c5e06070f0efca96227a863e00000000000000000000000000000000", kIetfText,
     "f3477e7cd95417af89a6b8794c310cf0"},
    {"A.3 #4", "1c9240a5eb55d38af333888604f6b5f0473917c1402b80099dca5cbc207075c0", kJabberwocky,
     "4541669a7eaaee61e708dc7cbcc5eb62"},
    {"A.3 #5", "0200000000000000000000000000000000000000000000000000000000000000",
     "ffffffffffffffffffffffffffffffff", "03000000000000000000000000000000"},
    {"A.3 #6", "02000000000000000000000000000000ffffffffffffffffffffffffffffffff",
     "02000000000000000000000000000000", "03000000000000000000000000000000"},
    {"A.3 #7", "0100000000000000000000000000000000000000000000000000000000000000",
     "fffffffffffffffffffffffffffffffff0ffffffffffffffffffffffffffffff"
     "11000000000000000000000000000000",
     "05000000000000000000000000000000"},
    {"A.3 #8", "0100000000000000000000000000000000000000000000000000000000000000",
     "fffffffffffffffffffffffffffffffffbfefefefefefefefefefefefefefefe"
     "01010101010101010101010101010101",
     "00000000000000000000000000000000"},
    {"A.3 #9", "0200000000000000000000000000000000000000000000000000000000000000",
     "fdffffffffffffffffffffffffffffff", "faffffffffffffffffffffffffffffff"},
    {"A.3 #10", "0100000000000000040000000000000000000000000000000000000000000000",
     "e33594d7505e43b900000000000000003394d7505e4379cd0100000000000000"
     "0000000000000000000000000000000001000000000000000000000000000000",
     "14000000000000005500000000000000"},
    {"A.3 #11", "0100000000000000040000000000000000000000000000000000000000000000",
     "e33594d7505e43b900000000000000003394d7505e4379cd0100000000000000"
     "00000000000000000000000000000000",
     "13000000000000000000000000000000"},
};
const AeadCase kAeadCases[] = {
    {"2.8.2", "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f",
     "070000004041424344454647", "50515253c0c1c2c3c4c5c6c7", kSunscreen,
     "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d6"
     "3dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b36"
     "92ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
     "3ff4def08e4b7a9de576d26586cec64b6116",
     "1ae10b594f09e26a7e902ecbd0600691"},
    {"A.5", "1c9240a5eb55d38af333888604f6b5f0473917c1402b80099dca5cbc207075c0",
     "000000000102030405060708", "f33388860000000000004e91",
     "496e7465726e65742d4472616674732061726520647261667420646f63756d65"
     "6e74732076616c696420666f722061206d6178696d756d206f6620736978206d"
     "6f6e74687320616e64206d617920626520757064617465642c207265706c6163"
     "65642c206f72206f62736f6c65746564206279206f7468657220646f63756d65"
     "6e747320617420616e792074696d652e20497420697320696e617070726f7072"
     "6961746520746f2075736520496e7465726e65742d4472616674732061732072"
     "65666572656e6365206d6174657269616c206f7220746f206369746520746865"
     "6d206f74686572207468616e206173202fe2809c776f726b20696e2070726f67"
     "726573732e2fe2809d",
     "64a0861575861af460f062c79be643bd5e805cfd345cf389f108670ac76c8cb2"
     "4c6cfc18755d43eea09ee94e382d26b0bdb7b73c321b0100d4f03b7f355894cf"
     "332f830e710b97ce98c8a84abd0b948114ad176e008d33bd60f982b1ff37c855"
     "9797a06ef4f0ef61c186324e2b3506383606907b6a7c02b0f9f6157b53c867e4"
     "b9166c767b804d46a59b5216cde7a4e99040c5a40433225ee282a1b0a06c523e"
     "af4534d7f83fa1155b0047718cbc546a0d072b04b3564eea1b422273f548271a"
     "0bb2316053fa76991955ebd63159434ecebb4e466dae5a1073a6727627097a10"
     "49e617d91d361094fa68f0ff77987130305beaba2eda04df997b714d6c6f2c29"
     "a6ad5cb4022b02709b",
     "eead9d67890cbb22392336fea1851f38"},
};

// draft-irtf-cfrg-xchacha section 2.2.1 and appendix A.3.1.
const char kHChaChaKey[] = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const char kHChaChaInput[] = "000000090000004a0000000031415927";
const char kHChaChaSubkey[] = "82413b4227b27bfed30e42508a877d73a0f9e4d58a74a853c12ec41326d3ecdc";
const AeadCase kXAead = {"A.3.1",
                         "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f",
                         "404142434445464748494a4b4c4d4e4f5051525354555657",
                         "50515253c0c1c2c3c4c5c6c7",
                         kSunscreen,
                         "bd6d179d3e83d43b9576579493c0e939572a1700252bfaccbed2902c21396cbb"
                         "731c7f1b0b4aa6440bf3a82f4eda7e39ae64c6708c54c216cb96b72e1213b452"
                         "2f8c9ba40db5d945b11b69b982c1bb9e3f3fac2bc369488f76b2383565d3fff9"
                         "21f9664c97637da9768812f615c68b13b52e",
                         "c0875924c1c7987947deafd8780acf49"};

using SealFunction = bool (*)(const uint8_t*, const uint8_t*, const AeadMessage&, uint8_t*);
using OpenFunction = bool (*)(const uint8_t*, const uint8_t*, const AeadMessage&, const uint8_t*);

// Seals the case's plaintext and opens its ciphertext, both checked byte for byte.
void CheckAead(const AeadCase& c, SealFunction seal, OpenFunction open) {
    SCOPED_TRACE(c.name);
    const Bytes key = FromHex(c.key), nonce = FromHex(c.nonce), aad = FromHex(c.aad);
    const Bytes plain = FromHex(c.plain);
    Bytes out(plain.size());
    uint8_t tag[kAeadTagBytes];
    ASSERT_TRUE(seal(key.data(), nonce.data(),
                     {aad.data(), aad.size(), plain.data(), out.data(), plain.size()}, tag));
    EXPECT_EQ(ToHex(out), c.cipher);
    EXPECT_EQ(ToHex(tag, sizeof tag), c.tag);
    const Bytes cipher = FromHex(c.cipher), expectedTag = FromHex(c.tag);
    Bytes opened(cipher.size());
    ASSERT_TRUE(open(key.data(), nonce.data(),
                     {aad.data(), aad.size(), cipher.data(), opened.data(), cipher.size()},
                     expectedTag.data()));
    EXPECT_EQ(opened, plain);
}

TEST(ChaCha20, BlockFunctionMatchesRfcVectors) {
    for (const auto& c : kBlockCases) {
        SCOPED_TRACE(c.name);
        uint8_t block[kChaCha20BlockBytes];
        ChaCha20Block(FromHex(c.key).data(), c.counter, FromHex(c.nonce).data(), block);
        EXPECT_EQ(ToHex(block, std::strlen(c.keystream) / 2), c.keystream);
    }
}

TEST(ChaCha20, EnciphersRfcVectorsAlsoInPlace) {
    for (const auto& c : kCipherCases) {
        SCOPED_TRACE(c.name);
        const Bytes key = FromHex(c.key), nonce = FromHex(c.nonce);
        Bytes text = FromHex(c.plain);
        ChaCha20Xor(key.data(), c.counter, nonce.data(), text.data(), text.data(), text.size());
        EXPECT_EQ(ToHex(text), c.cipher);
        ChaCha20Xor(key.data(), c.counter, nonce.data(), text.data(), text.data(), text.size());
        EXPECT_EQ(ToHex(text), c.plain);
    }
}

TEST(Poly1305, MatchesRfcVectorsWholeAndInUnevenPieces) {
    for (const auto& c : kMacCases) {
        SCOPED_TRACE(c.name);
        const Bytes key = FromHex(c.key), message = FromHex(c.message);
        uint8_t tag[kPoly1305TagBytes];
        Poly1305 whole(key.data());
        whole.Update(message.data(), message.size());
        whole.Final(tag);
        EXPECT_EQ(ToHex(tag, sizeof tag), c.tag);
        // Pieces of 1, 2, 3 ... bytes cross the 16-byte blocks at every offset.
        Poly1305 pieces(key.data());
        for (size_t at = 0, n = 1; at < message.size(); at += n, ++n) {
            pieces.Update(message.data() + at, std::min(n, message.size() - at));
        }
        pieces.Final(tag);
        EXPECT_EQ(ToHex(tag, sizeof tag), c.tag);
    }
}

TEST(ChaCha20Poly1305, SealsAndOpensRfcVectors) {
    for (const auto& c : kAeadCases) CheckAead(c, ChaCha20Poly1305Seal, ChaCha20Poly1305Open);
}

TEST(XChaCha20Poly1305, MatchesDraftVectors) {
    uint8_t subkey[kChaCha20KeyBytes];
    HChaCha20(FromHex(kHChaChaKey).data(), FromHex(kHChaChaInput).data(), subkey);
    EXPECT_EQ(ToHex(subkey, sizeof subkey), kHChaChaSubkey);
    CheckAead(kXAead, XChaCha20Poly1305Seal, XChaCha20Poly1305Open);
}

// Every single-bit change of aad, ciphertext or tag is refused, and the output buffer keeps what it
// held; the unchanged message (the control) opens.
TEST(ChaCha20Poly1305, RefusesEveryFlippedBitWithoutWritingPlaintext) {
    const AeadCase& c = kAeadCases[0];
    const Bytes key = FromHex(c.key), nonce = FromHex(c.nonce);
    for (int region = 0; region < 3; ++region) {
        Bytes parts[3] = {FromHex(c.aad), FromHex(c.cipher), FromHex(c.tag)};
        for (size_t bit = 0; bit < parts[region].size() * 8; ++bit) {
            parts[region][bit / 8] ^= uint8_t(1u << bit % 8);
            Bytes out(parts[1].size(), 0xA5);
            const AeadMessage m{parts[0].data(), parts[0].size(), parts[1].data(), out.data(),
                                parts[1].size()};
            ASSERT_FALSE(ChaCha20Poly1305Open(key.data(), nonce.data(), m, parts[2].data()))
                << "region " << region << " bit " << bit;
            ASSERT_EQ(out, Bytes(parts[1].size(), 0xA5));
            parts[region][bit / 8] ^= uint8_t(1u << bit % 8);
            ASSERT_TRUE(ChaCha20Poly1305Open(key.data(), nonce.data(), m, parts[2].data()));
        }
    }
}

TEST(ChaCha20Poly1305, EmptyMessageStillAuthenticatesAad) {
    const Bytes key(kAeadKeyBytes, 7), nonce(kAeadNonceBytes, 9);
    uint8_t aad[3] = {1, 2, 3}, tag[kAeadTagBytes];
    ASSERT_TRUE(ChaCha20Poly1305Seal(key.data(), nonce.data(), {aad, 3, nullptr, nullptr, 0}, tag));
    EXPECT_TRUE(ChaCha20Poly1305Open(key.data(), nonce.data(), {aad, 3, nullptr, nullptr, 0}, tag));
    aad[2] ^= 1;
    EXPECT_FALSE(
        ChaCha20Poly1305Open(key.data(), nonce.data(), {aad, 3, nullptr, nullptr, 0}, tag));
}

}  // namespace
