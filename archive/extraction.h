// The library's extraction calls as the project's own programs use them: what vorn_DecompressToFile
// does, and a decode into a sink, both by the entry's index, with callbacks (progress, cancel)
// that carry their caller's context and with statuses that still tell apart what the public
// codes merge (a cancel and an output file that cannot be created both read 2 through the C API).
// Part of libvorn; the Windows stub exports only the C API.
#pragma once

#include <cstdint>

#include "archive/vorn.h"
#include "codec/entry_run.h"
#include "format/sealed.h"
#include "format/status.h"

namespace archive {

using codec::BlockSink;
using codec::ProgressReport;
using format::Status;

// vorn_OpenStream, vorn_EnumerateFiles, vorn_GetFileInfo and vorn_DecompressToPtr with the
// library's own statuses.
Status OpenArchive(void** handle, const char* path, const char* password, unsigned int mode);
// The same, where model is a handle open on the same archive (or null): when both are sealed
// alike and model was opened with the same password, its key serves and the open derives none;
// when model is plain and the file still has its length and header, its walk of the records
// (and a plain name table that is still the same) serves and the file is not walked again; model
// must then stay open until this handle closes. model may be in use on another thread meanwhile;
// only what its open set is read.
Status OpenArchiveLike(void** handle, const char* path, const char* password, unsigned int mode,
                       const void* model);
Status EnumerateEntry(void* handle, VORN_FILEINFO* info, uint64_t index);
Status GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name);
Status ExtractToMemory(void* handle, const char* name, unsigned char* buffer,
                       ProgressCallback progress, const char* password);

// A caller's own cancel, asked once per block beside the handle's cancel event (which
// vorn_CancelOperation signals): a run it answers true for stops at that block with
// Status::Cancelled. cancelled null: only the event counts. It may be asked from several threads
// at once when an entry's blocks are decoded on threads.
struct CancelCheck {
    bool (*cancelled)(void* context);
    void* context;
};

// What vorn_DecompressToFile does, for the entry at index (as vorn_EnumerateFiles numbers them,
// so that of several entries with one name each is its own): the output file is created first,
// then the entry's record read, its password and the free space checked, and the entry decoded
// into the file through the handle's staging area. With threads above 1, an entry of more than
// one block has its blocks decoded on that many threads, each in memory of its own
// (codec/parallel_run.h); the file gets the same bytes and the call the same status.
Status ExtractToFile(void* handle, uint64_t index, const char* path, const char* password,
                     ProgressReport progress, CancelCheck cancel, unsigned threads = 1);

// The same into a file the caller has created and keeps open (platform/output_file.h's part
// file): fd takes the entry's bytes from where it stands, folder is the file's folder for the
// free-space check. The caller closes the file and gives it the entry's time and attributes.
Status ExtractToOpenFile(void* handle, uint64_t index, int fd, const char* folder,
                         const char* password, ProgressReport progress, CancelCheck cancel,
                         unsigned threads = 1);

// The entry at index decoded block by block into sink, and checked against its CRC: the same
// lookup and password check as a file extraction, without a file; threads as for ExtractToFile.
Status ExtractToSink(void* handle, uint64_t index, const char* password, BlockSink sink,
                     ProgressReport progress, CancelCheck cancel, unsigned threads = 1);

// The kinds of block an entry's data area holds, as bits (1 << type): read from its block
// headers alone, never past the area. For "vorn list", which names each entry's codec.
// NotFound for an index beyond the entries, Corrupt when the headers cannot be read.
Status EntryBlockTypes(void* handle, uint64_t index, uint32_t* typeBits);

// How an open archive protects what it holds: sealed (format/sealed.h; *seal receives its seal
// block), its names enciphered with Blowfish, or neither. Entries enciphered with Blowfish under
// plain names read as None here; their records say so.
enum class Protection { None, Blowfish, Sealed };
Protection ProtectionOf(void* handle, format::SealBlock* seal);

// A sealed archive's digest of its self-extractor's settings block (all zeros when it has
// none), as its sealed trailer keeps it; false for any other archive.
bool SealedSettingsDigest(void* handle, uint8_t digest[format::kSettingsDigestBytes]);

// The solid group of the entry at index (format/solid.h), 0 when it stands alone or the archive
// has no groups; an extraction of a group's entries in their order decodes each once. NotFound
// for an index beyond the entries, Corrupt when the record cannot be read.
Status EntryGroup(void* handle, uint64_t index, uint32_t* group);

// The C API's code for a status, and that code's text (public_status.cpp, the one mapping).
uint32_t PublicCode(Status status);
const char* StatusText(Status status);

}  // namespace archive
