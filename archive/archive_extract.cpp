// The extraction calls: an entry to a new file (created first, free space checked, written block
// by block through WriteToOutput from the handle's staging area, attributes applied on success)
// or into the caller's memory.
// Both hand the decoding to the codec's run, which reads the entry's data area through the
// handle's descriptor and polls the handle's cancel event between blocks.
#include <cstring>

#include "archive/archive_handle.h"
#include "codec/entry_run.h"

namespace archive {
namespace {

// What a run reads from: the archive descriptor, after the data bytes its lookup read ahead.
struct RunSource {
    ArchiveHandle* h;
    DataAhead ahead;
    uint32_t aheadUsed;
};

int64_t ReadEntryData(void* context, void* buffer, uint32_t count) {
    auto* source = static_cast<RunSource*>(context);
    if (source->aheadUsed < source->ahead.count) {
        uint32_t n = source->ahead.count - source->aheadUsed;
        if (n > count) n = count;
        std::memcpy(buffer, source->ahead.bytes + source->aheadUsed, n);
        source->aheadUsed += n;
        return n;
    }
    return platform::FileRead(source->h->archiveFd, buffer, count);
}

bool PollCancel(void* context) {
    return platform::EventPollAndClear(static_cast<RunSource*>(context)->h->cancelEvent);
}

}  // namespace

void OutputFolderOf(const char* path, char* folder) {
    size_t drive = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
    size_t end = drive;
    for (size_t i = drive; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == '/') end = i + 1;
    }
    if (end >= kMaxPath) end = kMaxPath - 1;
    std::memcpy(folder, path, end);
    folder[end] = '\0';
}

bool WriteToOutput(void* handle, const uint8_t* bytes, uint32_t count) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    return platform::FileWrite(h->outputFd, bytes, count) == static_cast<int64_t>(count);
}

uint32_t DecodeEntry(ArchiveHandle* h, const char* name, uint8_t* destination, EntrySink sink,
                     ProgressCallback progress) {
    VORN_FILEINFO info;
    DataAhead ahead;
    if (FindEntryByName(h, name, &info, nullptr, &ahead) != VORN_SUCCESS) return VORN_E_NOT_FOUND;
    return DecodeFoundEntry(h, info, ahead, destination, sink, progress);
}

uint32_t DecodeFoundEntry(ArchiveHandle* h, const VORN_FILEINFO& info, const DataAhead& ahead,
                          uint8_t* destination, EntrySink sink, ProgressCallback progress) {
    // Mapped by the first run that gets this far, before more of the data area is read.
    if (!codec::MapRunMemory(&h->runMemory)) return VORN_E_NO_MEMORY;
    RunSource source = {h, ahead, 0};
    codec::EntryInput input;
    input.context = &source;
    input.read = ReadEntryData;
    input.pollCancel = PollCancel;
    codec::EntryRun run;
    run.storedSize = info.qwStoredSize;
    run.crc = info.dwCRC;
    run.encrypted = (info.dwAttributes & VORN_ATTR_ENCRYPTED) != 0;
    run.password = h->pszOperationPassword;
    run.destination = destination;
    run.destinationSize = sink ? codec::BLOCK_BUFFER_SIZE : info.qwUnpackedSize;
    run.sink = sink;
    run.sinkContext = h;
    run.progress = progress;
    run.readBuffer = h->runMemory.readBuffer;
    run.contextTable = h->runMemory.contextTable;
    return codec::DecodeEntry(input, run);
}

}  // namespace archive

using archive::ArchiveHandle;

extern "C" {

uint32_t vorn_DecompressToFile(void* handle, const char* name, const char* path,
                               ProgressCallback progress, const char* password) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !name || !path || std::strlen(path) >= archive::kMaxPath) {
        return VORN_E_INVALID_ARGUMENT;
    }
    int fd =
        platform::FileOpen(path,
                           platform::kOpenBinary | platform::kOpenTruncate | platform::kOpenCreate |
                               platform::kOpenSequential | platform::kOpenReadWrite,
                           platform::kPermReadWrite);
    if (fd < 0) return VORN_E_INVALID_ARGUMENT;
    h->outputFd = fd;

    uint32_t status = VORN_SUCCESS;
    VORN_FILEINFO info;
    archive::DataAhead ahead;
    if (archive::FindEntryByName(h, name, &info, nullptr, &ahead) != VORN_SUCCESS) {
        status = VORN_E_NOT_FOUND;
    } else if ((info.dwAttributes & VORN_ATTR_ENCRYPTED) && !password) {
        status = VORN_E_PASSWORD_NEEDED;
    } else {
        h->pszOperationPassword = password;
        platform::EventReset(h->cancelEvent);
        char folder[archive::kMaxPath];
        archive::OutputFolderOf(path, folder);
        uint64_t available = 0;
        // A volume that cannot be asked is not refused: the writes themselves will tell.
        if (h->queryFreeSpace(folder, &available) && info.qwUnpackedSize > available) {
            status = VORN_E_DISK_FULL;
        } else {
            if (!h->staging) {
                h->staging = static_cast<uint8_t*>(platform::PageAlloc(codec::BLOCK_BUFFER_SIZE));
            }
            status = h->staging ? archive::DecodeFoundEntry(h, info, ahead, h->staging,
                                                            archive::WriteToOutput, progress)
                                : VORN_E_NO_MEMORY;
        }
        h->pszOperationPassword = nullptr;
    }
    // A close that fails may have lost written bytes: that is no success either.
    if (platform::FileClose(fd) != 0 && status == VORN_SUCCESS) status = VORN_E_DISK_FULL;
    h->outputFd = -1;
    if (status == VORN_SUCCESS) platform::SetAttributes(path, info.dwAttributes & 0x3f);
    return status;
}

uint32_t vorn_DecompressToPtr(void* handle, const char* name, unsigned char* buffer,
                              ProgressCallback progress, const char* password) {
    auto* h = static_cast<ArchiveHandle*>(handle);
    if (!h || !name) return VORN_E_INVALID_ARGUMENT;
    // Checked before the lookup: no name that long is in any table, and 2 is this case's answer.
    if (std::strlen(name) > 256) return VORN_E_INVALID_ARGUMENT;
    VORN_FILEINFO info;
    archive::DataAhead ahead;
    if (archive::FindEntryByName(h, name, &info, nullptr, &ahead) != VORN_SUCCESS) {
        return VORN_E_NOT_FOUND;
    }
    if (info.qwUnpackedSize >> 32) return VORN_E_NO_MEMORY;
    if ((info.dwAttributes & VORN_ATTR_ENCRYPTED) && !password) return VORN_E_PASSWORD_NEEDED;
    if (!buffer && info.qwUnpackedSize > 0) return VORN_E_INVALID_ARGUMENT;
    h->pszOperationPassword = password;
    platform::EventReset(h->cancelEvent);
    uint32_t status = archive::DecodeFoundEntry(h, info, ahead, buffer, nullptr, progress);
    h->pszOperationPassword = nullptr;
    return status;
}

}  // extern "C"
