// The archive library on large directories: open plus a full enumeration, and a lookup by name
// of every entry, for archives of 1,000 to 100,000 entries. Time per entry should stay flat as
// the archive grows: the open's one walk and the name index make each call cost the same.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "archive/vorn.h"
#include "pack/archive_writer.h"

namespace {

std::string EntryName(int i) {
    return "folder" + std::to_string(i % 97) + "\\file" + std::to_string(i) + ".txt";
}

// Builds (once per size) an archive of small stored entries in the temporary folder.
const std::string& ArchiveOf(int entries) {
    static std::map<int, std::string> paths;
    auto found = paths.find(entries);
    if (found != paths.end()) return found->second;
    std::string path = (std::filesystem::temp_directory_path() /
                        ("vorn_archive_bench_" + std::to_string(entries) + ".vorn"))
                           .string();
    pack::ArchiveWriter writer;
    bool ok = writer.Open(path) == pack::Status::Ok;
    pack::EntryOptions options;
    for (int i = 0; i < entries && ok; ++i) {
        std::string text = "entry " + std::to_string(i);
        ok = writer.AddEntry(EntryName(i), std::vector<uint8_t>(text.begin(), text.end()),
                             options) == pack::Status::Ok;
    }
    ok = ok && writer.Finish() == pack::Status::Ok;
    if (!ok) std::fprintf(stderr, "cannot build %s: %s\n", path.c_str(), writer.Error().c_str());
    return paths.emplace(entries, path).first->second;
}

void BM_OpenAndEnumerate(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    const std::string& path = ArchiveOf(entries);
    VORN_FILEINFO info;
    for (auto _ : state) {
        void* h = nullptr;
        if (vorn_OpenStream(&h, path.c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        uint64_t count = vorn_GetNumFiles(h);
        for (uint64_t i = 0; i < count; ++i) {
            if (vorn_EnumerateFiles(h, &info, i) != 0) state.SkipWithError("enumeration failed");
        }
        benchmark::DoNotOptimize(info.dwCRC);
        vorn_CloseStream(h);
    }
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["time_per_entry"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * entries,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LookupEveryName(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    const std::string& path = ArchiveOf(entries);
    void* h = nullptr;
    if (vorn_OpenStream(&h, path.c_str(), nullptr, VORN_OPEN_READONLY) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    std::vector<std::string> names;
    for (int i = 0; i < entries; ++i) names.push_back(EntryName(i));
    VORN_FILEINFO info;
    for (auto _ : state) {
        for (const auto& name : names) {
            if (vorn_GetFileInfo(h, &info, name.c_str()) != 0) state.SkipWithError("lookup");
        }
        benchmark::DoNotOptimize(info.qwStoredSize);
    }
    vorn_CloseStream(h);
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["time_per_entry"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * entries,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_OpenAndEnumerate)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupEveryName)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
