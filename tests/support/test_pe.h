// Program images and icon files as the branding tests want them: a small PE32 or PE32+ image laid
// out like the self-extractor stubs (code, data, relocations, then the resources last) with an
// icon group 107, version information and a manifest; and icon files of chosen sizes and depths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorntest {

struct TestStubOptions {
    bool pe32Plus = false;
    bool resourcesLast = true;      // false: the relocations follow the resources
    bool withResources = true;      // false: no resource section at all
    std::vector<uint8_t> trailing;  // bytes after the last section
    std::string manifest =
        "<assembly><!-- <requestedExecutionLevel level=\"x\"> in a comment does not count -->"
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/></assembly>";
};

std::vector<uint8_t> BuildTestStub(const TestStubOptions& options = {});

struct TestIconImage {
    unsigned size = 32;  // width and height
    unsigned depth = 4;  // bits per pixel of a bitmap
    bool png = false;    // a PNG stream (RGBA) instead of a bitmap
};
// An icon file with the images in order, each with a directory entry as resource compilers and
// icon editors write it.
std::vector<uint8_t> BuildTestIcon(const std::vector<TestIconImage>& images);

// An image's checksum as an independent PE reader computes it: 32-bit words with carry, folded,
// the field at field passed over.
uint32_t DwordChecksum(const std::vector<uint8_t>& image, size_t field);

}  // namespace vorntest
