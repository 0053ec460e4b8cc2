// Parsers for compressed blocks. Both replay the decoder's context table token by token: a token
// stores only its own start position, so the positions a later match can name depend on where
// earlier tokens began.
#include "pack/compress_parse.h"

#include <algorithm>

#include "pack/compress_context.h"

namespace pack {

std::vector<Token> ParseGreedy(const uint8_t* data, uint32_t size, uint32_t minLength) {
    std::vector<Token> tokens;
    tokens.reserve(size / 4 + 16);
    ContextModel model;
    uint32_t o = 0;
    for (; o < size && o < 3; ++o) tokens.push_back({0, data[o]});
    while (o < size) {
        uint32_t index = model.BucketIndex(data, o);
        const ContextBucket& b = model.Bucket(index);
        uint32_t limit = std::min(size - o, kMaxMatchLength);
        uint32_t bestLength = 0;
        int bestSlot = -1;
        for (int k = 0; k < 4; ++k) {
            if (b.position[k] < 0) continue;
            uint32_t n = MatchLength(data, static_cast<uint32_t>(b.position[k]), o, limit);
            if (n > bestLength) {
                bestLength = n;
                bestSlot = k;
            }
        }
        if (bestSlot >= 0 && bestLength >= minLength) {
            tokens.push_back({bestLength, static_cast<uint8_t>(bestSlot)});
            model.Update(index, o, bestSlot);
            o += bestLength;
        } else {
            tokens.push_back({0, data[o]});
            model.Update(index, o, -1);
            ++o;
        }
    }
    return tokens;
}

}  // namespace pack
