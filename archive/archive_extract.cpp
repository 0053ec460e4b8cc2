// The extraction calls: an entry to a file (a part file beside it created first, free space
// checked, written block by block through WriteToOutput from the handle's staging area, put in
// the file's place and given its attributes only on success),
// into the caller's memory, or into a caller's sink. All hand the decoding to the codec's run,
// which reads the entry's data area through the handle's descriptor and polls the handle's cancel
// event between blocks.
#include <cstring>

#include "archive/archive_handle.h"
#include "archive/extraction.h"
#include "codec/entry_run.h"
#include "codec/sealed_input.h"
#include "format/failed_check.h"
#include "format/lz_block.h"
#include "platform/output_file.h"

namespace archive {
namespace {

// How many of the file's bytes from offset at on the read-ahead buffer holds.
uint32_t HeldFrom(const ArchiveHandle* h, uint64_t at) {
    if (at < h->readAheadFrom || at - h->readAheadFrom >= h->readAheadHeld) return 0;
    return h->readAheadHeld - static_cast<uint32_t>(at - h->readAheadFrom);
}

// As HeldFrom, after refilling the buffer from at when it holds nothing there, the read is short
// and the data area goes on. It reads past the area, as far as the file goes: the next entries.
uint32_t HeldFromNext(RunSource* source, uint32_t count) {
    ArchiveHandle* h = source->h;
    const uint64_t at = source->place.dataStart + source->next;
    uint32_t held = HeldFrom(h, at);
    if (held == 0 && count < kReadAheadBytes && source->next < source->place.dataBytes &&
        at < h->fileLength) {
        uint64_t left = h->fileLength - at;
        uint32_t want = left < kReadAheadBytes ? static_cast<uint32_t>(left) : kReadAheadBytes;
        int64_t got = platform::FileReadAt(h->archiveFd, at, h->readAhead, want);
        h->readAheadFrom = at;
        h->readAheadHeld = got > 0 ? static_cast<uint32_t>(got) : 0;
        held = h->readAheadHeld;
    }
    return held;
}

int64_t ReadEntryData(void* context, void* buffer, uint32_t count) {
    auto* source = static_cast<RunSource*>(context);
    uint32_t held = HeldFromNext(source, count);
    if (held > 0) {
        uint32_t n = held < count ? held : count;
        const uint64_t at = source->place.dataStart + source->next;
        std::memcpy(buffer, source->h->readAhead + (at - source->h->readAheadFrom), n);
        source->next += n;
        return n;
    }
    int64_t got = platform::FileReadAt(source->h->archiveFd, source->place.dataStart + source->next,
                                       buffer, count);
    if (got > 0) source->next += static_cast<uint64_t>(got);
    return got;
}

bool PollCancel(void* context) {
    auto* source = static_cast<RunSource*>(context);
    if (platform::EventPollAndClear(source->h->cancelEvent)) return true;
    return source->cancel.cancelled && source->cancel.cancelled(source->cancel.context);
}

// The lookup every extraction starts with; a failed lookup of any kind reads as "not found".
Status LookUpForExtraction(ArchiveHandle* h, const WantedEntry& wanted, const char* password,
                           VORN_FILEINFO* info, EntryPlace* place) {
    Status found = wanted.name ? FindEntryByName(h, wanted.name, info, place)
                               : ReadEntryAt(h, wanted.index, info, place);
    if (found != Status::Ok) return Status::NotFound;
    if ((info->dwAttributes & VORN_ATTR_ENCRYPTED) && !password) return Status::PasswordNeeded;
    return Status::Ok;
}

Status DecodeInTurnOver(const codec::EntryInput& input, const codec::EntryRun& run, void*) {
    return codec::DecodeEntry(input, run);
}

// The sequential run of a found entry, in sink mode.
Status DecodeInTurn(ArchiveHandle* h, const VORN_FILEINFO& info, const EntryPlace& place,
                    codec::BlockSink sink, codec::ProgressReport progress,
                    const ExtractionRun& how) {
    return DecodeFoundEntry(h, info, place, nullptr, sink, progress, how.cancel);
}

// One decoding operation: password is the operation password while it lasts, and a cancel
// signalled before it began is discarded.
class Operation {
  public:
    Operation(ArchiveHandle* h, const char* password) : h_(h) {
        h->operationPassword = password;
        platform::EventReset(h->cancelEvent);
    }
    ~Operation() { h_->operationPassword = nullptr; }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

  private:
    ArchiveHandle* h_;
};

Status DecodeWithPassword(ArchiveHandle* h, const VORN_FILEINFO& info, const EntryPlace& place,
                          const char* password, const ExtractionRun& how, codec::BlockSink sink,
                          codec::ProgressReport progress) {
    Operation operation(h, password);
    return how.decode(h, info, place, sink, progress, how);
}

// The part of a file extraction between creating the output and closing it.
// folder is the output file's, for the free space of its volume.
Status DecodeIntoOutput(ArchiveHandle* h, const WantedEntry& wanted, const char* folder,
                        const char* password, const ExtractionRun& how,
                        codec::ProgressReport progress, VORN_FILEINFO* info) {
    EntryPlace place;
    Status status = LookUpForExtraction(h, wanted, password, info, &place);
    if (status != Status::Ok) return status;
    uint64_t available = 0;
    // A volume that cannot be asked is not refused: the writes themselves will tell.
    if (h->queryFreeSpace(folder, &available) && info->qwUnpackedSize > available) {
        return Status::DiskFull;
    }
    return DecodeWithPassword(h, *info, place, password, how, codec::BlockSink{WriteToOutput, h},
                              progress);
}

// The C API's progress callback, carried as a run's progress report.
struct PlainProgress {
    ProgressCallback callback;
};

void ReportPlainProgress(void* context, int percent) {
    static_cast<PlainProgress*>(context)->callback(percent);
}

codec::ProgressReport ReportTo(PlainProgress* plain) {
    return codec::ProgressReport{plain->callback ? ReportPlainProgress : nullptr, plain};
}

// Where a file extraction writes: into a part file beside path that replaces it only once the
// entry decoded whole and intact, so that a failed call leaves path as it was; straight into path
// only where something other than a file stands (a device), which holds nothing to keep.
struct FileOutput {
    platform::OutputRoot root;
    platform::OutputFolder folder;
    platform::PartFile part;
    bool throughPart = false;
    int fd = -1;
};

bool OpenPartBeside(const char* path, FileOutput* out) {
    char folder[platform::kOutputPathBytes];
    const char* name = nullptr;
    if (!platform::SplitOutputPath(path, folder, &name)) return false;
    if (platform::OpenOutputRoot(folder, &out->root) != platform::OutputResult::Ok) {
        platform::CloseOutputRoot(&out->root);
        return false;
    }
    if (platform::OpenOutputFolder(out->root, "", &out->folder) == platform::OutputResult::Ok) {
        if (platform::CreatePartFile(out->folder, name, 0, &out->part) ==
            platform::OutputResult::Ok) {
            out->throughPart = true;
            out->fd = out->part.fd;
            return true;
        }
        platform::CloseOutputFolder(&out->folder);
    }
    platform::CloseOutputRoot(&out->root);
    return false;
}

bool OpenFileOutput(const char* path, FileOutput* out) {
    platform::PathKind kind = platform::KindOfPath(path);
    if (kind == platform::PathKind::Other) {
        out->fd = platform::FileOpen(path,
                                     platform::kOpenBinary | platform::kOpenTruncate |
                                         platform::kOpenCreate | platform::kOpenSequential |
                                         platform::kOpenReadWrite,
                                     platform::kPermReadWrite);
        return out->fd >= 0;
    }
    if (kind == platform::PathKind::File) {
        // A file that may not be written (read-only) is refused untouched, as it always was.
        int probe = platform::FileOpen(path, platform::kOpenBinary | platform::kOpenReadWrite, 0);
        if (probe < 0) return false;
        platform::FileClose(probe);
    }
    return OpenPartBeside(path, out);
}

// Commits the part file when status is Ok, discards it otherwise; the status of the whole call.
Status CloseFileOutput(FileOutput* out, Status status) {
    // A close that fails may have lost written bytes: that is no success either.
    if (platform::FileClose(out->fd) != 0 && status == Status::Ok) status = Status::DiskFull;
    if (!out->throughPart) return status;
    out->part.fd = -1;
    if (status == Status::Ok &&
        platform::CommitPartFile(&out->part) != platform::OutputResult::Ok) {
        status = Status::OutputNotCreated;
    } else if (status != Status::Ok) {
        platform::DiscardPartFile(&out->part);
    }
    platform::CloseOutputFolder(&out->folder);
    platform::CloseOutputRoot(&out->root);
    return status;
}

}  // namespace

void OutputFolderOf(const char* path, char* folder) {
    size_t drive = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
    size_t end = drive;
    for (size_t i = drive; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == '/') end = i + 1;
    }
    if (end >= format::kPathBufferBytes) end = format::kPathBufferBytes - 1;
    std::memcpy(folder, path, end);
    folder[end] = '\0';
}

bool WriteToOutput(void* handle, const uint8_t* bytes, uint32_t count) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    return platform::FileWrite(h->outputFd, bytes, count) == static_cast<int64_t>(count);
}

codec::EntryInput InputFrom(RunSource* source) {
    return codec::EntryInput{source, ReadEntryData, PollCancel};
}

codec::EntryRun RunOf(ArchiveHandle* h, const VORN_FILEINFO& info) {
    codec::EntryRun run{};
    run.storedSize = info.qwStoredSize;
    run.crc = info.dwCRC;
    run.unpackedSize = info.qwUnpackedSize;
    run.encrypted = (info.dwAttributes & VORN_ATTR_ENCRYPTED) != 0;
    run.password = h->operationPassword;
    run.lzBlocks = format::ArchiveAllowsLzBlocks(h->header.reserved);
    if (h->seal.sealed) {
        // The blocks read as plain stored data once their segments are open (the record's
        // size, checked at the open, always gives one).
        format::PlainDataBytes(info.qwStoredSize, &run.storedSize);
        run.encrypted = false;
        run.password = nullptr;
    }
    return run;
}

Status RunFoundEntry(ArchiveHandle* h, const EntryPlace& place, RunSource* source,
                     const codec::EntryRun& run, RunOver decode, void* context) {
    const codec::EntryInput input = InputFrom(source);
    if (!h->seal.sealed) return decode(input, run, context);
    const uint8_t* key = h->seal.openKey;
    if (place.sealedBy != 1) {
        if (h->operationPassword == nullptr) return Status::PasswordNeeded;
        Status status = SealKeyFor(&h->seal, h->operationPassword, &key);
        if (status != Status::Ok) return status;
    }
    codec::SealedInput sealed(
        input, codec::SealedEntry{key, h->seal.aad, place.entryIndex, run.storedSize});
    if (!sealed.Ready()) return Status::NoMemory;
    Status status = decode(sealed.Input(), run, context);
    if (status == Status::Ok && !sealed.Finish()) status = CORRUPT("the segments do not end");
    // The open checked the archive's password: under it, a failed tag is damage; under an
    // entry's own password it is most likely a wrong one.
    if (sealed.TagFailed()) {
        return place.sealedBy == 1 ? CORRUPT("a segment fails its tag") : Status::CrcMismatch;
    }
    return status;
}

Status DecodeFoundEntry(ArchiveHandle* h, const VORN_FILEINFO& info, const EntryPlace& place,
                        uint8_t* destination, codec::BlockSink sink, codec::ProgressReport progress,
                        CancelCheck cancel) {
    // Mapped by the first run that gets this far, before more of the data area is read.
    if (!codec::MapRunMemory(&h->runMemory)) return Status::NoMemory;
    RunSource source(h, place, cancel);
    codec::EntryRun run = RunOf(h, info);
    run.destination = destination;
    run.sink = sink;
    run.progress = progress;
    run.memory = h->runMemory;
    if (place.group != 0) return DecodeGroupEntry(h, place, run, cancel);
    return RunFoundEntry(h, place, &source, run, DecodeInTurnOver, nullptr);
}

Status ExtractToFileWith(void* handle, const WantedEntry& wanted, const char* path,
                         const char* password, const ExtractionRun& how,
                         codec::ProgressReport progress) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !path || std::strlen(path) >= format::kPathBufferBytes)
        return Status::InvalidArgument;
    FileOutput output;
    if (!OpenFileOutput(path, &output)) return Status::OutputNotCreated;
    h->outputFd = output.fd;
    char folder[format::kPathBufferBytes];
    OutputFolderOf(path, folder);
    VORN_FILEINFO info;
    Status status = DecodeIntoOutput(h, wanted, folder, password, how, progress, &info);
    h->outputFd = -1;
    status = CloseFileOutput(&output, status);
    if (status == Status::Ok) {
        platform::SetAttributes(path, info.dwAttributes & format::kRecordAttributeMask);
    }
    return status;
}

Status ExtractToOpenFileWith(void* handle, const WantedEntry& wanted, int fd, const char* folder,
                             const char* password, const ExtractionRun& how,
                             codec::ProgressReport progress) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || fd < 0 || !folder) return Status::InvalidArgument;
    h->outputFd = fd;
    VORN_FILEINFO info;
    Status status = DecodeIntoOutput(h, wanted, folder, password, how, progress, &info);
    h->outputFd = -1;
    return status;
}

Status ExtractToSinkWith(void* handle, const WantedEntry& wanted, const char* password,
                         const ExtractionRun& how, codec::BlockSink sink,
                         codec::ProgressReport progress) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !sink.take) return Status::InvalidArgument;
    VORN_FILEINFO info;
    EntryPlace place;
    Status status = LookUpForExtraction(h, wanted, password, &info, &place);
    if (status != Status::Ok) return status;
    return DecodeWithPassword(h, info, place, password, how, sink, progress);
}

const ExtractionRun kInTurn = {DecodeInTurn, 1, {}};

Status ExtractToMemory(void* handle, const char* name, unsigned char* buffer,
                       ProgressCallback progress, const char* password) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !name) return Status::InvalidArgument;
    // Checked before the lookup: no name that long is in any table, and 2 is this case's answer.
    if (std::strlen(name) > 256) return Status::InvalidArgument;
    VORN_FILEINFO info;
    EntryPlace place;
    if (FindEntryByName(h, name, &info, &place) != Status::Ok) return Status::NotFound;
    if (info.qwUnpackedSize >> 32) return Status::NoMemory;
    if ((info.dwAttributes & VORN_ATTR_ENCRYPTED) && !password) return Status::PasswordNeeded;
    if (!buffer && info.qwUnpackedSize > 0) return Status::InvalidArgument;
    PlainProgress plain{progress};
    Operation operation(h, password);
    return DecodeFoundEntry(h, info, place, buffer, codec::BlockSink{}, ReportTo(&plain));
}

}  // namespace archive

using archive::ArchiveHandle;
using archive::Status;

extern "C" {

uint32_t vorn_DecompressToFile(void* handle, const char* name, const char* path,
                               ProgressCallback progress, const char* password) {
    if (!name) return archive::PublicCode(Status::InvalidArgument);
    archive::PlainProgress plain{progress};
    return archive::PublicCode(archive::ExtractToFileWith(handle, archive::WantedEntry{name, 0},
                                                          path, password, archive::kInTurn,
                                                          archive::ReportTo(&plain)));
}

uint32_t vorn_DecompressToPtr(void* handle, const char* name, unsigned char* buffer,
                              ProgressCallback progress, const char* password) {
    return archive::PublicCode(archive::ExtractToMemory(handle, name, buffer, progress, password));
}

}  // extern "C"
