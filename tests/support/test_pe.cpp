// Test program images and icon files, written byte by byte.
#include "test_pe.h"

#include <cstring>

#include "byte_reading.h"
#include "pe/resource_tree.h"
#include "pe/version_info.h"

namespace vorntest {

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, size_t at, uint64_t value, int width) {
    if (out.size() < at + width) out.resize(at + width, 0);
    for (int i = 0; i < width; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutBE32(Bytes& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes Bitmap(unsigned size, unsigned depth) {
    const unsigned palette = depth <= 8 ? 1u << depth : 0;
    const unsigned colourRow = (size * depth + 31) / 32 * 4, maskRow = (size + 31) / 32 * 4;
    Bytes b(40 + 4 * palette + (colourRow + maskRow) * size, 0);
    Put(b, 0, 40, 4);
    Put(b, 4, size, 4);
    Put(b, 8, 2 * size, 4);
    Put(b, 12, 1, 2);
    Put(b, 14, depth, 2);
    for (size_t i = 40; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + size);
    return b;
}

Bytes Png(unsigned size) {
    Bytes p = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    PutBE32(p, 13);
    p.insert(p.end(), {'I', 'H', 'D', 'R'});
    PutBE32(p, size);
    PutBE32(p, size);
    p.insert(p.end(), {8, 6, 0, 0, 0});
    PutBE32(p, 0x12345678);  // the reader does not check chunk CRCs; Windows' decoder would
    for (unsigned i = 0; i < 64; ++i) p.push_back(static_cast<uint8_t>(i * 13));
    return p;
}

Bytes VersionInfo() {
    pe::VersionBlock root;
    root.key = u"VS_VERSION_INFO";
    root.value.assign(52, 0);
    Put(root.value, 0, 0xFEEF04BD, 4);
    Put(root.value, 4, 0x10000, 4);
    Put(root.value, 8, 0x00000001, 4);  // 0.1.0.0
    Put(root.value, 16, 0x00000001, 4);
    pe::VersionBlock strings{u"StringFileInfo", true, {}, {}, {}};
    pe::VersionBlock table{u"040904B0", true, {}, {}, {}};
    for (const auto& [key, value] :
         {std::pair{u"ProductName", u"Stub product"},
          std::pair{u"FileDescription", u"Stub description"},
          std::pair{u"ProductVersion", u"0.1.0"}, std::pair{u"OriginalFilename", u"stub.exe"}}) {
        table.children.push_back({key, true, value, {}, {}});
    }
    strings.children.push_back(table);
    root.children.push_back(strings);
    pe::VersionBlock vars{u"VarFileInfo", true, {}, {}, {}};
    vars.children.push_back({u"Translation", false, {}, {0x09, 0x04, 0xB0, 0x04}, {}});
    root.children.push_back(vars);
    return pe::WriteVersionInfo(root);
}

std::vector<pe::Resource> StubResources(const std::string& manifest) {
    using pe::ResourceKey;
    std::vector<pe::Resource> r;
    auto add = [&r](uint16_t type, ResourceKey name, Bytes data) {
        pe::Resource res;
        res.type = ResourceKey::Id(type);
        res.name = std::move(name);
        res.language = 1033;
        res.data = std::move(data);
        r.push_back(std::move(res));
    };
    add(pe::kResourceIcon, ResourceKey::Id(1), Bitmap(32, 4));
    add(pe::kResourceIcon, ResourceKey::Id(2), Bitmap(16, 4));
    Bytes group(6 + 2 * 14, 0);
    Put(group, 2, 1, 2);
    Put(group, 4, 2, 2);
    for (unsigned i = 0; i < 2; ++i) {
        const size_t e = 6 + 14 * i;
        group[e] = group[e + 1] = static_cast<uint8_t>(i == 0 ? 32 : 16);
        group[e + 2] = 16;
        Put(group, e + 4, 1, 2);
        Put(group, e + 6, 4, 2);
        Put(group, e + 8, r[i].data.size(), 4);
        Put(group, e + 12, i + 1, 2);
    }
    add(pe::kResourceGroupIcon, ResourceKey::Id(107), group);
    add(5, ResourceKey::Id(129), Bytes(100, 0x55));  // a dialog's place
    add(5, ResourceKey{0, u"NAMED"}, Bytes(10, 0x66));
    add(pe::kResourceVersion, ResourceKey::Id(1), VersionInfo());
    add(pe::kResourceManifest, ResourceKey::Id(1), Bytes(manifest.begin(), manifest.end()));
    return r;
}

struct Section {
    const char* name;
    uint32_t rva;
    Bytes data;
};

}  // namespace

std::vector<uint8_t> BuildTestStub(const TestStubOptions& options) {
    const uint32_t fileAlign = 0x200, sectionAlign = 0x1000;
    std::vector<Section> sections = {{".text", 0x1000, Bytes(0x300, 0xC3)},
                                     {".data", 0x2000, Bytes(0x80, 0x11)}};
    auto resources = [&](uint32_t rva) {
        sections.push_back(
            {".rsrc", rva, pe::BuildResourceSection(StubResources(options.manifest), rva)});
    };
    if (!options.withResources) {
        sections.push_back({".reloc", 0x3000, Bytes(0x40, 0x22)});
    } else if (options.resourcesLast) {
        sections.push_back({".reloc", 0x3000, Bytes(0x40, 0x22)});
        resources(0x4000);
    } else {
        resources(0x3000);
        sections.push_back({".reloc", 0x4000, Bytes(0x40, 0x22)});
    }

    const bool plus = options.pe32Plus;
    const size_t optionalSize = plus ? 240 : 224;
    const size_t pe = 0x80, optional = pe + 24, table = optional + optionalSize;
    Bytes image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put(image, 0x3c, pe, 4);
    std::memcpy(&image[pe], "PE\0\0", 4);
    Put(image, pe + 4, plus ? 0x8664 : 0x14c, 2);
    Put(image, pe + 6, sections.size(), 2);
    Put(image, pe + 20, optionalSize, 2);
    Put(image, pe + 22, plus ? 0x22 : 0x102, 2);
    Put(image, optional, plus ? 0x20b : 0x10b, 2);
    Put(image, optional + 32, sectionAlign, 4);
    Put(image, optional + 36, fileAlign, 4);
    Put(image, optional + 60, 0x400, 4);  // size of headers
    Put(image, optional + 68, 2, 2);      // GUI
    const size_t directories = optional + (plus ? 112 : 96);
    Put(image, directories - 4, 16, 4);
    uint32_t end = 0;
    for (size_t i = 0; i < sections.size(); ++i) {
        Section& s = sections[i];
        const size_t h = table + 40 * i;
        std::memcpy(&image[h], s.name, std::strlen(s.name));
        const auto raw =
            static_cast<uint32_t>((s.data.size() + fileAlign - 1) / fileAlign * fileAlign);
        Put(image, h + 8, s.data.size(), 4);
        Put(image, h + 12, s.rva, 4);
        Put(image, h + 16, raw, 4);
        Put(image, h + 20, image.size(), 4);
        Put(image, h + 36, 0x40000040, 4);
        const int slot = std::strcmp(s.name, ".rsrc") == 0    ? 2
                         : std::strcmp(s.name, ".reloc") == 0 ? 5
                                                              : -1;
        if (slot >= 0) {
            Put(image, directories + 8 * slot, s.rva, 4);
            Put(image, directories + 8 * slot + 4, s.data.size(), 4);
        }
        s.data.resize(raw, 0);
        image.insert(image.end(), s.data.begin(), s.data.end());
        end = std::max(end, s.rva + raw);
    }
    Put(image, optional + 56, (end + sectionAlign - 1) / sectionAlign * sectionAlign, 4);
    image.insert(image.end(), options.trailing.begin(), options.trailing.end());
    return image;
}

std::vector<uint8_t> BuildTestIcon(const std::vector<TestIconImage>& images) {
    Bytes file(6 + 16 * images.size(), 0);
    Put(file, 2, 1, 2);
    Put(file, 4, images.size(), 2);
    for (size_t i = 0; i < images.size(); ++i) {
        const TestIconImage& im = images[i];
        const Bytes data = im.png ? Png(im.size) : Bitmap(im.size, im.depth);
        const size_t e = 6 + 16 * i;
        file[e] = file[e + 1] = static_cast<uint8_t>(im.size == 256 ? 0 : im.size);
        file[e + 2] = static_cast<uint8_t>(!im.png && im.depth < 8 ? 1u << im.depth : 0);
        Put(file, e + 4, 1, 2);
        Put(file, e + 6, im.png ? 32 : im.depth, 2);
        Put(file, e + 8, data.size(), 4);
        Put(file, e + 12, file.size(), 4);
        file.insert(file.end(), data.begin(), data.end());
    }
    return file;
}

uint32_t DwordChecksum(const std::vector<uint8_t>& image, size_t field) {
    std::vector<uint8_t> b = image;
    b.resize((b.size() + 3) / 4 * 4, 0);
    uint64_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 4) {
        if (i == field) continue;
        sum = (sum & 0xffffffff) + packtest::GetU32(b, i) + (sum >> 32);
        if (sum > 0xffffffffull) sum = (sum & 0xffffffff) + (sum >> 32);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    sum = sum + (sum >> 16);
    return static_cast<uint32_t>((sum & 0xffff) + image.size());
}

}  // namespace vorntest
