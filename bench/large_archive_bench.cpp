// Archives of many small entries: opening one and extracting all of its entries through the
// library must cost time linear in the entry count, so the time per entry of 100,000 entries is
// about that of 10,000. Each archive is built once (compressed entries of 200 to 1,200 bytes of
// text-like data, as "vorn pack" writes them) into the temporary folder. Three ways are timed:
// open and enumerate, open and extract every entry into memory, and open and extract every entry
// into files of a fresh folder (file system costs included). The per-entry counter is in seconds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "test_archive.h"

namespace {

struct BuiltArchive {
    std::string path;
    std::vector<std::string> names;
    size_t largest = 0;
};

std::filesystem::path ScratchFolder() {
    return std::filesystem::temp_directory_path() /
           ("vorn-large-archive-" + std::to_string(static_cast<long>(getpid())));
}

// Text-like content that differs between entries, so each one really decodes.
std::vector<uint8_t> EntryData(size_t index) {
    static const char* const kWords[] = {"archive ", "entry ",  "block ",  "name ",
                                         "folder ",  "stored ", "packed ", "table "};
    size_t size = 200 + (index * 7919) % 1000;
    std::vector<uint8_t> data;
    data.reserve(size + 16);
    uint32_t state = static_cast<uint32_t>(index) * 2654435761u + 1;
    while (data.size() < size) {
        state = state * 1103515245u + 12345u;
        const char* word = kWords[(state >> 16) & 7];
        data.insert(data.end(), word, word + std::char_traits<char>::length(word));
        if (((state >> 8) & 15) == 0) data.push_back('\n');
    }
    data.resize(size);
    return data;
}

const BuiltArchive& ArchiveOf(size_t count) {
    static std::map<size_t, BuiltArchive> built;
    auto found = built.find(count);
    if (found != built.end()) return found->second;
    BuiltArchive& archive = built[count];
    vorntest::TestArchive plan;
    plan.entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        vorntest::TestEntry entry;
        char name[32];
        std::snprintf(name, sizeof name, "f%06zu.txt", i);
        entry.name = name;
        entry.data = EntryData(i);
        entry.method = pack::Method::Best;
        archive.largest = std::max(archive.largest, entry.data.size());
        archive.names.push_back(entry.name);
        plan.entries.push_back(std::move(entry));
    }
    std::filesystem::create_directories(ScratchFolder());
    archive.path = (ScratchFolder() / ("entries-" + std::to_string(count) + ".vorn")).string();
    if (!vorntest::WriteWholeFile(archive.path, vorntest::BuildTestArchive(plan))) {
        std::fprintf(stderr, "cannot write %s\n", archive.path.c_str());
        std::exit(1);
    }
    return archive;
}

void SetPerEntry(benchmark::State& state, size_t count) {
    state.counters["per_entry"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}

void BM_OpenEnumerate(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    const BuiltArchive& archive = ArchiveOf(count);
    for (auto _ : state) {
        void* handle = nullptr;
        if (vorn_OpenStream(&handle, archive.path.c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
            state.SkipWithError("cannot open the archive");
            break;
        }
        VORN_FILEINFO info;
        for (uint64_t i = 0; i < count; ++i) vorn_EnumerateFiles(handle, &info, i);
        vorn_CloseStream(handle);
    }
    SetPerEntry(state, count);
}

void BM_ExtractAllToMemory(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    const BuiltArchive& archive = ArchiveOf(count);
    std::vector<unsigned char> out(archive.largest + 16);
    for (auto _ : state) {
        void* handle = nullptr;
        if (vorn_OpenStream(&handle, archive.path.c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
            state.SkipWithError("cannot open the archive");
            break;
        }
        for (const std::string& name : archive.names) {
            if (vorn_DecompressToPtr(handle, name.c_str(), out.data(), nullptr, nullptr) != 0) {
                state.SkipWithError("extraction failed");
                break;
            }
        }
        vorn_CloseStream(handle);
    }
    SetPerEntry(state, count);
}

void BM_ExtractAllToFiles(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    const BuiltArchive& archive = ArchiveOf(count);
    std::filesystem::path folder = ScratchFolder() / "out";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        state.ResumeTiming();
        void* handle = nullptr;
        if (vorn_OpenStream(&handle, archive.path.c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
            state.SkipWithError("cannot open the archive");
            break;
        }
        std::string path = folder.string() + "/";
        const size_t stem = path.size();
        for (const std::string& name : archive.names) {
            path.resize(stem);
            path += name;
            if (vorn_DecompressToFile(handle, name.c_str(), path.c_str(), nullptr, nullptr) != 0) {
                state.SkipWithError("extraction failed");
                break;
            }
        }
        vorn_CloseStream(handle);
    }
    std::filesystem::remove_all(folder);
    SetPerEntry(state, count);
}

}  // namespace

BENCHMARK(BM_OpenEnumerate)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
// One pass of 100,000 extractions already takes seconds; more passes would add minutes.
BENCHMARK(BM_ExtractAllToMemory)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_ExtractAllToFiles)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(ScratchFolder(), ec);
    return 0;
}
