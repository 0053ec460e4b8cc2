// A program's version information (the VERSIONINFO resource Explorer shows under the file's
// properties), read into a tree of blocks and written back. Each block is a length, a value
// length, a type (text or binary), a UTF-16 key, its value and its child blocks, each part on a
// 4-byte boundary. The root holds the numeric versions (VS_FIXEDFILEINFO); its child
// "StringFileInfo" holds a table of texts per language ("ProductName", "FileVersion", ...).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

struct VersionBlock {
    std::u16string key;
    bool text = false;           // the value is a text (type 1), else bytes (type 0)
    std::u16string textValue;    // without its closing NUL; empty in a block that groups others
    std::vector<uint8_t> value;  // a binary value
    std::vector<VersionBlock> children;
};

// Reads the resource's bytes; false with a message when they do not form one block.
bool ReadVersionInfo(const std::vector<uint8_t>& bytes, VersionBlock* root, std::string* error);
std::vector<uint8_t> WriteVersionInfo(const VersionBlock& root);

// The text of key in the first string table, if there is one.
std::optional<std::string> VersionString(const VersionBlock& root, const std::string& key);
// Sets key in the first string table (added at its end when missing); false when the
// information has no string table.
bool SetVersionString(VersionBlock& root, const std::string& key, const std::string& value);
// Sets the numeric file and product versions (four 16-bit parts each); false when the root has
// no fixed information.
bool SetVersionNumbers(VersionBlock& root, const std::array<uint16_t, 4>& version);

}  // namespace pe
