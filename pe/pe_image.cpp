// Reading and rewriting the headers of a PE32 or PE32+ image, and its checksum.
#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>

#include "format/byte_order.h"

namespace pe {

namespace {

using format::LoadLE16;
using format::LoadLE32;
using format::StoreLE32;

constexpr size_t kCoffHeaderBytes = 20;
constexpr size_t kSectionHeaderBytes = 40;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
// Offsets inside the optional header; the two forms agree on these.
constexpr size_t kSizeOfInitializedData = 8;
constexpr size_t kSectionAlignment = 32;
constexpr size_t kFileAlignment = 36;
constexpr size_t kSizeOfImage = 56;
constexpr size_t kCheckSum = 64;
constexpr uint32_t kMaxFileAlignment = 64u << 10;

bool Fail(std::string* error, const char* message) {
    if (error != nullptr) *error = message;
    return false;
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

bool ReadSections(const uint8_t* image, size_t size, size_t table, uint16_t count, PeLayout* layout,
                  std::string* error) {
    if (count == 0) return Fail(error, "the image has no sections");
    if (size < table || (size - table) / kSectionHeaderBytes < count) {
        return Fail(error, "the image's section table runs past its end");
    }
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* h = image + table + i * kSectionHeaderBytes;
        PeSection s;
        std::memcpy(s.name, h, 8);
        s.virtualSize = LoadLE32(h + 8);
        s.virtualAddress = LoadLE32(h + 12);
        s.rawSize = LoadLE32(h + 16);
        s.rawOffset = LoadLE32(h + 20);
        s.headerOffset = table + i * kSectionHeaderBytes;
        if (s.rawSize != 0 && (s.rawOffset > size || size - s.rawOffset < s.rawSize)) {
            return Fail(error, "a section of the image lies outside its file");
        }
        layout->sections.push_back(s);
    }
    return true;
}

}  // namespace

bool ReadPeLayout(const uint8_t* image, size_t size, PeLayout* layout, std::string* error) {
    *layout = PeLayout();
    if (size < 64 || image[0] != 'M' || image[1] != 'Z') {
        return Fail(error, "not a Windows program (no MZ header)");
    }
    const uint32_t pe = LoadLE32(image + 0x3c);
    if (pe > size || size - pe < 4 + kCoffHeaderBytes || std::memcmp(image + pe, "PE\0\0", 4)) {
        return Fail(error, "not a Windows program (no PE header)");
    }
    const uint8_t* coff = image + pe + 4;
    const uint16_t sectionCount = LoadLE16(coff + 2);
    const uint16_t optionalSize = LoadLE16(coff + 16);
    layout->optionalHeader = pe + 4 + kCoffHeaderBytes;
    if (size - layout->optionalHeader < optionalSize || optionalSize < 2) {
        return Fail(error, "the image's optional header runs past its end");
    }
    const uint8_t* opt = image + layout->optionalHeader;
    const uint16_t magic = LoadLE16(opt);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        return Fail(error, "the image is neither PE32 nor PE32+");
    }
    layout->pe32Plus = magic == kPe32PlusMagic;
    const size_t countField = layout->pe32Plus ? 108 : 92;
    if (optionalSize < countField + 4) return Fail(error, "the image's optional header is short");
    layout->sectionAlignment = LoadLE32(opt + kSectionAlignment);
    layout->fileAlignment = LoadLE32(opt + kFileAlignment);
    if (!IsPowerOfTwo(layout->sectionAlignment) || !IsPowerOfTwo(layout->fileAlignment)) {
        return Fail(error, "the image's alignments are not powers of two");
    }
    // Windows loads no image whose file alignment passes 64 KiB or its section alignment; a larger
    // one would also pad a rebuilt section to many megabytes.
    if (layout->fileAlignment > kMaxFileAlignment ||
        layout->fileAlignment > layout->sectionAlignment) {
        return Fail(error, "the image's file alignment is not one Windows loads");
    }
    layout->checksumField = layout->optionalHeader + kCheckSum;
    layout->dataDirectories = layout->optionalHeader + countField + 4;
    const uint32_t declared = LoadLE32(opt + countField);
    const uint32_t room = static_cast<uint32_t>((optionalSize - countField - 4) / 8);
    layout->dataDirectoryCount = std::min(declared, room);
    return ReadSections(image, size, layout->optionalHeader + optionalSize, sectionCount, layout,
                        error);
}

PeDirectory ReadPeDirectory(const uint8_t* image, const PeLayout& layout, uint32_t slot) {
    if (slot >= layout.dataDirectoryCount) return {};
    const uint8_t* entry = image + layout.dataDirectories + 8 * slot;
    return {LoadLE32(entry), LoadLE32(entry + 4)};
}

bool FindRebuildableResources(const uint8_t* image, size_t size, const PeLayout& layout,
                              size_t* index, std::string* error) {
    const PeDirectory resources = ReadPeDirectory(image, layout, kPeResourceDirectory);
    if (resources.rva == 0) return Fail(error, "the stub has no resource section");
    if (ReadPeDirectory(image, layout, kPeSecurityDirectory).size != 0) {
        return Fail(error, "the stub is signed; brand an unsigned stub, then sign the result");
    }
    const size_t last = layout.sections.size() - 1;
    const PeSection& s = layout.sections[last];
    for (size_t i = 0; i < last; ++i) {
        const PeSection& other = layout.sections[i];
        if (other.virtualAddress >= s.virtualAddress ||
            (other.rawSize != 0 && other.rawOffset + uint64_t{other.rawSize} > s.rawOffset)) {
            return Fail(error, "the stub's sections are not in address order");
        }
    }
    if (resources.rva < s.virtualAddress) {
        return Fail(error,
                    "the stub's resource section is not its last section, so it cannot be "
                    "rebuilt without moving other sections");
    }
    if (resources.rva != s.virtualAddress) {
        return Fail(error, "the stub's resources do not start its last section");
    }
    if (s.rawOffset + uint64_t{s.rawSize} != size) {
        return Fail(error, "the stub has data after its last section");
    }
    // The rebuilt section may grow, so no other table may lie inside it or beyond its start
    // (beyond it there is nothing of the image; the certificate table's "rva" is a file offset
    // and was refused above).
    for (uint32_t slot = 0; slot < layout.dataDirectoryCount; ++slot) {
        const PeDirectory d = ReadPeDirectory(image, layout, slot);
        if (slot != kPeResourceDirectory && slot != kPeSecurityDirectory &&
            d.rva >= s.virtualAddress) {
            return Fail(error, "the stub's resource section holds more than its resources");
        }
    }
    *index = last;
    return true;
}

void ReplaceResourceSection(std::vector<uint8_t>& image, const PeLayout& layout, size_t index,
                            const std::vector<uint8_t>& section) {
    const PeSection& s = layout.sections[index];
    const auto length = static_cast<uint32_t>(section.size());
    const uint32_t rawSize = AlignUp(length, layout.fileAlignment);
    image.resize(s.rawOffset);
    image.insert(image.end(), section.begin(), section.end());
    image.resize(s.rawOffset + size_t{rawSize}, 0);

    uint8_t* header = image.data() + s.headerOffset;
    StoreLE32(header + 8, length);
    StoreLE32(header + 16, rawSize);
    uint8_t* opt = image.data() + layout.optionalHeader;
    StoreLE32(opt + kSizeOfImage, AlignUp(s.virtualAddress + length, layout.sectionAlignment));
    StoreLE32(opt + kSizeOfInitializedData,
              LoadLE32(opt + kSizeOfInitializedData) - s.rawSize + rawSize);
    uint8_t* slot = image.data() + layout.dataDirectories + 8 * kPeResourceDirectory;
    StoreLE32(slot, s.virtualAddress);
    StoreLE32(slot + 4, length);
    StoreLE32(image.data() + layout.checksumField, 0);
    StoreLE32(image.data() + layout.checksumField,
              ComputePeChecksum(image.data(), image.size(), layout.checksumField));
}

void PeChecksum::Update(const uint8_t* bytes, size_t size) {
    length_ += size;
    size_t at = 0;
    if (pendingLow_ >= 0 && size > 0) {
        sum_ += static_cast<uint64_t>(pendingLow_) | (uint64_t{bytes[0]} << 8);
        pendingLow_ = -1;
        at = 1;
    }
    uint64_t sum = sum_;
    for (; at + 1 < size; at += 2) sum += LoadLE16(bytes + at);
    sum_ = sum;
    if (at < size) pendingLow_ = bytes[at];
}

uint32_t PeChecksum::Finish() const {
    uint64_t sum = sum_ + (pendingLow_ >= 0 ? static_cast<uint64_t>(pendingLow_) : 0);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + length_);
}

uint32_t ComputePeChecksum(const uint8_t* image, size_t size, size_t field) {
    PeChecksum checksum;
    const uint8_t zeros[4] = {};
    checksum.Update(image, field);
    checksum.Update(zeros, 4);
    checksum.Update(image + field + 4, size - field - 4);
    return checksum.Finish();
}

std::optional<size_t> FindPeChecksumField(const uint8_t* bytes, size_t size) {
    PeLayout layout;
    if (!ReadPeLayout(bytes, size, &layout, nullptr)) return std::nullopt;
    return layout.checksumField;
}

}  // namespace pe
