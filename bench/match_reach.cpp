// Where the packed size goes: for the first block of each corpus file, how much of it the writer's
// level-2 parse covers with matches, against how much a search of every position in the last
// 32 KiB covers (the reach of deflate, zip's method). A match of the format names one of the four
// positions its context bucket holds, and a bucket only ever receives the positions where tokens
// began after the same three bytes; a deflate match may copy from anywhere in its window. The
// last column is the share of the writer's literal bytes that such a search would have covered
// with a match of four bytes or more: what the four slots cannot reach.
//
//   match_reach [CORPUS]     CORPUS defaults to $VORN_CORPUS or ./corpus
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoder/compress_context.h"
#include "encoder/compress_parse.h"
#include "format/block.h"

namespace {

constexpr uint32_t kWindow = 32768;
// zip -9 follows chains of up to 4096 and stops at a match of 258; shorter chains, and stopping
// at 128, find nearly as much and keep files of long repeats from taking minutes.
constexpr uint32_t kMaxChain = 512;
constexpr uint32_t kNiceLength = 128;
constexpr uint32_t kDeflateMaxLength = 258;

struct Coverage {
    uint64_t literalBytes = 0;
    uint64_t matches = 0;
    uint64_t matchedBytes = 0;
};

// The longest match at every position within deflate's reach: any earlier start with the same
// three bytes in the last 32 KiB, followed along a hash chain.
std::vector<uint16_t> LongestInWindow(const std::vector<uint8_t>& data) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    std::vector<uint16_t> longest(size, 0);
    std::vector<int32_t> head(1 << 16, -1), previous(size, -1);
    for (uint32_t o = 0; o + 3 <= size; ++o) {
        uint32_t key = (data[o] << 8 ^ data[o + 1] << 4 ^ data[o + 2]) & 0xFFFF;
        uint32_t limit = std::min(size - o, kDeflateMaxLength);
        uint32_t chain = 0;
        for (int32_t p = head[key]; p >= 0 && o - p <= kWindow && chain < kMaxChain &&
                                    longest[o] < std::min(limit, kNiceLength);
             p = previous[p], ++chain) {
            uint32_t n = 0;
            while (n < limit && data[p + n] == data[o + n]) ++n;
            longest[o] = static_cast<uint16_t>(std::max<uint32_t>(longest[o], n));
        }
        previous[o] = head[key];
        head[key] = static_cast<int32_t>(o);
    }
    return longest;
}

Coverage GreedyInWindow(const std::vector<uint16_t>& longest) {
    Coverage c;
    for (size_t o = 0; o < longest.size();) {
        if (longest[o] >= 3) {
            ++c.matches;
            c.matchedBytes += longest[o];
            o += longest[o];
        } else {
            ++c.literalBytes;
            ++o;
        }
    }
    return c;
}

// The writer's level-2 parse, and the literal bytes of it that deflate's reach could match.
Coverage WriterParse(const std::vector<uint8_t>& data, const std::vector<uint16_t>& longest,
                     uint64_t* reachable) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    const uint32_t sample = std::min<uint32_t>(size, 256u << 10);
    encoder::ContextModel model;
    encoder::TokenPrices prices = encoder::TokenPrices::FromTokens(
        encoder::ParseGreedy(data.data(), sample, 2, model), sample);
    std::vector<encoder::Token> tokens =
        encoder::ParseLookahead(data.data(), size, prices, encoder::LookaheadOptions{1, 1}, model);
    Coverage c;
    *reachable = 0;
    size_t o = 0;
    for (const encoder::Token& t : tokens) {
        if (t.length == 0) {
            ++c.literalBytes;
            *reachable += longest[o] >= 4;
            ++o;
        } else {
            ++c.matches;
            c.matchedBytes += t.length;
            o += t.length;
        }
    }
    return c;
}

std::vector<uint8_t> FirstBlock(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (data.size() > format::kBlockBufferSize) data.resize(format::kBlockBufferSize);
    return data;
}

double Share(uint64_t part, uint64_t whole) {
    return whole ? 100.0 * double(part) / double(whole) : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* env = std::getenv("VORN_CORPUS");
    std::filesystem::path corpus = argc > 1 ? argv[1] : env ? env : "corpus";
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(corpus)) {
        if (e.is_regular_file() && e.path().filename() != "MANIFEST.txt") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    std::printf("%-26s %9s | %8s %8s %9s | %8s %8s %9s | %s\n", "file (first block)", "bytes",
                "literal", "matches", "mean len", "literal", "matches", "mean len",
                "literals in reach");
    std::printf("%-26s %9s | %-28s | %-28s |\n", "", "", "  writer, level 2", "  32 KiB window");
    for (const auto& path : files) {
        std::vector<uint8_t> data = FirstBlock(path);
        if (data.empty()) continue;
        std::vector<uint16_t> longest = LongestInWindow(data);
        uint64_t reachable = 0;
        Coverage vorn = WriterParse(data, longest, &reachable);
        Coverage window = GreedyInWindow(longest);
        std::printf("%-26s %9zu | %7.1f%% %8llu %9.1f | %7.1f%% %8llu %9.1f | %6.1f%%\n",
                    path.filename().c_str(), data.size(), Share(vorn.literalBytes, data.size()),
                    static_cast<unsigned long long>(vorn.matches),
                    vorn.matches ? double(vorn.matchedBytes) / double(vorn.matches) : 0.0,
                    Share(window.literalBytes, data.size()),
                    static_cast<unsigned long long>(window.matches),
                    window.matches ? double(window.matchedBytes) / double(window.matches) : 0.0,
                    Share(reachable, vorn.literalBytes));
    }
    return 0;
}
