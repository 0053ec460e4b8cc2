// Where the archive writer's bytes go: appended in order, with a way back to bytes already written,
// since a record's sizes and CRC and the header's entry count are only known after what follows
// them. The writer keeps a file sink; a caller may give it any other.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "format/status.h"

namespace pack {

using format::Status;

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual Status Append(const uint8_t* data, size_t size) = 0;
    // Replaces size bytes written earlier, from offset on.
    virtual Status Rewrite(uint64_t offset, const uint8_t* data, size_t size) = 0;
    virtual uint64_t Size() const = 0;
    // Reads size bytes written earlier, from offset on, into data.
    virtual Status ReadBack(uint64_t offset, uint8_t* data, size_t size) = 0;
    // Completes the output (a file is closed); no call may follow.
    virtual Status Close() = 0;
    // Throws the unfinished output away (a file is closed and removed).
    virtual void Discard() = 0;
};

// A file created (or truncated) at a path; large archives never have to fit in memory.
class FileSink final : public ByteSink {
  public:
    ~FileSink() override;
    // OutputNotCreated when the file cannot be created.
    Status Create(const std::string& path);
    Status Append(const uint8_t* data, size_t size) override;
    Status Rewrite(uint64_t offset, const uint8_t* data, size_t size) override;
    uint64_t Size() const override { return size_; }
    Status ReadBack(uint64_t offset, uint8_t* data, size_t size) override;
    Status Close() override;
    void Discard() override;

  private:
    // Hands the bytes held back to the file.
    Status Flush();
    uint64_t HeldFrom() const { return size_ - held_.size(); }

    std::FILE* file_ = nullptr;
    std::string path_;
    uint64_t size_ = 0;
    // The last bytes appended, not yet in the file, from HeldFrom() on. A record rewritten while
    // its entry is still held, as every small entry's is, is patched here: a seek back into the
    // file cost seven calls per entry and broke the writes into pieces of a few hundred bytes.
    std::vector<uint8_t> held_;
};

// Reads a whole file into bytes; false on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace pack
