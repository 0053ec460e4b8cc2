// The name table as the writer makes it: every name with its NUL in entry order, padded to the
// 16-byte units it is read and enciphered in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/status.h"

namespace pack {

// The plain table into *table, padded with paddingByte; *namesLength receives the length before
// the padding. InvalidArgument for a table longer than the trailer's 32-bit length can say.
format::Status BuildPlainNameTable(const std::vector<std::string>& names, uint8_t paddingByte,
                                   std::vector<uint8_t>* table, uint32_t* namesLength);

// Enciphers a padded name table in place, unit by unit, keyed from password.
void EncipherNameTable(std::vector<uint8_t>& table, const std::string& password);

}  // namespace pack
