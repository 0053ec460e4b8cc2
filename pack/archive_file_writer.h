// The streaming archive writer: writes a VORN archive straight to a file, entry by entry, reading
// source files one block at a time so that archives larger than memory can be made. Each record is
// written before its data with its sizes and CRC still unknown and rewritten once the data is
// out; the header's entry count is rewritten at Finish. For the same entries it produces the same
// bytes as BuildArchive.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pack/archive_writer.h"

namespace pack {

// How one entry is stored; the fields mean what the same fields of EntrySpec mean.
struct EntryOptions {
    uint16_t attributes = 0x20;
    uint64_t fileTime = 0;
    Method method = Method::Stored;
    uint32_t blockSize = kMaxBlockSize;
    EncoderOptions encoder;
    std::optional<std::string> password;  // set: the entry's data is enciphered with it
};

// Called after every block with the count of unpacked bytes written so far, over all entries.
using WriteProgress = std::function<void(uint64_t bytesDone)>;

// Every call returns false on failure and leaves a message in Error(); after a failure the
// writer refuses further calls and the output file is incomplete (the caller removes it). Names
// longer than kMaxNameBytes or holding a NUL, and block sizes outside 1 to 8 MiB, are failures
// like I/O errors, not exceptions.
class ArchiveFileWriter {
  public:
    ArchiveFileWriter() = default;
    ~ArchiveFileWriter();
    ArchiveFileWriter(const ArchiveFileWriter&) = delete;
    ArchiveFileWriter& operator=(const ArchiveFileWriter&) = delete;

    // Creates (truncates) the file at path and writes prefix, then the archive header.
    bool Open(const std::string& path, const std::vector<uint8_t>& prefix = {}, uint32_t flags = 0);
    // Like Open, with a program image copied from stubPath as the prefix. The image must not
    // hold the archive signature (see FindArchiveSignature), else a reader would stop there.
    // With builtInDestination, the copy's built-in default destination is set to it.
    bool OpenWithStub(const std::string& path, const std::string& stubPath, uint32_t flags = 0,
                      const std::optional<std::string>& builtInDestination = std::nullopt);

    void SetProgress(WriteProgress progress) { progress_ = std::move(progress); }

    // Adds an entry from memory; all fields of entry are honoured, the broken forms included.
    bool AddEntry(const EntrySpec& entry);
    bool AddEntry(const std::string& name, const std::vector<uint8_t>& data,
                  const EntryOptions& options);
    // Adds an entry from the file at sourcePath, read one block at a time.
    bool AddFile(const std::string& name, const std::string& sourcePath,
                 const EntryOptions& options);

    // Adds the comment entry (when comment is set), the trailer and the name table, enciphered
    // when namesPassword is set, rewrites the header's entry count and closes the file.
    bool Finish(const std::optional<std::string>& comment = std::nullopt,
                const std::optional<std::string>& namesPassword = std::nullopt,
                uint8_t paddingByte = 0, Method commentMethod = Method::Stored);

    // Closes and removes an unfinished archive file, after a failure or a cancel; the writer
    // then refuses further calls. Does nothing once Finish has closed the file.
    void Abandon();

    const std::string& Error() const { return error_; }
    uint64_t EntryCount() const { return names_.size(); }

  private:
    // Supplies up to count bytes of an entry's data; returns the bytes given, 0 at its end, or -1
    // on a read error.
    using DataSource = std::function<int64_t(uint8_t* buffer, uint32_t count)>;

    bool AddFromSource(const std::string& name, const EntryOptions& options,
                       const DataSource& source, const EntrySpec* overrides);
    bool WriteBytes(const uint8_t* data, size_t size);
    bool Seek(uint64_t offset);
    uint64_t Tell();
    bool Fail(const std::string& message);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    bool failed_ = false;
    uint64_t base_ = 0;  // file offset of the archive header
    std::vector<std::string> names_;
    std::vector<uint8_t> block_;    // one block of input
    std::vector<uint8_t> encoded_;  // its encoding
    uint64_t bytesDone_ = 0;
    WriteProgress progress_;
};

}  // namespace pack
