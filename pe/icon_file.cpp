// The icon file reader and the checks of each image.
#include "pe/icon_file.h"

#include <cstring>

#include "format/byte_order.h"

namespace pe {

namespace {

using format::LoadLE16;
using format::LoadLE32;

constexpr size_t kDirectoryBytes = 6;
constexpr size_t kEntryBytes = 16;
constexpr size_t kBitmapHeaderBytes = 40;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

uint32_t LoadBE32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint32_t EntrySize(uint8_t stored) {
    return stored == 0 ? 256 : stored;
}

// The bit depths PNG allows for each colour type.
bool IsPngDepth(uint8_t colourType, uint8_t depth) {
    switch (colourType) {
        case 0:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6:
            return depth == 8 || depth == 16;
        default:
            return false;
    }
}

bool CheckPng(const IconImage& image, const std::string& which, std::string* error) {
    const std::vector<uint8_t>& d = image.data;
    // Signature, then the IHDR chunk: length 13, type, width, height, depth, colour type,
    // compression, filter, interlace, CRC.
    if (d.size() < 8 + 8 + 13 + 4 || std::memcmp(d.data() + 8, "\0\0\0\x0dIHDR", 8) != 0) {
        return Fail(error, which + " is a PNG stream without its header");
    }
    const uint32_t width = LoadBE32(d.data() + 16);
    const uint32_t height = LoadBE32(d.data() + 20);
    if (width == 0 || height == 0 || width > 256 || height > 256) {
        return Fail(error, which + " is " + std::to_string(width) + "x" + std::to_string(height) +
                               "; icon images are 1 to 256 pixels wide and high");
    }
    if (!IsPngDepth(d[25], d[24]) || d[26] != 0 || d[27] != 0 || d[28] > 1) {
        return Fail(error, which + " is a PNG stream of a kind Windows cannot show");
    }
    if (width != EntrySize(image.width) || height != EntrySize(image.height)) {
        return Fail(error, which + " is not the size its directory entry gives");
    }
    return true;
}

bool CheckBitmap(const IconImage& image, const std::string& which, std::string* error) {
    const std::vector<uint8_t>& d = image.data;
    if (d.size() < kBitmapHeaderBytes || LoadLE32(d.data()) != kBitmapHeaderBytes) {
        return Fail(error, which + " is neither a bitmap nor a PNG stream");
    }
    const auto width = static_cast<int32_t>(LoadLE32(d.data() + 4));
    const auto height = static_cast<int32_t>(LoadLE32(d.data() + 8));
    const uint16_t planes = LoadLE16(d.data() + 12);
    const uint16_t depth = LoadLE16(d.data() + 14);
    const uint32_t compression = LoadLE32(d.data() + 16);
    const uint32_t coloursUsed = LoadLE32(d.data() + 32);
    // The height counts the colour bits and the mask: twice the image's.
    if (width < 1 || width > 256 || height < 2 || height > 512 || height % 2 != 0) {
        return Fail(error, which + " is a bitmap of a size icons cannot have (1 to 256 pixels)");
    }
    if (planes != 1 || compression != 0 ||
        (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)) {
        return Fail(error, which + " is a bitmap of a depth Windows cannot show as an icon (" +
                               std::to_string(depth) + " bits)");
    }
    const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height) / 2;
    if (w != EntrySize(image.width) || h != EntrySize(image.height)) {
        return Fail(error, which + " is not the size its directory entry gives");
    }
    const uint32_t maxColours = depth <= 8 ? 1u << depth : 0;
    if (depth <= 8 && coloursUsed > maxColours) {
        return Fail(error, which + " has a palette larger than its depth allows");
    }
    const uint64_t palette = 4ull * (coloursUsed != 0 ? coloursUsed : maxColours);
    const uint64_t colourRow = (uint64_t{w} * depth + 31) / 32 * 4;
    const uint64_t maskRow = (uint64_t{w} + 31) / 32 * 4;
    if (kBitmapHeaderBytes + palette + (colourRow + maskRow) * h > d.size()) {
        return Fail(error, which + " is cut short");
    }
    return true;
}

}  // namespace

bool ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                  std::string* error) {
    images->clear();
    if (file.size() > kMaxIconFileBytes) {
        return Fail(error, "the icon file is " + std::to_string(file.size()) +
                               " bytes long; at most " + std::to_string(kMaxIconFileBytes) +
                               " (4 MiB) are taken");
    }
    if (file.size() < kDirectoryBytes || LoadLE16(file.data()) != 0 ||
        (LoadLE16(file.data() + 2) != 1 && LoadLE16(file.data() + 2) != 2)) {
        return Fail(error, "not an icon file");
    }
    if (LoadLE16(file.data() + 2) == 2) return Fail(error, "a cursor file, not an icon file");
    const size_t count = LoadLE16(file.data() + 4);
    if (count == 0) return Fail(error, "the icon file holds no images");
    if (count > kMaxIconImages) {
        return Fail(error, "the icon file holds " + std::to_string(count) + " images; at most " +
                               std::to_string(kMaxIconImages) + " are taken");
    }
    if ((file.size() - kDirectoryBytes) / kEntryBytes < count) {
        return Fail(error, "the icon file is cut short in its directory");
    }
    std::vector<IconImage> read;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = file.data() + kDirectoryBytes + i * kEntryBytes;
        const std::string which = "image " + std::to_string(i + 1) + " of the icon file";
        const uint32_t size = LoadLE32(e + 8);
        const uint32_t offset = LoadLE32(e + 12);
        if (offset > file.size() || file.size() - offset < size) {
            return Fail(error, which + " runs past the end of the file (cut short?)");
        }
        // Images sharing bytes are refused: no icon writer makes them, and they would let a
        // small file claim many copies of its largest image.
        for (size_t j = 0; j < i; ++j) {
            const uint8_t* other = file.data() + kDirectoryBytes + j * kEntryBytes;
            const uint64_t start = LoadLE32(other + 12), end = start + LoadLE32(other + 8);
            if (offset < end && start < uint64_t{offset} + size) {
                return Fail(error, which + " overlaps image " + std::to_string(j + 1));
            }
        }
        IconImage image;
        image.width = e[0];
        image.height = e[1];
        image.colorCount = e[2];
        image.reserved = e[3];
        image.planes = LoadLE16(e + 4);
        image.bitCount = LoadLE16(e + 6);
        image.data.assign(file.begin() + offset, file.begin() + offset + size);
        const bool png = size >= 8 && std::memcmp(image.data.data(), kPngSignature, 8) == 0;
        if (!(png ? CheckPng(image, which, error) : CheckBitmap(image, which, error))) {
            return false;
        }
        read.push_back(std::move(image));
    }
    *images = std::move(read);
    return true;
}

}  // namespace pe
