// Passwords, opening archives for the commands, and reading their directories.
#include "tools/archive_session.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "archive/extraction.h"
#include "crypto/secure_memory.h"
#include "format/password_file.h"
#include "format/sfx_settings.h"
#include "format/signature_scan.h"
#include "format/stub_fields.h"
#include "platform/platform.h"
#include "tools/output.h"
#include "tools/system.h"

namespace tool {

namespace {

// The password from a file: its first line, without the line end (format/password_file.h).
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& error) {
    std::ifstream in(os::PathOf(path), std::ios::binary);
    if (!in) {
        error = "cannot read password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    char bytes[format::kPasswordFileReadBytes];
    in.read(bytes, sizeof bytes);
    if (in.bad()) {
        error = "cannot read password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    size_t length = 0;
    format::PasswordFileStatus status =
        format::PasswordLineOf(bytes, static_cast<size_t>(in.gcount()), &length);
    std::optional<std::string> password;
    if (status == format::PasswordFileStatus::Ok) {
        password.emplace(bytes, length);
    } else {
        error = "the password file " + path + " " + format::PasswordFileProblem(status);
    }
    SecureWipe(bytes, sizeof bytes);
    return password;
}

// -p without a value: the password typed on the terminal, never shown. With confirm (pack) it is
// typed twice, since a slip there would lock the archive's entries for good.
std::optional<std::string> TypedPassword(bool confirm, std::string& error) {
    if (!os::StdinIsTerminal()) {
        error =
            "-p without a value reads the password from a terminal, and standard input is none; "
            "give --password-file FILE";
        return std::nullopt;
    }
    std::optional<std::string> typed = ReadHiddenLine("Password: ");
    if (!typed || typed->empty()) {
        WipePassword(typed);
        error = "no password typed";
        return std::nullopt;
    }
    if (!confirm) return typed;
    std::optional<std::string> again = ReadHiddenLine("The same password again: ");
    bool same = again && *again == *typed;
    WipePassword(again);
    if (!same) {
        WipePassword(typed);
        error = "the two passwords typed differ";
    }
    return typed;
}

// Whether the file holds the archive signature anywhere, read in slices so any size will do.
bool HoldsArchiveSignature(const std::string& path) {
    std::ifstream in(os::PathOf(path), std::ios::binary);
    if (!in) return false;
    std::vector<char> slice(1 << 20);
    format::SignatureScan scan;
    while (in) {
        in.read(slice.data(), static_cast<std::streamsize>(slice.size()));
        const auto* bytes = reinterpret_cast<const uint8_t*>(slice.data());
        if (scan.Feed(bytes, static_cast<size_t>(in.gcount()))) return true;
    }
    return false;
}

// Asks for the password of an archive whose names are enciphered; false after saying why none
// came.
bool AskArchivePassword(const std::string& path, std::optional<std::string>& password) {
    if (!os::StdinIsTerminal()) {
        std::fprintf(stderr,
                     "vorn: %s: the archive's names are protected by a password; give it with "
                     "-p or --password-file\n",
                     path.c_str());
        return false;
    }
    std::optional<std::string> typed = ReadHiddenLine("Archive password: ");
    if (!typed) {
        std::fprintf(stderr, "vorn: %s: no password given\n", path.c_str());
        return false;
    }
    password = *typed;
    return true;
}

// The name of the archive a self-extractor packed with --payload-beside keeps beside it, read from
// its settings; empty for any other file. A program image is small, so a larger file is none.
std::string BesideArchiveName(const std::string& path) {
    std::ifstream in(os::PathOf(path), std::ios::binary);
    std::vector<uint8_t> image(64u << 20);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!in.eof()) return "";
    const auto size = static_cast<size_t>(in.gcount());
    const uint8_t* block = format::FindSfxSettingsBlock(image.data(), size);
    format::SfxSettings settings;
    if (block == nullptr ||
        format::ReadSfxSettings(block, format::kSfxSettingsBytes, &settings) !=
            format::SfxSettingsStatus::Ok ||
        settings.besideName == nullptr) {
        return "";
    }
    return std::string(settings.besideName, settings.besideNameLength);
}

void ReportOpenFailure(const std::string& path, format::Status status, bool passwordGiven) {
    if (status == format::Status::CrcMismatch && passwordGiven) {
        std::fprintf(stderr, "vorn: %s: wrong password\n", path.c_str());
    } else if (status == format::Status::NotFound) {
        std::fprintf(
            stderr, "vorn: %s: cannot open: %s\n", path.c_str(),
            os::CanRead(path) ? "no archive found in the file" : os::LastErrorText().c_str());
    } else if (status == format::Status::Corrupt && !HoldsArchiveSignature(path)) {
        const std::string beside = BesideArchiveName(path);
        if (!beside.empty()) {
            std::fprintf(stderr,
                         "vorn: %s: a self-extractor whose archive is kept beside it, in %s; "
                         "give that file\n",
                         path.c_str(), Shown(beside).c_str());
            return;
        }
        std::fprintf(stderr, "vorn: %s: not a VORN archive (no archive found in the file)\n",
                     path.c_str());
    } else {
        std::fprintf(stderr, "vorn: %s: %s\n", path.c_str(), StatusText(status).c_str());
    }
}

}  // namespace

void WipePassword(std::optional<std::string>& password) {
    if (password) SecureWipe(password->data(), password->size());
    password.reset();
}

bool GivenPassword(const Options& options, std::optional<std::string>& password, bool confirm) {
    if (options.passwordFile && (options.password || options.askPassword)) {
        std::fprintf(stderr, "vorn: give either a password or a password file, not both\n");
        return false;
    }
    std::string error;
    if (options.passwordFile) {
        password = ReadPasswordFile(*options.passwordFile, error);
    } else if (options.askPassword) {
        password = TypedPassword(confirm, error);
    } else {
        password = options.password;
    }
    // The library opens nothing with a longer one, so pack must not encipher with it either.
    if (password && password->size() > format::kMaxPasswordBytes) {
        WipePassword(password);
        error = "a password is at most 259 bytes";
    }
    if (!error.empty()) std::fprintf(stderr, "vorn: %s\n", error.c_str());
    return error.empty();
}

void AskEntryPasswordIfNeeded(std::optional<std::string>& password, bool anyEnciphered) {
    if (anyEnciphered && !password && os::StdinIsTerminal()) {
        password = ReadHiddenLine("Password for the enciphered entries: ");
    }
}

format::Status Archive::Open(const std::string& path, const char* password, const Archive* model) {
    Close();
    return archive::OpenArchiveLike(&handle_, path.c_str(), password, VORN_OPEN_READONLY,
                                    model != nullptr ? model->handle() : nullptr);
}

void Archive::Close() {
    if (handle_) vorn_CloseStream(handle_);
    handle_ = nullptr;
}

bool OpenForCommand(Archive& archive, const std::string& path,
                    std::optional<std::string>& password) {
    format::Status status = archive.Open(path, PasswordText(password));
    if (status == format::Status::PasswordNeeded && !password) {
        if (!AskArchivePassword(path, password)) return false;
        status = archive.Open(path, password->c_str());
    }
    if (status == format::Status::Ok) return true;
    ReportOpenFailure(path, status, password.has_value());
    return false;
}

bool ReadDirectory(Archive& archive, Directory& directory, std::vector<uint64_t>* unreadableNames) {
    const uint64_t count = vorn_GetNumFiles(archive.handle());
    std::vector<DirectoryEntry>& entries = directory.entries;
    std::vector<char>& names = directory.names;
    entries.clear();
    names.clear();
    entries.reserve(static_cast<size_t>(count));
    platform::PrepareForWriting(entries.data(), entries.capacity() * sizeof(DirectoryEntry));
    // Room for names of 64 bytes on average: memory reserved and not used is never touched, and
    // growing the text would copy it and touch fresh pages each time.
    names.reserve(static_cast<size_t>(count) * 64);
    // One record's facts at a time, in a buffer that stays in the cache.
    VORN_FILEINFO info;
    for (uint64_t i = 0; i < count; ++i) {
        format::Status status = archive::EnumerateEntry(archive.handle(), &info, i);
        // The record was read (its facts are in info); only the name was not.
        if (status == format::Status::NotFound && unreadableNames) {
            info.szName[0] = '\0';
            unreadableNames->push_back(i);
        } else if (status != format::Status::Ok) {
            std::fprintf(stderr, "vorn: cannot read entry %" PRIu64 " of %" PRIu64 ": %s\n", i,
                         count, StatusText(status).c_str());
            return false;
        }
        info.szName[sizeof info.szName - 1] = '\0';
        uint32_t group = 0;
        archive::EntryGroup(archive.handle(), i, &group);
        entries.push_back(DirectoryEntry{info.qwStoredSize, info.qwUnpackedSize, info.qwFileTime,
                                         nullptr, info.dwAttributes, info.dwCRC, group});
        names.insert(names.end(), info.szName, info.szName + std::strlen(info.szName) + 1);
    }
    // The names no longer move: each entry's is the next one in the text.
    const char* name = names.data();
    for (DirectoryEntry& entry : entries) {
        entry.name = name;
        name += std::strlen(name) + 1;
    }
    return true;
}

}  // namespace tool
