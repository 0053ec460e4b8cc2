// Shared by the archive library's tests: archives built by the writer into temporary files, and a
// handle that closes itself.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "test_archive.h"

namespace archive_test {

// A path under the temporary folder that no other test (or test process) uses.
inline std::string UniquePath(const std::string& leaf) {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info ? std::string(info->test_suite_name()) + "_" + info->name() : "x";
    for (char& c : test) {
        if (c == '/') c = '_';
    }
    return (std::filesystem::temp_directory_path() /
            ("vorn_archive_" + test + "_" + std::to_string(counter++) + "_" + leaf))
        .string();
}

// A file that is removed when the test ends, read-only or not.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& leaf) : path(UniquePath(leaf)) {}
    TempFile(const std::string& leaf, const std::vector<uint8_t>& bytes) : TempFile(leaf) {
        EXPECT_TRUE(vorntest::WriteWholeFile(path, bytes));
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove(path, ec);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

struct Handle {
    void* h = nullptr;
    Handle() = default;
    ~Handle() {
        if (h) vorn_CloseStream(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

inline vorntest::TestEntry Entry(const std::string& name, const std::vector<uint8_t>& data) {
    vorntest::TestEntry e;
    e.name = name;
    e.data = data;
    return e;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Deterministic bytes that compress a little: runs of a small alphabet.
inline std::vector<uint8_t> SampleData(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>("abcdefgh \n"[(x >> 16) % 10]);
    }
    return data;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    std::fclose(f);
    return bytes;
}

inline void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(std::vector<uint8_t>& bytes, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes[at + i];
    return v;
}
// The stored size of the 40-byte record at record.
inline uint64_t LoadStoredSize(const std::vector<uint8_t>& bytes, size_t record) {
    return GetU32(bytes, record + 8) | (uint64_t{GetU32(bytes, record + 12)} << 32);
}

}  // namespace archive_test
