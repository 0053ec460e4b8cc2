// The library's extraction calls as the project's own programs use them: what vorn_DecompressToFile
// does, and a decode into a sink, both with callbacks that carry their caller's context and with
// statuses that still tell apart what the public codes merge (a cancel and an output file that
// cannot be created both read 2 through the C API). Part of libvorn; the Windows stub exports
// only the C API.
#pragma once

#include <cstdint>

#include "codec/entry_run.h"
#include "format/status.h"

namespace archive {

using codec::BlockSink;
using codec::ProgressReport;
using format::Status;

// vorn_DecompressToFile: the output file is created first, then the entry looked up, its password
// and the free space checked, and the entry decoded into it through the handle's staging area.
// With threads above 1, an entry of more than one block has its blocks decoded on that many
// threads, each in memory of its own (codec/parallel_run.h); the file gets the same bytes and
// the call the same status.
Status ExtractToFile(void* handle, const char* name, const char* path, const char* password,
                     ProgressReport progress, unsigned threads = 1);

// The entry decoded block by block into sink, and checked against its CRC: the same lookup and
// password check as a file extraction, without a file; threads as for ExtractToFile.
Status ExtractToSink(void* handle, const char* name, const char* password, BlockSink sink,
                     ProgressReport progress, unsigned threads = 1);

// The C API's code for a status.
uint32_t PublicCode(Status status);

}  // namespace archive
