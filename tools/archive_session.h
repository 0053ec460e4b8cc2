// An archive opened for a command: the handle as an owning object, the command's passwords (given
// with -p or --password-file, or typed when asked for), the opening with its password question and
// failure texts, and the listing of the entries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "format/container.h"
#include "format/status.h"
#include "tools/options.h"

namespace tool {

using format::kCommentName;

// Owns one open archive.
class Archive {
  public:
    Archive() = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ~Archive() { Close(); }

    // model: an archive open on the same file whose key may serve (archive::OpenArchiveLike).
    format::Status Open(const std::string& path, const char* password,
                        const Archive* model = nullptr);
    void Close();
    void* handle() const { return handle_; }

  private:
    void* handle_ = nullptr;
};

// Opens the archive for a command. When the name table is enciphered and no password was given,
// asks for one on a terminal. Prints the reason of a failure and returns false.
// password is updated with the one that opened the archive, if any.
bool OpenForCommand(Archive& archive, const std::string& path,
                    std::optional<std::string>& password);

// One entry of the archive as the commands keep it: its record's facts and its name, which lives
// in the directory's one text of names. A 256-byte name buffer per entry would make 100,000
// entries 30 MB, each page touched for the first time before the first entry is decoded.
struct DirectoryEntry {
    uint64_t storedSize;    // bytes of stored data in the archive
    uint64_t unpackedSize;  // bytes after decoding
    uint64_t fileTime;      // Windows FILETIME
    const char* name;       // "\" between levels, NUL-terminated; "" when it could not be read
    uint32_t attributes;    // the record's attribute word, plus VORN_ATTR_ENCRYPTED
    uint32_t crc;           // of the decoded data
    uint32_t group;         // the entry's solid group, 0 for none
};

// Every entry of the archive, in directory order. The entries point into names, so a directory
// is moved, never copied.
struct Directory {
    std::vector<DirectoryEntry> entries;
    std::vector<char> names;

    Directory() = default;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    Directory(Directory&&) = default;
    Directory& operator=(Directory&&) = default;
};

// Reads the archive's directory. Prints the failure and returns false. With unreadableNames, an
// entry whose record reads but whose name does not (longer than 255 bytes, or cut off by the end
// of the name table) is kept with an empty name and its index added there, so that the caller
// refuses it alone.
bool ReadDirectory(Archive& archive, Directory& directory,
                   std::vector<uint64_t>* unreadableNames = nullptr);

// The password the command line gives: -p with its value, typed on the terminal for -p without
// one (twice with confirm), or the first line of --password-file. Prints the failure and returns
// false.
bool GivenPassword(const Options& options, std::optional<std::string>& password,
                   bool confirm = false);

// Overwrites a password's bytes and forgets it: every copy a command keeps, once it is done.
void WipePassword(std::optional<std::string>& password);

// Wipes a password when it goes out of scope, on every way out of the command that holds it.
class PasswordWiper {
  public:
    explicit PasswordWiper(std::optional<std::string>& password) : password_(password) {}
    ~PasswordWiper() { WipePassword(password_); }
    PasswordWiper(const PasswordWiper&) = delete;
    PasswordWiper& operator=(const PasswordWiper&) = delete;

  private:
    std::optional<std::string>& password_;
};

// When enciphered entries are to be decoded and no password is known, asks for one on a
// terminal.
void AskEntryPasswordIfNeeded(std::optional<std::string>& password, bool anyEnciphered);

// Whether the file at path is a self-extractor whose settings say a licence is packed: its entry
// format::kLicenseName is then the licence, never a file to extract (tools/read.cpp).
bool PacksLicense(const std::string& path);

// A password as the library takes it: null when there is none.
inline const char* PasswordText(const std::optional<std::string>& password) {
    return password ? password->c_str() : nullptr;
}

inline bool IsEncrypted(const DirectoryEntry& entry) {
    return (entry.attributes & VORN_ATTR_ENCRYPTED) != 0;
}

}  // namespace tool
