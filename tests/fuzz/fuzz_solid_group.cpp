// Fuzz target: the entries of one solid group as the entry run reads them. The input is two data
// areas (a u16 split point, then the bytes): the first is decoded into an empty history, the
// second behind whatever the first left there, each as an entry of up to 256 KiB whose output is
// checked and dropped. Every block type may appear; a type-3 block's matches may reach back into
// the first entry's bytes and never before them. Any status is fine; reads or writes outside the
// history, the run's buffers or the input are not.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/entry_run.h"
#include "format/byte_order.h"

namespace {

constexpr uint32_t kEntryBytes = 256 * 1024;

struct Input {
    const uint8_t* data;
    size_t size, at;
};

int64_t Read(void* context, void* buffer, uint32_t count) {
    auto* in = static_cast<Input*>(context);
    size_t n = count < in->size - in->at ? count : in->size - in->at;
    std::memcpy(buffer, in->data + in->at, n);
    in->at += n;
    return static_cast<int64_t>(n);
}

bool Drop(void*, const uint8_t*, uint32_t) {
    return true;
}

void RunEntry(const uint8_t* data, size_t size, codec::LzHistory* history,
              codec::RunMemory memory) {
    Input in{data, size, 0};
    codec::EntryRun run{};
    run.storedSize = size;
    run.unpackedSize = kEntryBytes;
    run.lzBlocks = true;
    run.history = history;
    run.sink = codec::BlockSink{Drop, nullptr};
    run.memory = memory;
    codec::DecodeEntry(codec::EntryInput{&in, Read, nullptr}, run);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static codec::RunMemory memory = [] {
        codec::RunMemory m{nullptr, nullptr, nullptr};
        if (!codec::MapRunMemory(&m)) std::abort();
        return m;
    }();
    // Exactly the group's size: a write past it lands outside the allocation.
    std::vector<uint8_t> window(2 * kEntryBytes);
    codec::LzHistory history{window.data(), static_cast<uint32_t>(window.size()), 0};
    size_t split = format::LoadLE16(data);
    data += 2;
    size -= 2;
    if (split > size) split = size;
    RunEntry(data, split, &history, memory);
    RunEntry(data + split, size - split, &history, memory);
    return 0;
}
