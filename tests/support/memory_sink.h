// A sink that keeps the archive writer's bytes in memory, so tests read what was written without
// a file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pack/byte_sink.h"

namespace vorntest {

class MemorySink final : public pack::ByteSink {
  public:
    pack::Status Append(const uint8_t* data, size_t size) override {
        bytes_.insert(bytes_.end(), data, data + size);
        return pack::Status::Ok;
    }
    pack::Status Rewrite(uint64_t offset, const uint8_t* data, size_t size) override {
        if (offset + size > bytes_.size()) return pack::Status::InvalidArgument;
        std::copy(data, data + size, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        return pack::Status::Ok;
    }
    uint64_t Size() const override { return bytes_.size(); }
    pack::Status ReadBack(uint64_t offset, uint8_t* data, size_t size) override {
        if (offset + size > bytes_.size()) return pack::Status::InvalidArgument;
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), size, data);
        return pack::Status::Ok;
    }
    pack::Status Close() override { return pack::Status::Ok; }
    void Discard() override { bytes_.clear(); }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace vorntest
