// Reading, editing and writing version information blocks.
#include "pe/version_info.h"

#include <algorithm>

#include "format/byte_order.h"
#include "pe/utf16.h"

namespace pe {

namespace {

using format::LoadLE16;
using format::LoadLE32;
using format::StoreLE16;
using format::StoreLE32;

constexpr size_t kHeadBytes = 6;  // length, value length, type
constexpr size_t kFixedInfoBytes = 52;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr int kMaxDepth = 8;

size_t Align4(size_t at) {
    return (at + 3) & ~size_t{3};
}

// Reads the block at bytes[at, end); the offsets count from the resource's start, which is
// 4-byte aligned, so alignment is reckoned on them.
bool ReadBlock(const std::vector<uint8_t>& bytes, size_t at, size_t end, int depth,
               VersionBlock* block) {
    if (depth > kMaxDepth || end - at < kHeadBytes) return false;
    const size_t length = LoadLE16(bytes.data() + at);
    const size_t valueLength = LoadLE16(bytes.data() + at + 2);
    const uint16_t type = LoadLE16(bytes.data() + at + 4);
    if (length < kHeadBytes || length > end - at || type > 1) return false;
    const size_t blockEnd = at + length;
    size_t p = at + kHeadBytes;
    for (;;) {
        if (blockEnd - p < 2) return false;
        const uint16_t c = LoadLE16(bytes.data() + p);
        p += 2;
        if (c == 0) break;
        block->key += static_cast<char16_t>(c);
    }
    p = std::min(Align4(p), blockEnd);
    block->text = type == 1;
    if (block->text) {
        // Some compilers count a text value in bytes, others in characters: the text ends at its
        // NUL, and children (a text block that groups others has no value) start after it.
        const size_t valueStart = p;
        for (size_t i = 0; i < valueLength && blockEnd - p >= 2; ++i, p += 2) {
            const uint16_t c = LoadLE16(bytes.data() + p);
            if (c == 0) break;
            block->textValue += static_cast<char16_t>(c);
        }
        p = std::min(Align4(valueStart + 2 * valueLength), blockEnd);
    } else {
        if (valueLength > blockEnd - p) return false;
        block->value.assign(bytes.begin() + p, bytes.begin() + p + valueLength);
        p = Align4(p + valueLength);
    }
    while (p + kHeadBytes <= blockEnd) {
        VersionBlock child;
        if (!ReadBlock(bytes, p, blockEnd, depth + 1, &child)) return false;
        p = Align4(p + LoadLE16(bytes.data() + p));
        block->children.push_back(std::move(child));
    }
    return true;
}

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    uint8_t word[2];
    StoreLE16(word, value);
    out.insert(out.end(), word, word + 2);
}

void PutText(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t c : text) Put16(out, static_cast<uint16_t>(c));
    Put16(out, 0);
}

void WriteBlock(const VersionBlock& block, std::vector<uint8_t>& out) {
    const size_t at = out.size();
    out.resize(at + kHeadBytes, 0);
    PutText(out, block.key);
    out.resize(Align4(out.size()), 0);
    uint16_t valueLength = 0;
    if (block.text && (!block.textValue.empty() || block.children.empty())) {
        // In characters, the NUL included, as Windows' own resource compiler writes it.
        valueLength = static_cast<uint16_t>(block.textValue.size() + 1);
        PutText(out, block.textValue);
    } else if (!block.text) {
        valueLength = static_cast<uint16_t>(block.value.size());
        out.insert(out.end(), block.value.begin(), block.value.end());
    }
    for (const VersionBlock& child : block.children) {
        out.resize(Align4(out.size()), 0);
        WriteBlock(child, out);
    }
    StoreLE16(out.data() + at, static_cast<uint16_t>(out.size() - at));
    StoreLE16(out.data() + at + 2, valueLength);
    StoreLE16(out.data() + at + 4, block.text ? 1 : 0);
}

VersionBlock* FirstStringTable(VersionBlock& root) {
    for (VersionBlock& child : root.children) {
        if (child.key == u"StringFileInfo" && !child.children.empty()) return &child.children[0];
    }
    return nullptr;
}

}  // namespace

bool ReadVersionInfo(const std::vector<uint8_t>& bytes, VersionBlock* root, std::string* error) {
    *root = VersionBlock();
    if (ReadBlock(bytes, 0, bytes.size(), 0, root)) return true;
    if (error != nullptr) *error = "the stub's version information is damaged";
    return false;
}

std::vector<uint8_t> WriteVersionInfo(const VersionBlock& root) {
    std::vector<uint8_t> out;
    WriteBlock(root, out);
    return out;
}

std::optional<std::string> VersionString(const VersionBlock& root, const std::string& key) {
    VersionBlock* table = FirstStringTable(const_cast<VersionBlock&>(root));
    if (table == nullptr) return std::nullopt;
    const std::u16string wanted = Utf16FromUtf8(key);
    for (const VersionBlock& s : table->children) {
        if (s.key == wanted) return Utf8FromUtf16(s.textValue);
    }
    return std::nullopt;
}

bool SetVersionString(VersionBlock& root, const std::string& key, const std::string& value) {
    VersionBlock* table = FirstStringTable(root);
    if (table == nullptr) return false;
    const std::u16string wanted = Utf16FromUtf8(key);
    for (VersionBlock& s : table->children) {
        if (s.key == wanted) {
            s.text = true;
            s.textValue = Utf16FromUtf8(value);
            return true;
        }
    }
    VersionBlock added;
    added.key = wanted;
    added.text = true;
    added.textValue = Utf16FromUtf8(value);
    table->children.push_back(std::move(added));
    return true;
}

bool SetVersionNumbers(VersionBlock& root, const std::array<uint16_t, 4>& version) {
    if (root.text || root.value.size() < kFixedInfoBytes ||
        LoadLE32(root.value.data()) != kFixedInfoSignature) {
        return false;
    }
    const uint32_t high = uint32_t{version[0]} << 16 | version[1];
    const uint32_t low = uint32_t{version[2]} << 16 | version[3];
    StoreLE32(root.value.data() + 8, high);  // file version
    StoreLE32(root.value.data() + 12, low);
    StoreLE32(root.value.data() + 16, high);  // product version
    StoreLE32(root.value.data() + 20, low);
    return true;
}

}  // namespace pe
