// Test archives: the product writer in memory, with hooks that put each broken form in place.
#include "test_archive.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "encoder/encoder_state.h"
#include "memory_sink.h"
#include "pack/stub_image.h"

namespace vorntest {

namespace {

class BrokenForms final : public pack::LayoutHooks {
  public:
    explicit BrokenForms(const TestArchive& archive) : archive_(archive) {}

    void Header(format::ArchiveHeader& header) override {
        header.version = archive_.version;
        header.flags = archive_.flags;
        if (archive_.reserved) header.reserved = *archive_.reserved;
        if (archive_.entryCountOverride) header.entryCount = *archive_.entryCountOverride;
    }
    void Record(uint64_t index, format::EntryRecord& record) override {
        const TestEntry* entry = EntryAt(index);
        if (entry == nullptr) return;
        record.storedSize = entry->storedSizeOverride.value_or(record.storedSize);
        record.unpackedSize = entry->unpackedSizeOverride.value_or(record.unpackedSize);
        record.crc = entry->crcOverride.value_or(record.crc);
    }
    void Trailer(format::NameTrailer& trailer) override {
        trailer.namesCrc = archive_.namesCrcOverride.value_or(trailer.namesCrc);
        trailer.namesLength = archive_.namesLengthOverride.value_or(trailer.namesLength);
        trailer.namesEncrypted = archive_.namesEncryptedOverride.value_or(trailer.namesEncrypted);
    }
    uint8_t NamePadding() override { return archive_.paddingByte; }
    const std::vector<uint8_t>* DataArea(uint64_t index) override {
        const TestEntry* entry = EntryAt(index);
        return entry != nullptr && entry->rawStoredData ? &*entry->rawStoredData : nullptr;
    }

  private:
    // The comment entry, written last, has no test entry.
    const TestEntry* EntryAt(uint64_t index) const {
        return index < archive_.entries.size() ? &archive_.entries[index] : nullptr;
    }
    const TestArchive& archive_;
};

}  // namespace

pack::Status WriteTestArchive(const TestArchive& archive, const std::string& path,
                              pack::ArchiveWriter& writer, pack::ByteSink* sink) {
    // The hooks live as long as the writer uses them: until it has finished.
    BrokenForms hooks(archive);
    writer.SetLayoutHooks(&hooks);
    if (archive.seal) writer.SetSealing(*archive.seal);
    // A program image in front keeps its checksum right, as a packed self-extractor does.
    std::optional<pack::ImageChecksum> checksum = pack::ImageChecksumOf(archive.prefix);
    pack::PrefixChecksum* sum = checksum ? &*checksum : nullptr;
    pack::Status status = path.empty() ? writer.Open(*sink, archive.prefix, sum)
                                       : writer.Open(path, archive.prefix, sum);
    for (const TestEntry& entry : archive.entries) {
        if (status == pack::Status::Ok) {
            status = writer.AddEntry(entry.name, entry.data, entry);
        }
    }
    if (status == pack::Status::Ok) {
        status = writer.Finish(archive.comment, archive.namesPassword, archive.commentMethod);
    }
    writer.SetLayoutHooks(nullptr);
    return status;
}

std::vector<uint8_t> BuildTestArchive(const TestArchive& archive) {
    MemorySink memory;
    pack::ArchiveWriter writer;
    if (WriteTestArchive(archive, "", writer, &memory) != pack::Status::Ok) {
        throw std::invalid_argument(writer.Error());
    }
    return std::move(memory.bytes());
}

std::vector<uint8_t> EncodeTestEntryData(const std::vector<uint8_t>& data, pack::Method method,
                                         uint32_t blockSize, const pack::EncoderOptions& encoder,
                                         const char* password) {
    if (pack::CheckBlockSize(blockSize) != pack::Status::Ok) {
        throw std::invalid_argument("block size must be 1 to 8 MiB");
    }
    std::vector<uint8_t> out;
    pack::EncoderState state;
    for (size_t at = 0; at < data.size(); at += blockSize) {
        const uint32_t size = static_cast<uint32_t>(std::min<size_t>(blockSize, data.size() - at));
        if (pack::AppendEntryBlock(data.data() + at, size, method, encoder, state, password, out) !=
            pack::Status::Ok) {
            throw std::invalid_argument("the entry's data cannot be encoded so");
        }
    }
    return out;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace vorntest
