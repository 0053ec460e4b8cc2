// Branding a stub: the checks of the publisher's texts and version, the new icon group, the
// version information and manifest edits, and the rebuilt resource section.
#include "pe/stub_branding.h"

#include <algorithm>
#include <set>

#include "format/byte_order.h"
#include "format/publisher_text.h"
#include "pe/icon_file.h"
#include "pe/manifest_edit.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "pe/version_info.h"

namespace pe {

namespace {

constexpr size_t kGroupHeadBytes = 6;
constexpr size_t kGroupEntryBytes = 14;

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

bool IsType(const Resource& r, uint16_t type) {
    return !r.type.IsNamed() && r.type.id == type;
}

Resource* FirstOfType(std::vector<Resource>& resources, uint16_t type) {
    for (Resource& r : resources) {
        if (IsType(r, type)) return &r;
    }
    return nullptr;
}

// The icon ids an icon group names.
std::set<uint16_t> GroupIconIds(const std::vector<uint8_t>& group) {
    std::set<uint16_t> ids;
    if (group.size() < kGroupHeadBytes) return ids;
    const size_t count = format::LoadLE16(group.data() + 4);
    for (size_t i = 0; i < count && kGroupHeadBytes + (i + 1) * kGroupEntryBytes <= group.size();
         ++i) {
        ids.insert(format::LoadLE16(group.data() + kGroupHeadBytes + i * kGroupEntryBytes + 12));
    }
    return ids;
}

// Replaces the stub's icon group and the images it names by images, which take the lowest
// icon ids no other group uses.
bool ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images,
                 std::string* error) {
    auto group = std::find_if(resources.begin(), resources.end(), [](const Resource& r) {
        return IsType(r, kResourceGroupIcon) && r.name == ResourceKey::Id(kStubIconGroup);
    });
    if (group == resources.end()) {
        return Fail(error, "the stub has no program icon (icon group 107) to replace");
    }
    const Resource old = *group;
    const std::set<uint16_t> oldIds = GroupIconIds(old.data);
    resources.erase(
        std::remove_if(resources.begin(), resources.end(),
                       [&](const Resource& r) {
                           return (IsType(r, kResourceGroupIcon) && r.name == old.name) ||
                                  (IsType(r, kResourceIcon) && !r.name.IsNamed() &&
                                   oldIds.count(r.name.id) != 0);
                       }),
        resources.end());
    std::set<uint16_t> used;
    for (const Resource& r : resources) {
        if (IsType(r, kResourceIcon) && !r.name.IsNamed()) used.insert(r.name.id);
    }

    Resource newGroup = old;
    newGroup.data.assign(kGroupHeadBytes + kGroupEntryBytes * images.size(), 0);
    uint8_t* g = newGroup.data.data();
    format::StoreLE16(g + 2, 1);
    format::StoreLE16(g + 4, static_cast<uint16_t>(images.size()));
    uint16_t id = 1;
    for (size_t i = 0; i < images.size(); ++i) {
        while (used.count(id) != 0) ++id;
        used.insert(id);
        uint8_t* e = g + kGroupHeadBytes + i * kGroupEntryBytes;
        const IconImage& image = images[i];
        e[0] = image.width;
        e[1] = image.height;
        e[2] = image.colorCount;
        e[3] = image.reserved;
        format::StoreLE16(e + 4, image.planes);
        format::StoreLE16(e + 6, image.bitCount);
        format::StoreLE32(e + 8, static_cast<uint32_t>(image.data.size()));
        format::StoreLE16(e + 12, id);
        Resource icon;
        icon.type = ResourceKey::Id(kResourceIcon);
        icon.name = ResourceKey::Id(id);
        icon.language = old.language;
        icon.data = image.data;
        resources.push_back(std::move(icon));
    }
    resources.push_back(std::move(newGroup));
    return true;
}

bool EditVersion(std::vector<Resource>& resources, const StubBranding& b, std::string* error) {
    Resource* resource = FirstOfType(resources, kResourceVersion);
    VersionBlock root;
    if (resource == nullptr) return Fail(error, "the stub has no version information");
    if (!ReadVersionInfo(resource->data, &root, error)) return false;
    if (b.productVersion) {
        std::array<uint16_t, 4> numbers{};
        if (!ParseVersionNumbers(*b.productVersion, &numbers, error)) return false;
        if (!SetVersionNumbers(root, numbers)) {
            return Fail(error, "the stub's version information has no version numbers");
        }
    }
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"ProductName", &b.productName},     {"ProductVersion", &b.productVersion},
        {"FileVersion", &b.productVersion},  {"CompanyName", &b.company},
        {"FileDescription", &b.description}, {"LegalCopyright", &b.copyright},
    };
    for (const auto& [key, value] : texts) {
        if (*value && !SetVersionString(root, key, **value)) {
            return Fail(error, "the stub's version information has no string table");
        }
    }
    if (!b.originalFilename.empty()) SetVersionString(root, "OriginalFilename", b.originalFilename);
    resource->data = WriteVersionInfo(root);
    return true;
}

bool EditManifest(std::vector<Resource>& resources, std::string* error) {
    Resource* resource = FirstOfType(resources, kResourceManifest);
    if (resource == nullptr) return Fail(error, "the stub has no manifest");
    std::string text(resource->data.begin(), resource->data.end());
    if (!SetManifestExecutionLevel(text, "requireAdministrator", error)) return false;
    resource->data.assign(text.begin(), text.end());
    return true;
}

bool ReadStubResources(const std::vector<uint8_t>& image, const PeLayout& layout, size_t index,
                       std::vector<Resource>* resources, std::string* error) {
    const PeSection& s = layout.sections[index];
    // Raw data is padded to the file alignment; the virtual size is the resources' own.
    const size_t size = s.virtualSize != 0 ? std::min(s.rawSize, s.virtualSize) : s.rawSize;
    return ReadResources(image.data() + s.rawOffset, size, s.virtualAddress, resources, error);
}

}  // namespace

std::string BrandingTextProblem(const std::string& text) {
    return format::PublisherTextProblem(text, "the text", {kMaxBrandingText, false});
}

bool ParseVersionNumbers(const std::string& text, std::array<uint16_t, 4>* version,
                         std::string* error) {
    *version = {};
    size_t part = 0, digits = 0;
    uint32_t value = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (++digits > 5 || value > 65535) {
                return Fail(error, "\"" + text + "\": each number is at most 65535");
            }
        } else if (c == '.' && digits > 0 && part < 4) {
            (*version)[part++] = static_cast<uint16_t>(value);
            value = 0;
            digits = 0;
        } else {
            *version = {};
            return Fail(error, "\"" + text + "\" is not one to four numbers separated by dots");
        }
    }
    return true;
}

bool BrandStub(std::vector<uint8_t>& image, const StubBranding& branding, std::string* error) {
    PeLayout layout;
    size_t index = 0;
    std::vector<Resource> resources;
    if (!ReadPeLayout(image.data(), image.size(), &layout, error) ||
        !FindRebuildableResources(image.data(), image.size(), layout, &index, error) ||
        !ReadStubResources(image, layout, index, &resources, error)) {
        return false;
    }
    if (branding.iconFile) {
        std::vector<IconImage> images;
        if (!ReadIconFile(*branding.iconFile, &images, error) ||
            !ReplaceIcon(resources, images, error)) {
            return false;
        }
    }
    if ((branding.productName || branding.productVersion || branding.company ||
         branding.description || branding.copyright || !branding.originalFilename.empty()) &&
        !EditVersion(resources, branding, error)) {
        return false;
    }
    if (branding.elevate && !EditManifest(resources, error)) return false;
    const std::vector<uint8_t> section =
        BuildResourceSection(resources, layout.sections[index].virtualAddress);
    ReplaceResourceSection(image, layout, index, section);
    return true;
}

std::optional<StubBrandingFacts> ReadStubBranding(const std::vector<uint8_t>& image) {
    PeLayout layout;
    if (!ReadPeLayout(image.data(), image.size(), &layout, nullptr)) return std::nullopt;
    const PeDirectory directory = ReadPeDirectory(image.data(), layout, kPeResourceDirectory);
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        if (layout.sections[i].virtualAddress != directory.rva || directory.rva == 0) continue;
        std::vector<Resource> resources;
        if (!ReadStubResources(image, layout, i, &resources, nullptr)) return std::nullopt;
        StubBrandingFacts facts;
        VersionBlock root;
        if (const Resource* v = FirstOfType(resources, kResourceVersion);
            v != nullptr && ReadVersionInfo(v->data, &root, nullptr)) {
            facts.productName = VersionString(root, "ProductName");
            facts.productVersion = VersionString(root, "ProductVersion");
        }
        if (const Resource* m = FirstOfType(resources, kResourceManifest)) {
            facts.executionLevel =
                ManifestExecutionLevel(std::string(m->data.begin(), m->data.end()));
        }
        return facts;
    }
    return std::nullopt;
}

}  // namespace pe
