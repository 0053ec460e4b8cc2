// Fuzz target: the name-table walk. The input's bytes become the name table of an otherwise
// valid archive; byte 0 says whether the table is enciphered (with a correct CRC, so the open
// gets past the password check and the deciphered table is walked) and byte 1 gives the entry
// count. Record n carries n as its file time, so a lookup reveals which index it found. Checked
// against a plain walk of the padded table: which indices enumerate, with which name, and that
// a lookup by an enumerated name finds the first entry carrying it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/vorn.h"
#include "crypto/blowfish.h"
#include "crypto/crc32.h"

namespace {

constexpr char kPassword[] = "secret";

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU64(std::vector<uint8_t>& out, uint64_t v) {
    PutU32(out, static_cast<uint32_t>(v));
    PutU32(out, static_cast<uint32_t>(v >> 32));
}

const char* ScratchPath() {
    static char path[64];
    if (!path[0]) std::snprintf(path, sizeof path, "/dev/shm/vorn-fuzz-names-%d.bin", getpid());
    return path;
}

bool WriteScratch(const std::vector<uint8_t>& bytes) {
    int fd = open(ScratchPath(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const bool enciphered = (data[0] & 1) != 0;
    const uint64_t count = data[1];
    std::vector<uint8_t> table(data + 2, data + size);
    const uint32_t namesLength = static_cast<uint32_t>(table.size());
    table.resize((table.size() + 15) & ~size_t{15}, data[0]);  // padding of any value

    std::vector<uint8_t> file;
    PutU32(file, 0x4E524F56);
    PutU32(file, 0x8f000002);
    PutU64(file, count);
    PutU32(file, 0);
    PutU32(file, 0);
    for (uint64_t i = 0; i < count; ++i) {
        PutU32(file, 0);
        PutU32(file, 0);
        PutU64(file, 0);  // stored size
        PutU64(file, 0);  // unpacked size
        PutU64(file, i);  // file time: the index
        PutU32(file, 0);
        PutU32(file, 0);
    }
    Crc32 crc;
    crc.Update(table.data(), namesLength);
    file.push_back(0);
    file.push_back(enciphered ? 1 : 0);
    file.push_back(0);
    file.push_back(0);
    PutU32(file, crc.Value());
    PutU32(file, namesLength);
    std::vector<uint8_t> stored = table;
    if (enciphered) {
        BlowfishContext ctx;
        BlowfishSetPassword(&ctx, kPassword);
        for (size_t at = 0; at < stored.size(); at += 16) EncryptNameUnit(&ctx, &stored[at]);
    }
    file.insert(file.end(), stored.begin(), stored.end());
    if (!WriteScratch(file)) return 0;

    // The plain walk: run n is the bytes before the n-th NUL of the padded table.
    std::vector<std::string> runs;
    for (size_t at = 0; at < table.size();) {
        const void* nul = std::memchr(&table[at], 0, table.size() - at);
        if (nul == nullptr) break;
        size_t end = static_cast<size_t>(static_cast<const uint8_t*>(nul) - table.data());
        runs.emplace_back(reinterpret_cast<const char*>(&table[at]), end - at);
        at = end + 1;
    }

    void* handle = nullptr;
    uint32_t status = vorn_OpenStream(&handle, ScratchPath(), enciphered ? kPassword : nullptr, 2);
    if (status != VORN_SUCCESS) std::abort();  // the container around the table is sound
    if (vorn_GetNumFiles(handle) != count) std::abort();
    for (uint64_t i = 0; i < count; ++i) {
        VORN_FILEINFO info;
        uint32_t got = vorn_EnumerateFiles(handle, &info, i);
        bool expected = i < runs.size() && runs[i].size() <= 255;
        if ((got == VORN_SUCCESS) != expected) std::abort();
        if (!expected) continue;
        if (runs[i] != info.szName || info.qwFileTime != i) std::abort();
        VORN_FILEINFO byName;
        if (vorn_GetFileInfo(handle, &byName, info.szName) != VORN_SUCCESS) std::abort();
        size_t first = 0;
        while (runs[first] != runs[i]) ++first;
        if (byName.qwFileTime != first) std::abort();
    }
    // Names past the entry count: the lookup walks on over trailer and table as records.
    for (size_t i = count; i < runs.size() && i < count + 8; ++i) {
        if (runs[i].size() > 255) continue;
        VORN_FILEINFO info;
        vorn_GetFileInfo(handle, &info, runs[i].c_str());
    }
    if (vorn_CloseStream(handle) != VORN_SUCCESS) std::abort();
    return 0;
}
