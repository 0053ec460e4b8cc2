// The one search for the archive's signature, whole and over slices of every size: a slice scan
// must find the same first offset as the whole search, also when the signature straddles slices.
#include "format/signature_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSignature[8] = {'V', 'O', 'R', 'N', 0x01, 0x00, 0x00, 0x8f};

// size bytes of a pattern full of 'V' and "VORN" look-alikes but without a whole signature.
Bytes Decoys(size_t size) {
    const uint8_t pattern[] = {'V', 'O', 'R', 'N', 0x01, 0x00, 0x00, 0x8e, 'V', 'V', 'O', 'x'};
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = pattern[i % sizeof pattern];
    return bytes;
}

Bytes WithSignatureAt(Bytes bytes, size_t at) {
    for (size_t i = 0; i < 8; ++i) bytes[at + i] = kSignature[i];
    return bytes;
}

uint64_t ScanInSlices(const Bytes& bytes, size_t slice, bool* found) {
    format::SignatureScan scan;
    for (size_t p = 0; p < bytes.size(); p += slice) {
        const size_t n = std::min(slice, bytes.size() - p);
        if (scan.Feed(bytes.data() + p, n)) break;
    }
    *found = scan.Found();
    return scan.Offset();
}

TEST(SignatureScan, SlicesOfEverySizeFindTheFirstSignatureAsTheWholeSearchDoes) {
    const size_t size = 300;
    const struct {
        std::vector<size_t> at;  // where signatures stand; the first one counts
    } cases[] = {{{}}, {{0}}, {{1}}, {{5}}, {{6}}, {{7}}, {{100}}, {{292}}, {{50, 200}}, {{9, 20}}};
    for (const auto& c : cases) {
        Bytes bytes = Decoys(size);
        for (size_t at : c.at) bytes = WithSignatureAt(bytes, at);
        const size_t whole = format::FindSignature(bytes.data(), bytes.size());
        EXPECT_EQ(whole, c.at.empty() ? size : c.at.front());
        for (size_t slice : {1, 2, 3, 7, 8, 9, 64, 300}) {
            bool found = false;
            const uint64_t offset = ScanInSlices(bytes, slice, &found);
            EXPECT_EQ(found, !c.at.empty()) << "slice " << slice;
            if (found) {
                EXPECT_EQ(offset, whole) << "slice " << slice;
            }
        }
    }
}

TEST(SignatureScan, OnlyWholeSignaturesCount) {
    Bytes bytes = WithSignatureAt(Decoys(40), 32);
    EXPECT_EQ(format::FindSignature(bytes.data(), 39), 39u);  // cut one byte short
    EXPECT_EQ(format::FindSignature(bytes.data(), 40), 32u);
    EXPECT_EQ(format::FindSignature(bytes.data(), 7), 7u);
}

}  // namespace
