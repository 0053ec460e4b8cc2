// Packing: compression ratio and speed of the block encoder at each level over a corpus of real
// files, against zlib level 9 (compress2) on the same files. The corpus folder comes from
// VORN_CORPUS (default ./corpus, as made by the shared make-corpus.sh). Files are cut into 8 MiB
// blocks as the writer cuts entries; each block is the smaller of compressed and stored, as the
// writer's best choice makes it, and every compressed block is checked to decode back to its bytes
// before anything is timed. After the timed runs a table gives per-file and total ratios.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/compressed_block_decoder.h"
#include "encoder/block_encoder.h"
#include "encoder/encoder_state.h"
#include "format/block.h"
#include "pack/archive_writer.h"

namespace {

constexpr int kLevels[] = {1, 2};

struct CorpusFile {
    std::string name;
    std::vector<uint8_t> data;
    size_t packed[3] = {};  // by level
    size_t deflated = 0;
    bool roundTrips = true;
};

std::vector<CorpusFile>& Corpus() {
    static std::vector<CorpusFile> files;
    return files;
}

// Packs data as the writer would, in 8 MiB blocks; returns the bytes of all blocks.
size_t Pack(const std::vector<uint8_t>& data, int level, std::vector<uint8_t>* out) {
    encoder::EncoderOptions options;
    options.level = level;
    encoder::EncoderState state;
    out->clear();
    for (size_t at = 0; at < data.size(); at += pack::kMaxBlockSize) {
        uint32_t size =
            static_cast<uint32_t>(std::min<size_t>(pack::kMaxBlockSize, data.size() - at));
        encoder::EncodeBestBlock(data.data() + at, size, options, state, *out);
    }
    return out->size();
}

// Decodes the blocks in packed and compares them with data.
bool Unpacks(const std::vector<uint8_t>& packed, const std::vector<uint8_t>& data) {
    auto table = std::make_unique<codec::ContextTable>();
    std::vector<uint8_t> out(pack::kMaxBlockSize);
    size_t in = 0, at = 0;
    while (in + 4 <= packed.size()) {
        format::BlockHeader header = format::DecodeBlockHeader(&packed[in]);
        uint32_t length = header.length;
        uint32_t body = format::BodyBytes(header);
        if (header.type == format::kBlockStored) {
            if (at + length > data.size() || memcmp(&packed[in + 4], &data[at], length) != 0)
                return false;
            at += length;
            in += 4 + body;
            continue;
        }
        std::vector<uint8_t> padded(packed.begin() + in + 4, packed.begin() + in + 4 + body);
        padded.resize(body + codec::BODY_READ_SLACK, 0);
        uint32_t produced = 0;
        if (codec::DecodeCompressedBlock(padded.data(), body, table.get(), out.data(),
                                         static_cast<uint32_t>(out.size()),
                                         &produced) != format::Status::Ok)
            return false;
        if (at + produced > data.size() || memcmp(out.data(), &data[at], produced) != 0)
            return false;
        at += produced;
        in += 4 + body;
    }
    return at == data.size() && in == packed.size();
}

void BM_Pack(benchmark::State& state, CorpusFile* file, int level) {
    std::vector<uint8_t> out;
    for (auto _ : state) benchmark::DoNotOptimize(Pack(file->data, level, &out));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file->data.size()));
    state.counters["ratio"] = double(file->data.size()) / double(file->packed[level]);
    if (!file->roundTrips) state.SkipWithError("packed data does not decode back");
}

void BM_Zlib9(benchmark::State& state, CorpusFile* file) {
    std::vector<uint8_t> out(compressBound(file->data.size()));
    for (auto _ : state) {
        uLongf size = out.size();
        compress2(out.data(), &size, file->data.data(), file->data.size(), 9);
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file->data.size()));
    state.counters["ratio"] = double(file->data.size()) / double(file->deflated);
}

void PrintRatios() {
    std::printf("\n%-28s %12s %9s %9s %9s\n", "file", "bytes", "level 1", "level 2", "zlib 9");
    double in = 0, zlib = 0, packed[3] = {};
    for (const CorpusFile& f : Corpus()) {
        std::printf("%-28s %12zu", f.name.c_str(), f.data.size());
        for (int level : kLevels) {
            std::printf(" %9.3f", double(f.data.size()) / double(f.packed[level]));
            packed[level] += double(f.packed[level]);
        }
        std::printf(" %9.3f%s\n", double(f.data.size()) / double(f.deflated),
                    f.roundTrips ? "" : "  DOES NOT ROUND-TRIP");
        in += double(f.data.size());
        zlib += double(f.deflated);
    }
    std::printf("%-28s %12.0f", "total (bytes in / bytes out)", in);
    for (int level : kLevels) std::printf(" %9.3f", in / packed[level]);
    std::printf(" %9.3f\n", in / zlib);
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir = std::getenv("VORN_CORPUS");
    std::filesystem::path root = dir ? dir : "corpus";
    std::vector<std::filesystem::path> paths;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(root, ec))
        if (entry.is_regular_file() && entry.path().filename() != "MANIFEST.txt")
            paths.push_back(entry.path());
    if (paths.empty()) {
        std::fprintf(stderr, "no corpus files in %s (set VORN_CORPUS)\n", root.c_str());
        return 1;
    }
    std::sort(paths.begin(), paths.end());
    Corpus().reserve(paths.size());
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        CorpusFile file;
        file.name = path.filename().string();
        file.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::vector<uint8_t> out;
        for (int level : kLevels) {
            file.packed[level] = Pack(file.data, level, &out);
            file.roundTrips = file.roundTrips && Unpacks(out, file.data);
        }
        uLongf size = compressBound(file.data.size());
        out.resize(size);
        compress2(out.data(), &size, file.data.data(), file.data.size(), 9);
        file.deflated = size;
        Corpus().push_back(std::move(file));
    }
    for (CorpusFile& file : Corpus()) {
        for (int level : kLevels) {
            benchmark::RegisterBenchmark(
                ("Pack/level" + std::to_string(level) + "/" + file.name).c_str(), BM_Pack, &file,
                level)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
        }
        benchmark::RegisterBenchmark(("Zlib9/" + file.name).c_str(), BM_Zlib9, &file)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatios();
    return 0;
}
