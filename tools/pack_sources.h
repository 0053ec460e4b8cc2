// What "vorn pack" puts into an archive: the files its operands name, folders walked in name
// order, each with the name it gets in the archive and the facts its record keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

struct SourceFile {
    std::string path;  // on disk
    std::string name;  // in the archive, "\" between levels
    uint64_t size = 0;
    uint64_t fileTime = 0;
    uint16_t attributes = 0x20;
    bool backslashInName = false;  // a level of the local name holds "\"
};

// The files of the operands (files, or folders stored under their own name; "." stores its
// contents), leaving out the archive being written at outPath. Prints the failure and returns
// false.
bool GatherSources(const std::vector<std::string>& operands, const std::string& outPath,
                   std::vector<SourceFile>& files);

}  // namespace tool
