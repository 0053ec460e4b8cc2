// The extraction calls of the project's own programs, with the blocks of a large entry decoded on
// several threads. A translation unit of its own: the C API never refers to it, so the threads
// stay out of the programs that only use the C API, the self-extractor among them.
#include "archive/extraction.h"

#include "archive/archive_handle.h"
#include "codec/parallel_run.h"

namespace archive {

namespace {

Status DecodeParallelOver(const codec::EntryInput& input, const codec::EntryRun& run,
                          void* context) {
    return codec::DecodeEntryParallel(input, run, *static_cast<const unsigned*>(context));
}

// An entry that fits one block gains nothing from more threads; the blocks of a solid group's
// entry each need the ones before them.
Status DecodeOnThreads(ArchiveHandle* h, const VORN_FILEINFO& info, const EntryPlace& place,
                       codec::BlockSink sink, codec::ProgressReport progress,
                       const ExtractionRun& how) {
    if (how.threads < 2 || place.group != 0 || info.qwStoredSize <= codec::BLOCK_BUFFER_SIZE) {
        return DecodeFoundEntry(h, info, place, nullptr, sink, progress, how.cancel);
    }
    RunSource source(h, place, how.cancel);
    codec::EntryRun run = RunOf(h, info);
    run.sink = sink;
    run.progress = progress;
    return RunFoundEntry(h, place, &source, run, DecodeParallelOver,
                         const_cast<unsigned*>(&how.threads));
}

}  // namespace

Status ExtractToFile(void* handle, uint64_t index, const char* path, const char* password,
                     ProgressReport progress, CancelCheck cancel, unsigned threads) {
    return ExtractToFileWith(handle, WantedEntry{nullptr, index}, path, password,
                             ExtractionRun{DecodeOnThreads, threads, cancel}, progress);
}

Status ExtractToOpenFile(void* handle, uint64_t index, int fd, const char* folder,
                         const char* password, ProgressReport progress, CancelCheck cancel,
                         unsigned threads) {
    return ExtractToOpenFileWith(handle, WantedEntry{nullptr, index}, fd, folder, password,
                                 ExtractionRun{DecodeOnThreads, threads, cancel}, progress);
}

Status ExtractToSink(void* handle, uint64_t index, const char* password, BlockSink sink,
                     ProgressReport progress, CancelCheck cancel, unsigned threads) {
    return ExtractToSinkWith(handle, WantedEntry{nullptr, index}, password,
                             ExtractionRun{DecodeOnThreads, threads, cancel}, sink, progress);
}

}  // namespace archive
