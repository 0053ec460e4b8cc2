// The one place where the library's statuses become the numbered codes of the C API.
#include "archive/extraction.h"
#include "archive/vorn.h"

namespace archive {

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

}  // namespace archive
