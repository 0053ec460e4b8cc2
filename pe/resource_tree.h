// A program image's resources as a flat list (type, name, language, data), read from a resource
// section and written back into one. Windows looks resources up through a three-level directory:
// types, then names, then languages; named entries come first, sorted by name, then numbered ones
// in ascending order, which the loader's binary search relies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

// A type or a name: a number, or (when text is not empty) a string.
struct ResourceKey {
    uint16_t id = 0;
    std::u16string text;

    static ResourceKey Id(uint16_t value) { return ResourceKey{value, {}}; }
    bool IsNamed() const { return !text.empty(); }
    bool operator==(const ResourceKey& other) const { return id == other.id && text == other.text; }
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Standard resource types.
constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;
constexpr uint16_t kResourceManifest = 24;

// What the reader takes from one section at most: a real program has a few dozen resources; a
// section whose directories point many times at the same data must not make copies without end.
constexpr size_t kMaxResources = 4096;
constexpr size_t kMaxResourceBytes = 64u << 20;

// Reads every resource of section (size bytes, loaded at sectionRva). False with a message when
// the directory is not the three levels described above or points outside the section.
bool ReadResources(const uint8_t* section, size_t size, uint32_t sectionRva,
                   std::vector<Resource>* resources, std::string* error);

// The bytes of a resource section holding resources, to be loaded at sectionRva: the directory
// tables, the data entries, the names, then each resource's data on an 8-byte boundary. The same
// resources in any order give the same bytes; every time stamp is zero.
std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources,
                                          uint32_t sectionRva);

}  // namespace pe
