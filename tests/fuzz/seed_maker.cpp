// Writes the fuzz seed corpora: valid archives of every kind made by the writer, and the raw block
// bodies, code tables and name tables the narrower targets take. Run at build time, so the seeds
// always match the current writer and no binary corpus is kept in the repository.
// Usage: fuzz_seed_maker <seed folder>; makes <seed folder>/<target>/<seed> for each target.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "byte_reading.h"
#include "encoder/lz_block_encoder.h"
#include "format/block.h"
#include "format/lz_block.h"
#include "pack/archive_writer.h"
#include "pack/self_extractor.h"
#include "test_archive.h"
#include "test_pe.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPassword = "secret";  // the password the archive target also tries

Bytes Text(size_t size) {
    static const char kWords[] =
        "the quick brown fox jumps over the lazy dog while the archive keeps every name ";
    Bytes out;
    for (size_t i = 0; out.size() < size; ++i) out.push_back(kWords[i % (sizeof kWords - 1)]);
    return out;
}

Bytes Noise(size_t size, uint32_t seed) {
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return out;
}

Bytes Ramp(size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return out;
}

vorntest::TestEntry Entry(const std::string& name, Bytes data, pack::Method method,
                          uint32_t blockSize = pack::kMaxBlockSize) {
    vorntest::TestEntry e;
    e.name = name;
    e.data = std::move(data);
    e.method = method;
    e.blockSize = blockSize;
    e.fileTime = 0x01d9a1b2c3d4e5f6ull;
    return e;
}

std::map<std::string, vorntest::TestArchive> ArchiveKinds() {
    using pack::Method;
    std::map<std::string, vorntest::TestArchive> kinds;
    kinds["empty"] = {};
    {
        vorntest::TestArchive s;
        s.entries.push_back(Entry("readme.txt", Text(300), Method::Stored));
        s.entries.push_back(Entry("empty.bin", {}, Method::Stored));
        kinds["stored"] = s;
    }
    {
        vorntest::TestArchive s;
        s.entries.push_back(Entry("docs\\text.txt", Text(3000), Method::Compressed));
        s.entries.push_back(Entry("ramp.bin", Ramp(1500), Method::Compressed));
        s.entries.push_back(
            Entry("tiny", Bytes{'a', 'b', 'c', 'a', 'b', 'c', 'a'}, Method::Compressed));
        kinds["compressed"] = s;
    }
    {
        vorntest::TestArchive s;
        s.entries.push_back(Entry("multi.txt", Text(5000), Method::Compressed, 1024));
        s.entries.push_back(Entry("mixed.bin", Noise(2048, 3), Method::Best, 512));
        kinds["multi_block"] = s;
    }
    {
        vorntest::TestArchive s;
        auto a = Entry("secret.txt", Text(800), Method::Compressed);
        a.password = kPassword;
        auto b = Entry("plain.txt", Text(100), Method::Stored);
        auto c = Entry("secret_stored.bin", Noise(200, 5), Method::Stored);
        c.password = kPassword;
        s.entries = {a, b, c};
        kinds["enciphered_entries"] = s;
    }
    {
        vorntest::TestArchive s;
        s.namesPassword = kPassword;
        auto a = Entry("dir\\sub\\hidden.txt", Text(400), Method::Compressed);
        a.password = kPassword;
        s.entries = {a, Entry("second.bin", Ramp(100), Method::Stored)};
        kinds["enciphered_names"] = s;
    }
    {
        vorntest::TestArchive s;
        s.entries.push_back(Entry("file.txt", Text(200), Method::Compressed));
        s.comment = "Welcome.\r\nThis archive holds one file.\r\n";
        s.commentMethod = Method::Compressed;
        kinds["comment"] = s;
    }
    {
        vorntest::TestArchive s;
        // A program image in front, with a false start: the magic under an unknown version.
        s.prefix = Noise(700, 9);
        const char fake[] = "MZ..VVVORN\x03\x00\x00\x8fVOR";
        s.prefix.insert(s.prefix.begin() + 100, fake, fake + sizeof fake - 1);
        s.entries.push_back(Entry("app.exe", Noise(300, 11), Method::Best));
        kinds["prefix"] = s;
    }
    {
        vorntest::TestArchive s;
        s.version = format::kVersionOld;
        s.entries.push_back(Entry("old.txt", Text(50), Method::Stored));
        kinds["old_format"] = s;
    }
    {
        vorntest::TestArchive s;
        s.flags = format::kFlagLocked;
        s.entries.push_back(Entry("locked.txt", Text(120), Method::Compressed));
        kinds["locked"] = s;
    }
    {
        vorntest::TestArchive s;
        // Names on unit boundaries, a duplicate name and a name of the longest allowed length.
        s.entries.push_back(Entry("fifteen_bytes__", Bytes{1}, Method::Stored));
        s.entries.push_back(Entry(std::string(255, 'n'), Bytes{2}, Method::Stored));
        s.entries.push_back(Entry("fifteen_bytes__", Bytes{3}, Method::Stored));
        s.paddingByte = 0;
        kinds["names"] = s;
    }
    {
        vorntest::TestArchive s;
        // Level 3: LZ blocks in a marked archive, one entry taking the x86 filter.
        Bytes code;
        for (uint32_t i = 0; code.size() < 3000; ++i) {
            const uint8_t call[] = {0x8B, 0x45, 0xE8, static_cast<uint8_t>(i % 9 * 16), 0, 0, 0};
            code.insert(code.end(), call, call + sizeof call);
        }
        for (auto [name, data] : {std::pair{"text.txt", Text(3000)}, std::pair{"code.exe", code}}) {
            vorntest::TestEntry e = Entry(name, data, Method::Compressed);
            e.encoder.level = encoder::kLzLevel;
            s.entries.push_back(e);
        }
        kinds["lz_blocks"] = s;
        // The mark alone, over the older blocks: reads as before.
        vorntest::TestArchive marked;
        marked.reserved = format::kMarkLzBlocks;
        marked.entries.push_back(Entry("file.txt", Text(500), Method::Compressed));
        kinds["lz_mark_only"] = marked;
    }
    return kinds;
}

bool Write(const fs::path& path, const Bytes& bytes) {
    if (!vorntest::WriteWholeFile(path.string(), bytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

// fuzz_block inputs: u16 output size, then one compressed block's body.
bool WriteBlockSeeds(const fs::path& dir) {
    const std::vector<std::pair<std::string, Bytes>> samples = {
        {"text", Text(4000)},
        {"ramp", Ramp(3000)},
        {"noise", Noise(600, 1)},
        {"zeros", Bytes(5000, 0)},
        {"short", Bytes{'x', 'y', 'z', 'x', 'y', 'z'}},
    };
    for (const auto& [name, data] : samples) {
        Bytes area = vorntest::EncodeTestEntryData(data, pack::Method::Compressed,
                                                   static_cast<uint32_t>(data.size()), {}, nullptr);
        Bytes seed = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(data.size() >> 8)};
        seed.insert(seed.end(), area.begin() + 4, area.end());  // the block header is not body
        if (!Write(dir / name, seed)) return false;
    }
    return true;
}

// fuzz_code_tree inputs: u16 count, count pairs of u32 weight and u32 symbol, then stream bits.
bool WriteCodeTreeSeeds(const fs::path& dir) {
    const std::vector<std::pair<std::string, Bytes>> samples = {
        {"text", Text(2000)},
        {"ramp", Ramp(700)},
        {"noise", Noise(900, 2)},
        {"one", Bytes(40, 'a')},
    };
    for (const auto& [name, data] : samples) {
        uint32_t counts[256] = {};
        for (uint8_t b : data) ++counts[b];
        Bytes seed(2);
        uint16_t n = 0;
        for (uint32_t symbol = 0; symbol < 256; ++symbol) {
            if (counts[symbol] == 0) continue;
            for (uint32_t v : {counts[symbol], symbol}) {
                for (int i = 0; i < 4; ++i) seed.push_back(static_cast<uint8_t>(v >> (8 * i)));
            }
            ++n;
        }
        seed[0] = static_cast<uint8_t>(n);
        seed[1] = static_cast<uint8_t>(n >> 8);
        Bytes stream = Noise(64, n);
        seed.insert(seed.end(), stream.begin(), stream.end());
        if (!Write(dir / name, seed)) return false;
    }
    return true;
}

// fuzz_names inputs: u8 enciphered flag, u8 entry count, then the name table's text.
bool WriteNameSeeds(const fs::path& dir) {
    auto make = [](uint8_t flags, uint8_t count, const std::string& text) {
        Bytes seed = {flags, count};
        seed.insert(seed.end(), text.begin(), text.end());
        return seed;
    };
    using namespace std::string_literals;
    return Write(dir / "plain", make(0, 3, "a.txt\0dir\\b.txt\0$comments$\0"s)) &&
           Write(dir / "enciphered", make(1, 2, "first\0second_name_on_a_unit\0"s)) &&
           Write(dir / "duplicates", make(0, 4, "x\0y\0x\0\0"s)) &&
           Write(dir / "boundary", make(0, 2, "fifteen_bytes__\0sixteen_bytes___\0"s)) &&
           Write(dir / "long", make(1, 2, std::string(300, 'L') + "\0short\0"s)) &&
           Write(dir / "beyond_count", make(0, 1, "one\0two\0three\0"s)) &&
           Write(dir / "no_nul", make(0, 2, std::string(40, 'q')));
}
// fuzz_lz_block inputs: u16 output size, a byte of 0 (the header's length is the body's), then
// one LZ block's body.
bool WriteLzBlockSeeds(const fs::path& dir) {
    const std::vector<std::pair<std::string, Bytes>> samples = {
        {"text", Text(4000)},
        {"ramp", Ramp(3000)},
        {"zeros", Bytes(5000, 0)},
        {"short", Bytes{'x', 'y', 'z', 'x', 'y', 'z'}}};
    for (const auto& [name, data] : samples) {
        Bytes area = vorntest::EncodeTestEntryData(
            data, pack::Method::Compressed, static_cast<uint32_t>(data.size()),
            pack::EncoderOptions{encoder::kLzLevel}, nullptr);
        format::BlockHeader header = format::DecodeBlockHeader(area.data());
        uint32_t shortBy = (area.size() - 4) * 8 - header.length;
        Bytes seed = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(data.size() >> 8),
                      static_cast<uint8_t>(shortBy)};
        seed.insert(seed.end(), area.begin() + 4, area.end());
        if (!Write(dir / name, seed)) return false;
    }
    return true;
}

// fuzz_sfx_settings inputs: settings blocks as the packer writes them.
bool WriteSettingsSeeds(const fs::path& dir) {
    auto make = [](std::optional<std::string> run, bool temporary,
                   std::optional<format::SfxOverwrite> overwrite) {
        pack::SfxPackSettings settings;
        settings.run = run;
        settings.temporary = temporary;
        settings.overwrite = overwrite;
        Bytes block;
        pack::EncodeSfxSettings(settings, block, nullptr);
        return block;
    };
    return Write(dir / "none", make(std::nullopt, false, std::nullopt)) &&
           Write(dir / "run", make("\"my setup\\setup.exe\" /S \"a b\"", false, std::nullopt)) &&
           Write(dir / "all",
                 make("bin/install.sh --prefix /opt", true, format::SfxOverwrite::Always)) &&
           Write(dir / "never", make(std::nullopt, false, format::SfxOverwrite::Never));
}

// fuzz_sfx_command_line inputs: a parser byte (even Windows, odd Linux), then NUL-separated words.
bool WriteCommandLineSeeds(const fs::path& dir) {
    using namespace std::string_literals;
    auto make = [](uint8_t parser, const std::string& words) {
        Bytes seed = {parser};
        seed.insert(seed.end(), words.begin(), words.end());
        return seed;
    };
    return Write(dir / "windows_silent", make(0, "/S\0/D=C:\\Out\0/O=never\0/P=secret\0--\0x"s)) &&
           Write(dir / "windows_help", make(0, "-?"s)) &&
           Write(dir / "linux_all", make(1,
                                         "--target\0/opt\0--quiet\0--keep\0--noexec\0"
                                         "--overwrite\0--password-file=/pw\0--\0--help"s)) &&
           Write(dir / "linux_info", make(1, "--info"s));
}

// fuzz_branding inputs: an even byte and an icon file, or an odd byte and a stub image.
bool WriteBrandingSeeds(const fs::path& dir) {
    auto make = [](uint8_t mode, const Bytes& body) {
        Bytes seed = {mode};
        seed.insert(seed.end(), body.begin(), body.end());
        return seed;
    };
    vorntest::TestStubOptions plus;
    plus.pe32Plus = true;
    // A manifest of 960 KiB whose comment hides an element every few bytes: a scan that is not
    // linear in the manifest's length takes about a minute on it and fails the run's timeout.
    // libFuzzer cuts seeds to 1 MiB unless -max_len says otherwise, so the whole stub stays below.
    vorntest::TestStubOptions large;
    large.manifest = "<assembly><!-- ";
    while (large.manifest.size() < (960u << 10)) {
        large.manifest += "<requestedExecutionLevel level=\"x\"> <!-- ";
    }
    large.manifest += "--><requestedExecutionLevel level=\"asInvoker\"/></assembly>";
    return Write(dir / "icon_bitmaps", make(0, vorntest::BuildTestIcon({{16, 4}, {32, 8}}))) &&
           Write(dir / "stub_large_manifest", make(1, vorntest::BuildTestStub(large))) &&
           Write(dir / "icon_png", make(0, vorntest::BuildTestIcon({{48, 24}, {256, 32, true}}))) &&
           Write(dir / "stub_pe32", make(1, vorntest::BuildTestStub())) &&
           Write(dir / "stub_pe32plus", make(1, vorntest::BuildTestStub(plus)));
}

// fuzz_encoder_round_trip inputs: the bytes to encode, of the kinds an installer holds.
bool WriteRoundTripSeeds(const fs::path& dir) {
    Bytes code;  // calls and jumps whose targets the x86 filter rewrites
    for (uint32_t i = 0; code.size() < 6000; ++i) {
        const uint8_t call[] = {
            0xE8, static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i % 5), 0, 0, 0x8B, 0x45,
            0xF0};
        code.insert(code.end(), call, call + sizeof call);
    }
    Bytes mixed = Text(20000);
    Bytes noise = Noise(3000, 7);
    mixed.insert(mixed.begin() + 9000, noise.begin(), noise.end());
    return Write(dir / "text", Text(9000)) && Write(dir / "ramp", Ramp(5000)) &&
           Write(dir / "noise", Noise(2000, 4)) && Write(dir / "zeros", Bytes(70000, 0)) &&
           Write(dir / "short", Bytes{'a', 'b', 'a'}) && Write(dir / "one", Bytes{0}) &&
           Write(dir / "code", code) && Write(dir / "code64", packtest::X64Code(6000)) &&
           Write(dir / "mixed", mixed);
}

}  // namespace

// fuzz_sealed_archive inputs: sealed archives at the fuzz build's small key derivation, one
// entry of each level and one under a password of its own.
bool WriteSealedArchiveSeeds(const fs::path& dir) {
    for (int level = 1; level <= 3; ++level) {
        pack::ArchiveWriter writer;
        pack::SealOptions seal{kPassword, format::kSealMinMemoryKiB, 1, 1, {}};
        seal.salt.emplace();
        seal.salt->fill(static_cast<uint8_t>(level));
        writer.SetSealing(seal);
        pack::EntryOptions options;
        options.method = pack::Method::Compressed;
        options.encoder.level = level;
        pack::EntryOptions own;
        own.password = "own";
        if (writer.Open((dir / ("level" + std::to_string(level))).string()) != pack::Status::Ok ||
            writer.AddEntry("text.txt", Text(70000), options) != pack::Status::Ok ||
            writer.AddEntry("own.bin", Noise(300, 3), own) != pack::Status::Ok ||
            writer.Finish() != pack::Status::Ok) {
            std::fprintf(stderr, "cannot write a sealed seed: %s\n", writer.Error().c_str());
            return false;
        }
    }
    return true;
}

// fuzz_sealed_entry inputs: u32 no flip, u32 unpacked size, then an entry's plain stored data.
bool WriteSealedEntrySeeds(const fs::path& dir) {
    const std::vector<std::pair<std::string, Bytes>> samples = {
        {"text", Text(140000)}, {"noise", Noise(70000, 4)}, {"short", Bytes{'a', 'b'}}};
    for (const auto& [name, data] : samples) {
        for (pack::Method method : {pack::Method::Stored, pack::Method::Compressed}) {
            const uint32_t n = static_cast<uint32_t>(data.size());
            Bytes seed = {0xff,
                          0xff,
                          0xff,
                          0xff,
                          static_cast<uint8_t>(n),
                          static_cast<uint8_t>(n >> 8),
                          static_cast<uint8_t>(n >> 16),
                          0};
            Bytes area = vorntest::EncodeTestEntryData(data, method, 65536, {}, nullptr);
            seed.insert(seed.end(), area.begin(), area.end());
            const char* kind = method == pack::Method::Stored ? "_stored" : "_compressed";
            if (!Write(dir / (name + kind), seed)) return false;
        }
    }
    return true;
}

// fuzz_solid_group inputs: u16 length of the first entry's area, then the two areas of a
// group whose second entry repeats much of the first.
bool WriteSolidGroupSeeds(const fs::path& dir) {
    const std::vector<std::pair<std::string, std::pair<Bytes, Bytes>>> samples = {
        {"text", {Text(4000), Text(3000)}},
        {"ramp", {Ramp(3000), Ramp(2000)}},
        {"tiny", {Bytes{'a', 'b', 'c'}, Bytes{'a', 'b', 'c', 'a'}}},
        {"code64", {packtest::X64Code(5000), packtest::X64Code(3000, 2)}}};
    for (const auto& [name, pair] : samples) {
        Bytes both = pair.first;
        both.insert(both.end(), pair.second.begin(), pair.second.end());
        encoder::LzGroupEncoder group;
        Bytes first, second;
        if (group.Start(both.data(), {static_cast<uint32_t>(pair.first.size()),
                                      static_cast<uint32_t>(pair.second.size())}) !=
                format::Status::Ok ||
            group.EncodeNext(first) != format::Status::Ok ||
            group.EncodeNext(second) != format::Status::Ok) {
            return false;
        }
        Bytes seed = {static_cast<uint8_t>(first.size()), static_cast<uint8_t>(first.size() >> 8)};
        seed.insert(seed.end(), first.begin(), first.end());
        seed.insert(seed.end(), second.begin(), second.end());
        if (!Write(dir / name, seed)) return false;
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target :
         {"fuzz_archive", "fuzz_block", "fuzz_code_tree", "fuzz_lz_block", "fuzz_names",
          "fuzz_sfx_settings", "fuzz_sfx_command_line", "fuzz_branding", "fuzz_encoder_round_trip",
          "fuzz_sealed_archive", "fuzz_sealed_entry", "fuzz_solid_group"}) {
        fs::create_directories(root / target);
    }
    for (const auto& [name, archiveSpec] : ArchiveKinds()) {
        if (!Write(root / "fuzz_archive" / name, vorntest::BuildTestArchive(archiveSpec))) return 1;
    }
    if (!WriteBlockSeeds(root / "fuzz_block") || !WriteCodeTreeSeeds(root / "fuzz_code_tree") ||
        !WriteLzBlockSeeds(root / "fuzz_lz_block") || !WriteNameSeeds(root / "fuzz_names") ||
        !WriteSettingsSeeds(root / "fuzz_sfx_settings") ||
        !WriteCommandLineSeeds(root / "fuzz_sfx_command_line") ||
        !WriteBrandingSeeds(root / "fuzz_branding") ||
        !WriteRoundTripSeeds(root / "fuzz_encoder_round_trip") ||
        !WriteSealedArchiveSeeds(root / "fuzz_sealed_archive") ||
        !WriteSealedEntrySeeds(root / "fuzz_sealed_entry") ||
        !WriteSolidGroupSeeds(root / "fuzz_solid_group")) {
        return 1;
    }
    return 0;
}
