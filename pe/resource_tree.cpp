// Reading and building resource sections.
#include "pe/resource_tree.h"

#include <algorithm>

#include "format/byte_order.h"

namespace pe {

namespace {

using format::LoadLE16;
using format::LoadLE32;
using format::StoreLE16;
using format::StoreLE32;

constexpr size_t kDirectoryBytes = 16;
constexpr size_t kEntryBytes = 8;
constexpr size_t kDataEntryBytes = 16;
constexpr uint32_t kHighBit = 0x80000000u;

class SectionReader {
  public:
    SectionReader(const uint8_t* section, size_t size, uint32_t rva, std::vector<Resource>* out)
        : section_(section), size_(size), rva_(rva), out_(out) {}

    bool Directory(uint32_t offset, int level, Resource& path) {
        if (offset > size_ || size_ - offset < kDirectoryBytes) return Fail("a directory");
        const uint8_t* d = section_ + offset;
        const size_t count = size_t{LoadLE16(d + 12)} + LoadLE16(d + 14);
        if ((size_ - offset - kDirectoryBytes) / kEntryBytes < count) return Fail("a directory");
        for (size_t i = 0; i < count; ++i) {
            // Directories may share tables; the walk is bounded however they point.
            if (++visited_ > 4 * kMaxResources) return TooMany();
            const uint8_t* e = d + kDirectoryBytes + i * kEntryBytes;
            ResourceKey key;
            if (!Key(LoadLE32(e), key)) return false;
            if (level == 0) path.type = key;
            if (level == 1) path.name = key;
            if (level == 2) path.language = key.id;
            const uint32_t target = LoadLE32(e + 4);
            const bool isDirectory = (target & kHighBit) != 0;
            if (isDirectory != (level < 2) || (level == 2 && key.IsNamed())) {
                error = "the stub's resource directory is not three levels deep";
                return false;
            }
            if (!(isDirectory ? Directory(target & ~kHighBit, level + 1, path)
                              : Data(target, path))) {
                return false;
            }
        }
        return true;
    }

    std::string error;

  private:
    bool Fail(const char* what) {
        error = std::string("the stub's resource section has ") + what + " outside it";
        return false;
    }

    bool TooMany() {
        error = "the stub has more resources than a program needs";
        return false;
    }

    bool Key(uint32_t raw, ResourceKey& key) {
        if ((raw & kHighBit) == 0) {
            if (raw > 0xffff) return Fail("a number");
            key = ResourceKey::Id(static_cast<uint16_t>(raw));
            return true;
        }
        const uint32_t at = raw & ~kHighBit;
        if (at > size_ || size_ - at < 2) return Fail("a name");
        const uint16_t length = LoadLE16(section_ + at);
        if ((size_ - at - 2) / 2 < length) return Fail("a name");
        key.id = 0;
        key.text.clear();
        for (uint16_t i = 0; i < length; ++i) {
            key.text.push_back(static_cast<char16_t>(LoadLE16(section_ + at + 2 + 2 * i)));
        }
        if (key.text.empty()) {
            error = "the stub has a resource with an empty name";
            return false;
        }
        return true;
    }

    bool Data(uint32_t at, Resource& path) {
        if (at > size_ || size_ - at < kDataEntryBytes) return Fail("a data entry");
        const uint32_t rva = LoadLE32(section_ + at);
        const uint32_t length = LoadLE32(section_ + at + 4);
        if (rva < rva_ || rva - rva_ > size_ || size_ - (rva - rva_) < length) {
            return Fail("resource data");
        }
        total_ += length;
        if (out_->size() >= kMaxResources || total_ > kMaxResourceBytes) return TooMany();
        path.codePage = LoadLE32(section_ + at + 8);
        const uint8_t* data = section_ + (rva - rva_);
        path.data.assign(data, data + length);
        out_->push_back(path);
        return true;
    }

    const uint8_t* section_;
    size_t size_;
    uint32_t rva_;
    std::vector<Resource>* out_;
    uint64_t total_ = 0;
    size_t visited_ = 0;
};

// The loader's order: named keys first, by their text, then numbers.
bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
    if (a.IsNamed() != b.IsNamed()) return a.IsNamed();
    return a.IsNamed() ? a.text < b.text : a.id < b.id;
}

bool ResourceLess(const Resource* a, const Resource* b) {
    if (!(a->type == b->type)) return KeyLess(a->type, b->type);
    if (!(a->name == b->name)) return KeyLess(a->name, b->name);
    return a->language < b->language;
}

// One directory table: its entries' keys and, for each, the index of what it leads to (a
// table of the next level, or a resource).
struct Table {
    std::vector<ResourceKey> keys;
    std::vector<size_t> targets;
    uint32_t offset = 0;
};

size_t TableBytes(const Table& t) {
    return kDirectoryBytes + kEntryBytes * t.keys.size();
}

void Align(std::vector<uint8_t>& out, size_t to) {
    out.resize((out.size() + to - 1) / to * to, 0);
}

}  // namespace

bool ReadResources(const uint8_t* section, size_t size, uint32_t sectionRva,
                   std::vector<Resource>* resources, std::string* error) {
    resources->clear();
    SectionReader reader(section, size, sectionRva, resources);
    Resource path;
    if (reader.Directory(0, 0, path)) return true;
    if (error != nullptr) *error = reader.error;
    resources->clear();
    return false;
}

std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources,
                                          uint32_t sectionRva) {
    std::vector<const Resource*> sorted;
    for (const Resource& r : resources) sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), ResourceLess);

    // Level 0 is the root, level 1 one table per type, level 2 one per type and name.
    Table root;
    std::vector<Table> types, names;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const Resource& r = *sorted[i];
        if (root.keys.empty() || !(root.keys.back() == r.type)) {
            root.keys.push_back(r.type);
            root.targets.push_back(types.size());
            types.emplace_back();
        }
        Table& type = types.back();
        if (type.keys.empty() || !(type.keys.back() == r.name)) {
            type.keys.push_back(r.name);
            type.targets.push_back(names.size());
            names.emplace_back();
        }
        names.back().keys.push_back(ResourceKey::Id(r.language));
        names.back().targets.push_back(i);
    }

    // Offsets: the tables breadth first, then the data entries, the names and the data.
    size_t at = TableBytes(root);
    for (Table& t : types) t.offset = static_cast<uint32_t>(at), at += TableBytes(t);
    for (Table& t : names) t.offset = static_cast<uint32_t>(at), at += TableBytes(t);
    const size_t dataEntries = at;
    std::vector<uint8_t> out(dataEntries + kDataEntryBytes * sorted.size(), 0);

    auto nameOffset = [&out](const ResourceKey& key) {
        const auto offset = static_cast<uint32_t>(out.size());
        uint8_t word[2];
        StoreLE16(word, static_cast<uint16_t>(key.text.size()));
        out.insert(out.end(), word, word + 2);
        for (char16_t c : key.text) {
            StoreLE16(word, static_cast<uint16_t>(c));
            out.insert(out.end(), word, word + 2);
        }
        return offset | kHighBit;
    };
    auto writeTable = [&](const Table& t, auto targetOf) {
        uint8_t* d = out.data() + t.offset;
        size_t named = 0;
        for (const ResourceKey& k : t.keys) named += k.IsNamed() ? 1 : 0;
        StoreLE16(d + 12, static_cast<uint16_t>(named));
        StoreLE16(d + 14, static_cast<uint16_t>(t.keys.size() - named));
        for (size_t i = 0; i < t.keys.size(); ++i) {
            const uint32_t key = t.keys[i].IsNamed() ? nameOffset(t.keys[i]) : t.keys[i].id;
            d = out.data() + t.offset;  // the names may have moved the bytes
            StoreLE32(d + kDirectoryBytes + i * kEntryBytes, key);
            StoreLE32(d + kDirectoryBytes + i * kEntryBytes + 4, targetOf(t.targets[i]));
        }
    };
    writeTable(root, [&](size_t i) { return types[i].offset | kHighBit; });
    for (const Table& t : types)
        writeTable(t, [&](size_t i) { return names[i].offset | kHighBit; });
    for (const Table& t : names) {
        writeTable(
            t, [&](size_t i) { return static_cast<uint32_t>(dataEntries + kDataEntryBytes * i); });
    }
    for (size_t i = 0; i < sorted.size(); ++i) {
        Align(out, 8);
        uint8_t* entry = out.data() + dataEntries + kDataEntryBytes * i;
        StoreLE32(entry, sectionRva + static_cast<uint32_t>(out.size()));
        StoreLE32(entry + 4, static_cast<uint32_t>(sorted[i]->data.size()));
        StoreLE32(entry + 8, sorted[i]->codePage);
        out.insert(out.end(), sorted[i]->data.begin(), sorted[i]->data.end());
    }
    return out;
}

}  // namespace pe
