// Entry extraction throughput over a corpus of real files, against zlib level-6 inflate of the same
// files, in one run. Each corpus file becomes one compressed, not enciphered entry of an archive
// written the way "vorn pack" writes it (8 MiB blocks, each the smaller of compressed and stored,
// default level); the archive library extracts it into memory that is overwritten by the next
// iteration, so the figure covers reading, decoding and the CRC check but no file system. After
// the timed runs a table gives each file's MB/s of output for both, their ratio and the aggregate
// (all bytes over the summed per-file times, as one pass over the corpus would take). The table
// uses CPU time: both sides are single-threaded, and on a machine shared with other work the wall
// clock mostly measures the waits for a core.
//
// The corpus folder comes from VORN_CORPUS (default ./corpus, as made by the shared
// make-corpus.sh); VORN_LEVEL picks the encoder level (default 2, the packer's default).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "test_archive.h"

namespace {

struct CorpusFile {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> deflated;
};

std::vector<CorpusFile>& Corpus() {
    static std::vector<CorpusFile> files;
    return files;
}

std::string& ArchivePath() {
    static std::string path;
    return path;
}

void BM_Extract(benchmark::State& state, const CorpusFile* file) {
    void* handle = nullptr;
    if (vorn_OpenStream(&handle, ArchivePath().c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
        state.SkipWithError("cannot open the archive");
        return;
    }
    std::vector<unsigned char> out(file->data.size() + 16);
    for (auto _ : state) {
        uint32_t status =
            vorn_DecompressToPtr(handle, file->name.c_str(), out.data(), nullptr, nullptr);
        if (status != VORN_SUCCESS) {
            state.SkipWithError("extraction failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    vorn_CloseStream(handle);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file->data.size()));
}

void BM_Inflate(benchmark::State& state, const CorpusFile* file) {
    std::vector<uint8_t> out(file->data.size());
    for (auto _ : state) {
        uLongf size = out.size();
        uncompress(out.data(), &size, file->deflated.data(), file->deflated.size());
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file->data.size()));
}

// Keeps the CPU seconds per iteration of every benchmark (the median when repeated) for the table.
class Collector : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) {
                seconds[run.run_name.function_name] =
                    run.cpu_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

void PrintRatios(const Collector& collector) {
    std::printf("\n%-28s %12s %12s %12s %8s\n", "file", "bytes", "VORN MB/s", "zlib-6 MB/s",
                "ratio");
    double bytes = 0, vornSeconds = 0, zlibSeconds = 0, lowest = 1e9;
    bool complete = true;
    for (const CorpusFile& f : Corpus()) {
        auto v = collector.seconds.find("Extract/" + f.name);
        auto z = collector.seconds.find("Inflate/" + f.name);
        if (v == collector.seconds.end() || z == collector.seconds.end()) {
            complete = false;
            continue;
        }
        double mb = static_cast<double>(f.data.size()) / 1e6;
        double ratio = z->second / v->second;
        lowest = std::min(lowest, ratio);
        std::printf("%-28s %12zu %12.1f %12.1f %8.2f\n", f.name.c_str(), f.data.size(),
                    mb / v->second, mb / z->second, ratio);
        bytes += static_cast<double>(f.data.size());
        vornSeconds += v->second;
        zlibSeconds += z->second;
    }
    if (!complete || vornSeconds == 0) {
        std::printf("(a filter left files out: no aggregate)\n");
        return;
    }
    std::printf("%-28s %12.0f %12.1f %12.1f %8.2f\n", "aggregate", bytes, bytes / 1e6 / vornSeconds,
                bytes / 1e6 / zlibSeconds, zlibSeconds / vornSeconds);
    std::printf("lowest per-file ratio %.2f\n", lowest);
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir = std::getenv("VORN_CORPUS");
    std::filesystem::path root = dir ? dir : "corpus";
    const char* levelText = std::getenv("VORN_LEVEL");
    int level = levelText ? std::atoi(levelText) : 2;
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

    vorntest::TestArchive plan;
    for (const auto& path : paths) {
        CorpusFile file;
        file.name = path.filename().string();
        if (!pack::ReadWholeFile(path.string(), file.data)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        uLongf size = compressBound(file.data.size());
        file.deflated.resize(size);
        compress2(file.deflated.data(), &size, file.data.data(), file.data.size(), 6);
        file.deflated.resize(size);
        vorntest::TestEntry entry;
        entry.name = file.name;
        entry.data = file.data;
        entry.method = pack::Method::Best;
        entry.encoder.level = level;
        plan.entries.push_back(std::move(entry));
        Corpus().push_back(std::move(file));
    }
    std::filesystem::path archive =
        std::filesystem::temp_directory_path() /
        ("vorn-decode-corpus-" + std::to_string(static_cast<long>(getpid())) + ".vorn");
    ArchivePath() = archive.string();
    if (!vorntest::WriteWholeFile(ArchivePath(), vorntest::BuildTestArchive(plan))) {
        std::fprintf(stderr, "cannot write %s\n", ArchivePath().c_str());
        return 1;
    }
    plan.entries.clear();

    // A benchmark of a wrong extraction measures nothing: every entry must come back first.
    void* handle = nullptr;
    if (vorn_OpenStream(&handle, ArchivePath().c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
        std::fprintf(stderr, "cannot open %s\n", ArchivePath().c_str());
        std::filesystem::remove(archive, ec);
        return 1;
    }
    for (const CorpusFile& f : Corpus()) {
        std::vector<unsigned char> out(f.data.size() + 16);
        uint32_t status =
            vorn_DecompressToPtr(handle, f.name.c_str(), out.data(), nullptr, nullptr);
        if (status != VORN_SUCCESS || std::memcmp(out.data(), f.data.data(), f.data.size()) != 0) {
            std::fprintf(stderr, "%s does not extract back to its bytes (status %u)\n",
                         f.name.c_str(), status);
            vorn_CloseStream(handle);
            std::filesystem::remove(archive, ec);
            return 1;
        }
    }
    vorn_CloseStream(handle);

    for (const CorpusFile& f : Corpus()) {
        benchmark::RegisterBenchmark(("Extract/" + f.name).c_str(), BM_Extract, &f)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
        benchmark::RegisterBenchmark(("Inflate/" + f.name).c_str(), BM_Inflate, &f)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    PrintRatios(collector);
    std::filesystem::remove(archive, ec);
    return 0;
}
