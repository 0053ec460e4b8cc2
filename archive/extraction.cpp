// The extraction calls of the project's own programs, with the blocks of a large entry decoded on
// several threads. A translation unit of its own: the C API never refers to it, so the threads
// stay out of the programs that only use the C API, the self-extractor among them.
#include "archive/extraction.h"

#include "archive/archive_handle.h"
#include "codec/parallel_run.h"

namespace archive {

namespace {

// An entry that fits one block gains nothing from more threads.
Status DecodeOnThreads(ArchiveHandle* h, const VORN_FILEINFO& info, const DataAhead& ahead,
                       codec::BlockSink sink, codec::ProgressReport progress, unsigned threads) {
    if (threads < 2 || info.qwStoredSize <= codec::BLOCK_BUFFER_SIZE) {
        return DecodeFoundEntry(h, info, ahead, nullptr, sink, progress);
    }
    RunSource source = {h, ahead, 0};
    codec::EntryRun run = RunOf(h, info);
    run.sink = sink;
    run.progress = progress;
    return codec::DecodeEntryParallel(InputFrom(&source), run, threads);
}

}  // namespace

Status ExtractToFile(void* handle, const char* name, const char* path, const char* password,
                     ProgressReport progress, unsigned threads) {
    return ExtractToFileWith(handle, name, path, password, ExtractionRun{DecodeOnThreads, threads},
                             progress);
}

Status ExtractToSink(void* handle, const char* name, const char* password, BlockSink sink,
                     ProgressReport progress, unsigned threads) {
    return ExtractToSinkWith(handle, name, password, ExtractionRun{DecodeOnThreads, threads}, sink,
                             progress);
}

}  // namespace archive
