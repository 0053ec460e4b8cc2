// The parts of a Windows program image (PE32 or PE32+) that the packer reads and rewrites: the
// section table, the data directories, the sizes that follow from the last section and the
// checksum. The self-extractor stubs are linked with their resource section last (see
// sfx/CMakeLists.txt), so that section can grow or shrink without moving any other section, and
// nothing that code or data refers to changes its address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

struct PeSection {
    char name[9] = {};  // as stored, NUL-terminated here
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    size_t headerOffset = 0;  // where its 40-byte header stands in the image
};

struct PeLayout {
    bool pe32Plus = false;
    size_t optionalHeader = 0;  // offsets into the image
    size_t checksumField = 0;
    size_t dataDirectories = 0;
    uint32_t dataDirectoryCount = 0;
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    std::vector<PeSection> sections;
};

// Data directory slots the packer looks at.
constexpr uint32_t kPeResourceDirectory = 2;
constexpr uint32_t kPeSecurityDirectory = 4;

// Reads the headers of image; false with a message when it is not a PE image or its headers do
// not hold together (sections outside the file, alignments that are not powers of two).
bool ReadPeLayout(const uint8_t* image, size_t size, PeLayout* layout, std::string* error);

// The address and size a data directory slot holds, or {0, 0} when the image has no such slot.
struct PeDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};
PeDirectory ReadPeDirectory(const uint8_t* image, const PeLayout& layout, uint32_t slot);

// The index of the resource section, which the packer can rebuild only when it is the image's
// last section in memory and in the file, holds the resource directory at its start and nothing
// else a data directory points to, and the file ends with it (an unsigned image without trailing
// data). False with a message naming what is otherwise.
bool FindRebuildableResources(const uint8_t* image, size_t size, const PeLayout& layout,
                              size_t* index, std::string* error);

// Puts section in place of the resource section found above: its raw data padded to the file
// alignment, the section's sizes, the image size, the size of initialised data, the resource
// directory slot, and a checksum computed over the new image.
void ReplaceResourceSection(std::vector<uint8_t>& image, const PeLayout& layout, size_t index,
                            const std::vector<uint8_t>& section);

// The checksum Windows computes for an image file (CheckSumMappedFile): the 16-bit words of the
// file summed with end-around carry, then the file's length added. The caller feeds every byte of
// the file in order with the checksum field itself as zeros.
class PeChecksum {
  public:
    void Update(const uint8_t* bytes, size_t size);
    uint32_t Finish() const;

  private:
    uint64_t sum_ = 0;
    uint64_t length_ = 0;
    int pendingLow_ = -1;  // the first byte of a word whose second byte is still to come
};

// The checksum of a whole image file held in memory, whose checksum field is at field.
uint32_t ComputePeChecksum(const uint8_t* image, size_t size, size_t field);

// Where the checksum field of a PE image stands, or nothing when bytes is not one.
std::optional<size_t> FindPeChecksumField(const uint8_t* bytes, size_t size);

}  // namespace pe
