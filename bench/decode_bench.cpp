// Compressed block decoding throughput over a corpus of real files, against zlib level-6 inflate of
// the same files. The corpus folder comes from VORN_CORPUS (default ./corpus, as made by the
// shared make-corpus.sh); every file is cut into 8 MiB blocks, encoded once by the packer's block
// encoder and checked to decode back to its bytes before anything is timed.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/bit_reader.h"
#include "codec/compressed_block_decoder.h"
#include "codec/entry_run.h"
#include "encoder/block_encoder.h"
#include "encoder/encoder_state.h"

namespace {

struct Block {
    std::vector<uint8_t> body;  // padded body plus the decoder's read slack
    uint32_t bodyBytes;
    uint32_t plainBytes;
};

struct CorpusFile {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<Block> blocks;
    std::vector<uint8_t> deflated;
};

std::vector<CorpusFile>& Corpus() {
    static std::vector<CorpusFile> files;
    return files;
}

bool Prepare(CorpusFile* file, int level) {
    const uint32_t chunk = codec::BLOCK_BUFFER_SIZE;
    encoder::EncoderState state;
    for (size_t at = 0; at < file->data.size(); at += chunk) {
        uint32_t size = static_cast<uint32_t>(std::min<size_t>(chunk, file->data.size() - at));
        std::vector<uint8_t> encoded;
        encoder::EncoderOptions options;
        options.level = level;
        encoder::EncodeCompressedBlock(file->data.data() + at, size, options, state, encoded);
        Block block;
        block.bodyBytes = static_cast<uint32_t>(encoded.size() - 4);
        block.body.assign(encoded.begin() + 4, encoded.end());
        block.body.resize(block.body.size() + codec::BODY_READ_SLACK, 0);
        block.plainBytes = size;
        file->blocks.push_back(std::move(block));
    }
    // Decode once and compare: a benchmark of a wrong decoder measures nothing.
    codec::ContextTable* table =
        static_cast<codec::ContextTable*>(malloc(sizeof(codec::ContextTable)));
    std::vector<uint8_t> out(codec::BLOCK_BUFFER_SIZE);
    size_t at = 0;
    bool same = true;
    for (const Block& block : file->blocks) {
        uint32_t produced = 0;
        format::Status status =
            codec::DecodeCompressedBlock(block.body.data(), block.bodyBytes, table, out.data(),
                                         codec::BLOCK_BUFFER_SIZE, &produced);
        same = same && status == format::Status::Ok && produced == block.plainBytes &&
               memcmp(out.data(), file->data.data() + at, produced) == 0;
        at += block.plainBytes;
    }
    free(table);
    uLongf bound = compressBound(file->data.size());
    file->deflated.resize(bound);
    compress2(file->deflated.data(), &bound, file->data.data(), file->data.size(), 6);
    file->deflated.resize(bound);
    return same;
}

void BM_Decode(benchmark::State& state, const CorpusFile* file) {
    codec::ContextTable* table =
        static_cast<codec::ContextTable*>(malloc(sizeof(codec::ContextTable)));
    std::vector<uint8_t> out(codec::BLOCK_BUFFER_SIZE);
    size_t compressed = 0;
    for (const Block& block : file->blocks) compressed += block.bodyBytes + 4;
    for (auto _ : state) {
        for (const Block& block : file->blocks) {
            uint32_t produced = 0;
            codec::DecodeCompressedBlock(block.body.data(), block.bodyBytes, table, out.data(),
                                         codec::BLOCK_BUFFER_SIZE, &produced);
            benchmark::DoNotOptimize(produced);
        }
    }
    free(table);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file->data.size()));
    state.counters["ratio"] = static_cast<double>(file->data.size()) / compressed;
}

void BM_Inflate(benchmark::State& state, const CorpusFile* file) {
    std::vector<uint8_t> out(file->data.size());
    for (auto _ : state) {
        uLongf size = out.size();
        uncompress(out.data(), &size, file->deflated.data(), file->deflated.size());
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file->data.size()));
    state.counters["ratio"] = static_cast<double>(file->data.size()) / file->deflated.size();
}

void BM_DecodeCorpus(benchmark::State& state) {
    codec::ContextTable* table =
        static_cast<codec::ContextTable*>(malloc(sizeof(codec::ContextTable)));
    std::vector<uint8_t> out(codec::BLOCK_BUFFER_SIZE);
    int64_t bytes = 0;
    for (const CorpusFile& file : Corpus()) bytes += static_cast<int64_t>(file.data.size());
    for (auto _ : state) {
        for (const CorpusFile& file : Corpus()) {
            for (const Block& block : file.blocks) {
                uint32_t produced = 0;
                codec::DecodeCompressedBlock(block.body.data(), block.bodyBytes, table, out.data(),
                                             codec::BLOCK_BUFFER_SIZE, &produced);
                benchmark::DoNotOptimize(produced);
            }
        }
    }
    free(table);
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_InflateCorpus(benchmark::State& state) {
    size_t largest = 0;
    int64_t bytes = 0;
    for (const CorpusFile& file : Corpus()) {
        largest = std::max(largest, file.data.size());
        bytes += static_cast<int64_t>(file.data.size());
    }
    std::vector<uint8_t> out(largest);
    for (auto _ : state) {
        for (const CorpusFile& file : Corpus()) {
            uLongf size = out.size();
            uncompress(out.data(), &size, file.deflated.data(), file.deflated.size());
            benchmark::DoNotOptimize(size);
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

}  // namespace

int main(int argc, char** argv) {
    const char* folder = std::getenv("VORN_CORPUS");
    std::filesystem::path dir = folder != nullptr ? folder : "corpus";
    const char* levelText = std::getenv("VORN_LEVEL");
    int level = levelText != nullptr ? std::atoi(levelText) : 2;
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_directory(dir)) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file() && entry.path().filename() != "MANIFEST.txt") {
                paths.push_back(entry.path());
            }
        }
    }
    std::sort(paths.begin(), paths.end());
    if (paths.empty()) {
        std::fprintf(stderr, "no corpus files in %s (set VORN_CORPUS)\n", dir.string().c_str());
        return 1;
    }
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        CorpusFile file;
        file.name = path.filename().string();
        file.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!Prepare(&file, level)) {
            std::fprintf(stderr, "%s does not decode back to its bytes\n", file.name.c_str());
            return 1;
        }
        Corpus().push_back(std::move(file));
    }
    for (const CorpusFile& file : Corpus()) {
        benchmark::RegisterBenchmark(("Decode/" + file.name).c_str(), BM_Decode, &file)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Inflate/" + file.name).c_str(), BM_Inflate, &file)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("DecodeCorpus", BM_DecodeCorpus)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("InflateCorpus", BM_InflateCorpus)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
