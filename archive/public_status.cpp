// The one place where the library's statuses become the numbered codes of the C API, and where
// those codes have their texts. Every vorn_ call that answers a status answers PublicCode of it.
#include "archive/extraction.h"
#include "archive/vorn.h"

namespace archive {

namespace {

const char* const kStatusTexts[] = {
    "Success",
    "Unknown",
    "Invalid argument passed",
    "Archive is corrupt",
    "Not found",
    "Entry exists already",
    "Out of disk space",
    "Archive is opened in a mode preventing this operation",
    "Archive has been locked preventing this operation",
    "Decompressed file CRC does not match original",
    "The selected operation requires a correct password",
    "The selected operation failed to allocate enough memory",
    "The open archive is an older archive format",
};

const char* TextOfCode(int code) {
    if (code < 0 || code >= static_cast<int>(sizeof kStatusTexts / sizeof kStatusTexts[0])) {
        return "Unknown <?>";
    }
    return kStatusTexts[code];
}

}  // namespace

uint32_t PublicCode(Status status) {
    switch (status) {
        case Status::Ok:
            return VORN_SUCCESS;
        case Status::RecordsEnded:
            return VORN_E_UNKNOWN;
        case Status::InvalidArgument:
        case Status::Cancelled:
        case Status::OutputNotCreated:
            return VORN_E_INVALID_ARGUMENT;
        case Status::Corrupt:
        case Status::ReadFailed:
            return VORN_E_CORRUPT;
        case Status::NotFound:
            return VORN_E_NOT_FOUND;
        case Status::DiskFull:
            return VORN_E_DISK_FULL;
        case Status::OpenMode:
            return VORN_E_OPEN_MODE;
        case Status::Locked:
            return VORN_E_LOCKED;
        case Status::CrcMismatch:
            return VORN_E_CRC;
        case Status::PasswordNeeded:
            return VORN_E_PASSWORD_NEEDED;
        case Status::NoMemory:
            return VORN_E_NO_MEMORY;
        case Status::NameNotFound:
            return VORN_E_NAME_NOT_FOUND;
    }
    return VORN_E_UNKNOWN;
}

const char* StatusText(Status status) {
    return TextOfCode(static_cast<int>(PublicCode(status)));
}

}  // namespace archive

extern "C" const char* vorn_GetErrorString(int code) {
    return archive::TextOfCode(code);
}
