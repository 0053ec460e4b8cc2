// The writer's name table.
#include "pack/name_table.h"

#include "crypto/blowfish.h"
#include "crypto/secure_memory.h"
#include "format/block.h"
#include "format/container.h"

namespace pack {

format::Status BuildPlainNameTable(const std::vector<std::string>& names, uint8_t paddingByte,
                                   std::vector<uint8_t>* table, uint32_t* namesLength) {
    table->clear();
    for (const std::string& name : names) {
        table->insert(table->end(), name.begin(), name.end());
        table->push_back(0);
    }
    if (table->size() > UINT32_MAX - format::kNameUnitBytes) return format::Status::InvalidArgument;
    *namesLength = static_cast<uint32_t>(table->size());
    table->resize(format::RoundUp16(*namesLength), paddingByte);
    return format::Status::Ok;
}

void EncipherNameTable(std::vector<uint8_t>& table, const std::string& password) {
    BlowfishContext ctx;
    BlowfishSetPassword(&ctx, password.c_str());
    for (size_t at = 0; at + format::kNameUnitBytes <= table.size(); at += format::kNameUnitBytes) {
        EncryptNameUnit(&ctx, &table[at]);
    }
    SecureWipe(&ctx, sizeof ctx);
}

}  // namespace pack
