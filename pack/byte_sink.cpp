// The writer's file sink, and whole-file reads.
#include "pack/byte_sink.h"

#include <algorithm>
#include <cstddef>

namespace pack {

namespace {

constexpr size_t kHeldBytes = 1u << 20;

bool SeekTo(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

FileSink::~FileSink() {
    if (file_ != nullptr) std::fclose(file_);
}

Status FileSink::Create(const std::string& path) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "w+b");  // read back for a program image's checksum
    if (file_ == nullptr) return Status::OutputNotCreated;
    std::setvbuf(file_, nullptr, _IONBF, 0);  // the held bytes are the only buffer
    held_.reserve(kHeldBytes);
    return Status::Ok;
}

Status FileSink::Flush() {
    if (held_.empty()) return Status::Ok;
    const bool written = std::fwrite(held_.data(), 1, held_.size(), file_) == held_.size();
    held_.clear();
    return written ? Status::Ok : Status::DiskFull;
}

Status FileSink::Append(const uint8_t* data, size_t size) {
    if (size == 0) return Status::Ok;
    if (file_ == nullptr) return Status::DiskFull;
    if (held_.size() + size > kHeldBytes && Flush() != Status::Ok) return Status::DiskFull;
    if (size >= kHeldBytes) {
        if (std::fwrite(data, 1, size, file_) != size) return Status::DiskFull;
    } else {
        held_.insert(held_.end(), data, data + size);
    }
    size_ += size;
    return Status::Ok;
}

Status FileSink::Rewrite(uint64_t offset, const uint8_t* data, size_t size) {
    if (file_ == nullptr || offset + size > size_) return Status::InvalidArgument;
    if (offset >= HeldFrom()) {
        std::copy(data, data + size,
                  held_.begin() + static_cast<std::ptrdiff_t>(offset - HeldFrom()));
        return Status::Ok;
    }
    if (offset + size > HeldFrom() && Flush() != Status::Ok) return Status::DiskFull;
    const uint64_t end = HeldFrom();
    bool written = SeekTo(file_, offset) && std::fwrite(data, 1, size, file_) == size;
    return written && SeekTo(file_, end) ? Status::Ok : Status::DiskFull;
}

Status FileSink::ReadBack(uint64_t offset, uint8_t* data, size_t size) {
    if (file_ == nullptr || offset + size > size_) return Status::InvalidArgument;
    if (Flush() != Status::Ok) return Status::DiskFull;
    // A stream switching from writing to reading must be positioned in between.
    bool read = SeekTo(file_, offset) && std::fread(data, 1, size, file_) == size;
    return read && SeekTo(file_, size_) ? Status::Ok : Status::ReadFailed;
}

Status FileSink::Close() {
    if (file_ == nullptr) return Status::InvalidArgument;
    const Status flushed = Flush();
    const int closed = std::fclose(file_);
    file_ = nullptr;
    return flushed == Status::Ok && closed == 0 ? Status::Ok : Status::DiskFull;
}

void FileSink::Discard() {
    if (file_ == nullptr) return;
    held_.clear();
    std::fclose(file_);
    file_ = nullptr;
    std::remove(path_.c_str());
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace pack
