// The archive writer: writes a VORN archive entry by entry into a sink (a file, or one of the
// caller's), reading each entry's data one block at a time so that archives larger than memory can
// be made. Each record is written before its data with its sizes and CRC still unknown and
// rewritten once the data is out; the header is rewritten with the entry count at Finish.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/container.h"
#include "format/status.h"
#include "pack/byte_sink.h"
#include "pack/entry_data.h"
#include "pack/sealer.h"

namespace pack {

using format::Status;

struct BlockJob;
struct EncodedGroup;  // one solid group's encoding (archive_writer_groups.cpp)

// How one entry is stored.
struct EntryOptions {
    uint16_t attributes = format::kAttributeArchive;  // Windows attribute word
    uint64_t fileTime = 0;                            // FILETIME
    Method method = Method::Stored;
    uint32_t blockSize = kMaxBlockSize;  // output bytes per block
    EncoderOptions encoder;
    // Set: the entry's data is enciphered with it. In a sealed archive every entry is sealed,
    // under the archive's key when this is unset or the archive's password, else under its own.
    std::optional<std::string> password;
};

// Called after every block with the count of unpacked bytes written so far, over all entries.
using WriteProgress = std::function<void(uint64_t bytesDone)>;

// Changes what the writer is about to write. Sound archives need none; tests use it to make the
// broken forms a reader must refuse, each differing from the sound archive in one value only.
class LayoutHooks {
  public:
    virtual ~LayoutHooks() = default;
    // Before the header is written at the open and rewritten with its entry count at Finish.
    virtual void Header(format::ArchiveHeader& header) { (void)header; }
    // Before entry's record is rewritten with its sizes and CRC (entries count from 0).
    virtual void Record(uint64_t entry, format::EntryRecord& record) {
        (void)entry;
        (void)record;
    }
    virtual void Trailer(format::NameTrailer& trailer) { (void)trailer; }
    virtual uint8_t NamePadding() { return 0; }
    // Bytes written as entry's data area instead of its encoding; null: its encoding.
    virtual const std::vector<uint8_t>* DataArea(uint64_t entry) {
        (void)entry;
        return nullptr;
    }
};

// A sum that a prefix keeps over the whole output at a 4-byte field, as a Windows program image
// keeps its checksum (pack/stub_image.h). The writer writes the prefix with the field as zeros;
// at Finish it feeds Update every byte of the output in order, the field as zeros, and stores
// Finish's result in the field, little-endian.
class PrefixChecksum {
  public:
    virtual ~PrefixChecksum() = default;
    virtual size_t Field() const = 0;  // where the field stands in the prefix
    virtual void Update(const uint8_t* bytes, size_t size) = 0;
    virtual uint32_t Finish() const = 0;
};

// Every call returns a status and, on failure, leaves a message in Error(); after a failure the
// writer refuses further calls and a file output is incomplete (the caller removes it). Names
// longer than 255 bytes or holding a NUL and block sizes outside 1 to 8 MiB are InvalidArgument.
class ArchiveWriter {
  public:
    ArchiveWriter() = default;
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Given before an Open, they apply to everything written after it.
    void SetProgress(WriteProgress progress) { progress_ = std::move(progress); }
    void SetLayoutHooks(LayoutHooks* hooks) { hooks_ = hooks; }
    // The archive is sealed (format/sealed.h): Open derives the archive key and writes the seal
    // block; every record, every entry's stored data, the trailer and the names are sealed. Open
    // refuses an empty password or parameters readers refuse (InvalidArgument).
    void SetSealing(SealOptions options) { sealOptions_ = std::move(options); }

    // Creates (truncates) the file at path and writes prefix, a finished self-extractor's image
    // (pack/stub_image.h) or nothing, then the archive header. With checksum, which must outlive
    // Finish, the prefix's sum over the whole output is set at Finish.
    Status Open(const std::string& path, const std::vector<uint8_t>& prefix = {},
                PrefixChecksum* checksum = nullptr);
    // Writes into a sink of the caller's (pack/byte_sink.h), which must outlive Finish.
    Status Open(ByteSink& sink, const std::vector<uint8_t>& prefix = {},
                PrefixChecksum* checksum = nullptr);

    Status AddEntry(const std::string& name, const std::vector<uint8_t>& data,
                    const EntryOptions& options);
    // An entry from the file at sourcePath, read one block at a time.
    Status AddFile(const std::string& name, const std::string& sourcePath,
                   const EntryOptions& options);

    struct FileEntry {
        std::string name;
        std::string sourcePath;
        EntryOptions options;
    };
    // The files as entries in their order, their blocks encoded on jobs threads while the caller
    // reads the next ones and writes the finished ones in order: the same bytes whatever jobs is
    // (AddFile is the case of one file and one job). Memory stays bounded by two blocks in flight
    // per thread.
    Status AddFiles(const std::vector<FileEntry>& files, unsigned jobs);
    // The files as solid groups (format/solid.h), group after group and each group's files in
    // their order, every record naming its group. A group's blocks are LZ blocks with history,
    // encoded in turn; groups are encoded on jobs threads at once and written in order, so the
    // bytes are the same whatever jobs is. A group larger than a job's share of all their bytes
    // finds its matches on one more thread while its blocks are parsed. Each group holds at most
    // the window and no file with a password (pack/solid_groups.h chooses such groups); memory is
    // about ten times a group per thread.
    Status AddSolidGroups(const std::vector<std::vector<FileEntry>>& groups, unsigned jobs);

    // Adds the comment entry (when comment is set), the trailer and the name table, enciphered
    // when namesPassword is set, rewrites the header with the entry count and completes the output.
    // A sealed archive's names are always sealed under its key; a namesPassword other than its
    // password is InvalidArgument. When the prefix holds a self-extractor's settings block, the
    // sealed trailer carries its digest (SfxSettingsDigest).
    Status Finish(const std::optional<std::string>& comment = std::nullopt,
                  const std::optional<std::string>& namesPassword = std::nullopt,
                  Method commentMethod = Method::Stored);

    const std::string& Error() const { return error_; }

  private:
    // Supplies up to count bytes of an entry's data; returns the bytes given, 0 at its end, or -1
    // on a read error.
    using DataSource = std::function<int64_t(uint8_t* buffer, uint32_t count)>;
    struct OpenEntry;
    struct Step;
    struct Batch;

    // sink_ set, prefix written
    Status Start(ByteSink* sink, const std::vector<uint8_t>& prefix, PrefixChecksum* checksum);
    Status AddFromSource(Batch& batch, const std::string& name, const EntryOptions& options,
                         const DataSource& source);
    Status ReadBlock(const DataSource& source, const std::string& name, uint32_t blockSize,
                     std::vector<uint8_t>& buffer);
    Status Queue(Batch& batch, const Step& step, BlockJob* job);
    Status WriteStep(Batch& batch);
    Status Drain(Batch& batch);
    Status CheckEntry(const std::string& name, const EntryOptions& options);
    Status CheckSource(const std::string& sourcePath);
    Status WriteRecord(const OpenEntry& entry);
    Status WriteGroup(const std::vector<FileEntry>& files, EncodedGroup& group);
    Status WriteGroupRecord(uint64_t at, const EntryOptions& options, format::EntryRecord record);
    Status WriteHeader(bool rewrite);
    void EncodeHeaderBytes(bool rewrite, uint8_t bytes[format::kHeaderBytes]);
    Status StartSealing(const std::vector<uint8_t>& prefix);
    Status StartEntryData(OpenEntry& entry);
    Status WriteEntryData(const uint8_t* data, size_t size);
    Status EndEntryData(OpenEntry& entry);
    Status WriteNames(const format::NameTrailer& trailer, std::vector<uint8_t>& table);
    Status WritePrefixChecksum();
    Status Write(const uint8_t* data, size_t size);
    Status Usable();
    Status Fail(Status status, const std::string& message);

    ByteSink* sink_ = nullptr;
    FileSink file_;
    std::string path_;
    std::string error_;
    Status failed_ = Status::Ok;
    bool finished_ = false;
    bool lzBlocks_ = false;  // an entry may hold LZ blocks: the header carries the mark
    uint32_t groups_ = 0;    // solid groups written; any: the header carries their mark
    uint64_t base_ = 0;      // offset of the archive header in the output
    PrefixChecksum* checksum_ = nullptr;  // the prefix's sum over the output, if it keeps one
    std::vector<std::string> names_;
    uint64_t bytesDone_ = 0;
    WriteProgress progress_;
    LayoutHooks* hooks_ = nullptr;
    std::optional<SealOptions> sealOptions_;  // given, until Open wipes it
    std::unique_ptr<Sealer> sealer_;          // set: the archive is sealed
    SegmentSealer segments_;                  // the data of the entry being written
    uint8_t settingsDigest_[format::kSettingsDigestBytes] = {};
};

}  // namespace pack
