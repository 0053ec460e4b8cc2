// The one way every extracting program writes a file below its destination: the destination is
// opened once; an entry's folder levels are made and entered one by one from there, never through
// a symbolic link, junction or other reparse point that already stands in the destination; the
// entry is decoded into a part file of its own, created new beside its final name, and only an
// entry that decoded completely and intact is renamed over that name. A file that stood there
// before is replaced whole or not at all, and a link there is replaced, never written through.
//
// Plain structures and fixed buffers, no allocation: the Windows stub uses it too. Paths are the
// 8-bit text the library's other calls take (UTF-8 where the program's manifest says so); entry
// paths use "/" between levels ("\" as well on Windows). One POSIX and one Win32 implementation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Room for a folder's path and a file name in it, the NUL included.
constexpr size_t kOutputPathBytes = 1024;
// Folder levels of one entry below the destination (a 255-byte name has at most 128).
constexpr size_t kMaxOutputLevels = 128;

enum class OutputResult {
    Ok,
    ThroughLink,  // a level, or what stands at the final name, is a link or reparse point
    NotFolder,    // a level exists and is no folder, the destination is none, or a folder
                  // stands at the final name
    BadLevel,     // an empty, "." or ".." level, or too many of them
    TooLong,      // a path would not fit kOutputPathBytes, or the caller's limit
    SystemError,  // the system refused; LastOutputError tells why
};

// The destination of a run, open while the run lasts. Links in its own path are the user's and
// are followed; below it, none is.
struct OutputRoot {
    intptr_t handle = -1;  // POSIX: the folder's descriptor; Win32: a folder HANDLE
    char path[kOutputPathBytes] = {};
    size_t pathLength = 0;
};

// The folder one entry goes into, open while its file is written. On Windows every level stays
// open without delete sharing, so that no level can be renamed or swapped for a junction while
// the entry is written.
struct OutputFolder {
    intptr_t handle = -1;
    char path[kOutputPathBytes] = {};  // the root's path and the levels, native separators
    size_t pathLength = 0;
    intptr_t levels[kMaxOutputLevels] = {};
    size_t levelCount = 0;
};

// The new file an entry is decoded into, in its folder, and the name it gets once intact.
struct PartFile {
    int fd = -1;  // for FileWrite (platform.h); -1 once closed
    const OutputFolder* folder = nullptr;
    char name[kOutputPathBytes] = {};       // the part file's name in the folder
    char finalName[kOutputPathBytes] = {};  // the entry's file name in the folder
    char path[kOutputPathBytes] = {};  // the part file's whole path, for callers writing by path
};

// Opens an existing folder as the destination. NotFolder when it is none.
OutputResult OpenOutputRoot(const char* path, OutputRoot* root);
void CloseOutputRoot(OutputRoot* root);

// Enters relative ("a/b"; empty for the destination itself) below root level by level, creating
// the levels that are missing, and refusing any level that is a link or reparse point or a file.
// folder is closed again (CloseOutputFolder) on failure.
OutputResult OpenOutputFolder(const OutputRoot& root, const char* relative, OutputFolder* folder);
void CloseOutputFolder(OutputFolder* folder);

// Creates a new, empty part file in folder for the file finalName, exclusively and without
// following a link: "." and as much of finalName as fits, ".vorn-" and random characters, tried
// again under another name when one exists. maxPathBytes limits part->path (0: no limit beyond
// kOutputPathBytes) for a caller that hands that path to a call with a smaller limit: the name
// gives way first, then the mark, then random characters down to eight. part->fd is open for
// writing.
OutputResult CreatePartFile(const OutputFolder& folder, const char* finalName, size_t maxPathBytes,
                            PartFile* part);

// For a part file written through its descriptor: the entry's modification time (a Windows
// FILETIME; 0 leaves it) and Windows attribute bits (format/container.h; on POSIX the read-only
// bit alone counts), applied to the open file. Call after the last write.
bool SetPartFileTime(PartFile* part, uint64_t fileTime);
bool SetPartFileAttributes(PartFile* part, uint32_t attributes);

// For a caller that must write by path (the library's vorn_DecompressToFile): closes the
// descriptor and leaves the empty part file at part->path for the caller to write; then commit or
// discard as usual.
void ReleasePartFileForPath(PartFile* part);

// The entry decoded completely and intact: closes the part file and renames it over finalName in
// its folder, replacing a file or link standing there. On failure the part file is removed and
// what stood at finalName is as it was.
OutputResult CommitPartFile(PartFile* part);
// Any failure, cancel or wrong password: closes and removes the part file; finalName is untouched.
void DiscardPartFile(PartFile* part);

// For a caller that is handed a whole output path (the library's vorn_DecompressToFile): the
// folder a part file beside it goes into (kOutputPathBytes; "." for a bare name, and on Windows
// "X:." for a drive-relative one) and where the file's own name starts in path. false when path
// names no file (empty, or ending in a separator) or the folder does not fit.
bool SplitOutputPath(const char* path, char* folder, const char** name);

// What stands at a whole output path, the path's links followed: nothing, a file on a disk (which
// a part file may replace), or something else (a folder, a device, a pipe), which a part file
// must never replace.
enum class PathKind { Absent, File, Other };
PathKind KindOfPath(const char* path);

// The system's reason for the last failed call of this thread, into out (at least 1 byte).
void LastOutputError(char* out, size_t capacity);

}  // namespace platform
