// Writes a sealed archive with the pack library for sealed_crosscheck.py, which opens it with
// independent implementations. Usage:
//   sealed_crosscheck_helper <archive> <password> <memory KiB> (<name> <file> <own password|->)...
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/byte_sink.h"

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 4) % 3 != 0) {
        std::fprintf(stderr, "usage: %s archive password memoryKiB (name file password)...\n",
                     argv[0]);
        return 2;
    }
    pack::SealOptions seal;
    seal.password = argv[2];
    seal.memoryKiB = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    seal.passes = 1;
    pack::ArchiveWriter writer;
    writer.SetSealing(seal);
    bool ok = writer.Open(argv[1]) == pack::Status::Ok;
    for (int i = 4; ok && i < argc; i += 3) {
        std::vector<uint8_t> data;
        pack::EntryOptions options;
        options.fileTime = 0x01DB4383F6EC0000;
        if (std::string(argv[i + 2]) != "-") options.password = argv[i + 2];
        ok = pack::ReadWholeFile(argv[i + 1], data) &&
             writer.AddEntry(argv[i], data, options) == pack::Status::Ok;
    }
    ok = ok && writer.Finish(std::string("a comment")) == pack::Status::Ok;
    if (!ok) std::fprintf(stderr, "sealed_crosscheck_helper: %s\n", writer.Error().c_str());
    return ok ? 0 : 1;
}
