// Icon files (.ico) as the packer takes them for a self-extractor's icon: a directory of images,
// each a device-independent bitmap with its mask or a PNG stream, all of sizes and depths that
// Windows can show. Each image is checked whole, so that a bad file is refused at packing instead
// of showing as a blank icon in Explorer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr size_t kMaxIconFileBytes = 4u << 20;  // 4 MiB: a full set up to 256x256 fits easily
constexpr size_t kMaxIconImages = 64;

// One image with the fields of its directory entry as the file gives them; a resource compiler
// copies them into the icon group unchanged, and so does the packer.
struct IconImage {
    uint8_t width = 0;  // 0 stands for 256
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint8_t reserved = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::vector<uint8_t> data;  // the bitmap (header, palette, colour bits, mask) or PNG stream
};

// Reads an icon file; false with a message saying what is wrong with it.
bool ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                  std::string* error);

}  // namespace pe
