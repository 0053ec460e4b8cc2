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
Status ExtractToFile(void* handle, const char* name, const char* path, const char* password,
                     ProgressReport progress);

// The entry decoded block by block through the handle's staging area into sink, and checked
// against its CRC: the same lookup and password check as a file extraction, without a file.
Status ExtractToSink(void* handle, const char* name, const char* password, BlockSink sink,
                     ProgressReport progress);

// The C API's code for a status.
uint32_t PublicCode(Status status);

}  // namespace archive
