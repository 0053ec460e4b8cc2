// How every layer says what went wrong, from the codec up to the tool: one vocabulary, turned into
// the C API's numbered codes in one place (archive/public_status.cpp). Several statuses share a
// public code there; callers inside the library can still tell them apart, as the tool does for a
// cancelled extraction and an output file that could not be created.
#pragma once

#include <cstdint>

namespace format {

enum class Status : uint8_t {
    Ok,
    RecordsEnded,      // a record walk ran out of file before the wanted entry
    InvalidArgument,   // a null, too long or otherwise unusable argument
    Cancelled,         // a cancel was signalled during the run
    OutputNotCreated,  // the output file could not be created or opened for writing
    Corrupt,           // the archive or an entry's data breaks the format
    NotFound,          // no such entry, or no archive in the file
    DiskFull,          // less free space than the entry needs, or a write that fell short
    OpenMode,          // the archive's open mode forbids the operation
    Locked,            // the archive is locked
    CrcMismatch,       // decoded data or deciphered names fail their CRC: damage or wrong password
    PasswordNeeded,    // enciphered, and no password was given
    NoMemory,          // working memory could not be had
    NameNotFound,      // no entry carries the name (the directory's own lookup)
    ReadFailed,        // a source file could not be read (the writer)
};

// Whether status, from an enciphered entry decoded with a password, means that password is wrong:
// the deciphered data fails its check or breaks the format. (The public codes' reading is
// sfx::MeansWrongPassword, for the self-extractor, which sees only those.)
inline bool MeansWrongPassword(Status status) {
    return status == Status::CrcMismatch || status == Status::Corrupt;
}

}  // namespace format
