// Our primitives behind a line protocol, for crosscheck.py to compare with Python's independent
// implementations. Each input line is a command and hex fields ("-" for empty); each output line
// is the result in hex, or "refused".
//   blake2b <digest length> <key> <message>
//   aead-seal <key> <nonce> <aad> <plain>          -> ciphertext and tag
//   aead-open <key> <nonce> <aad> <cipher and tag> -> plaintext
//   argon2id <m> <t> <p> <tag length> <password> <salt> <secret> <ad>
//   sha256 <message>
#include <iostream>
#include <sstream>
#include <string>

#include "crypto/aead.h"
#include "crypto/argon2.h"
#include "crypto/blake2b.h"
#include "crypto/sha256.h"
#include "hex.h"

namespace {

Bytes Field(std::istream& in) {
    std::string text;
    in >> text;
    return text == "-" ? Bytes() : FromHex(text.c_str());
}

std::string HashCommand(std::istream& in) {
    size_t length = 0;
    in >> length;
    const Bytes key = Field(in), message = Field(in);
    uint8_t digest[kBlake2bMaxDigestBytes];
    if (!Blake2bHash(digest, length, message.data(), message.size(), key.data(), key.size())) {
        return "refused";
    }
    return ToHex(digest, length);
}

std::string AeadCommand(std::istream& in, bool seal) {
    const Bytes key = Field(in), nonce = Field(in), aad = Field(in);
    Bytes text = Field(in);
    if (key.size() != kAeadKeyBytes || nonce.size() != kAeadNonceBytes) return "refused";
    if (seal) {
        text.resize(text.size() + kAeadTagBytes);
        const size_t length = text.size() - kAeadTagBytes;
        ChaCha20Poly1305Seal(key.data(), nonce.data(),
                             {aad.data(), aad.size(), text.data(), text.data(), length},
                             text.data() + length);
        return ToHex(text);
    }
    if (text.size() < kAeadTagBytes) return "refused";
    const size_t length = text.size() - kAeadTagBytes;
    const AeadMessage m{aad.data(), aad.size(), text.data(), text.data(), length};
    if (!ChaCha20Poly1305Open(key.data(), nonce.data(), m, text.data() + length)) return "refused";
    return ToHex(text.data(), length);
}

std::string Argon2Command(std::istream& in) {
    Argon2Params params{};
    uint32_t tagLength = 0;
    in >> params.memoryKiB >> params.passes >> params.lanes >> tagLength;
    const Bytes password = Field(in), salt = Field(in), secret = Field(in), ad = Field(in);
    const Argon2Inputs inputs{password.data(), password.size(), salt.data(), salt.size(),
                              secret.data(),   secret.size(),   ad.data(),   ad.size()};
    Bytes tag(tagLength);
    if (Argon2idAllocating(params, inputs, size_t(1) << 30, tag.data(), tagLength) !=
        Argon2Status::Ok) {
        return "refused";
    }
    return ToHex(tag);
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "blake2b") {
            std::cout << HashCommand(in) << '\n';
        } else if (command == "aead-seal" || command == "aead-open") {
            std::cout << AeadCommand(in, command == "aead-seal") << '\n';
        } else if (command == "sha256") {
            const Bytes message = Field(in);
            uint8_t digest[kSha256Bytes];
            Sha256Hash(message.data(), message.size(), digest);
            std::cout << ToHex(digest, sizeof digest) << '\n';
        } else if (command == "argon2id") {
            std::cout << Argon2Command(in) << '\n';
        } else {
            std::cout << "unknown\n";
        }
    }
    return 0;
}
