// Fuzz target: a self-extractor's settings block, as a damaged or hand-made stub may hold it. The
// input is copied to a buffer of its exact size, so a read past the block is caught; every text
// the reader hands back must lie inside the block and hold what a program line may hold. The same
// bytes go through the known-folder rule of the built-in destination.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "format/known_folder.h"
#include "format/sfx_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > format::kSfxSettingsBytes) return 0;
    auto* block = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (block == nullptr) std::abort();
    if (size != 0) std::memcpy(block, data, size);

    format::SfxSettings settings;
    format::SfxSettingsStatus status = format::ReadSfxSettings(block, size, &settings);
    if (status == format::SfxSettingsStatus::Ok && settings.run != nullptr) {
        const auto* run = reinterpret_cast<const uint8_t*>(settings.run);
        if (run < block || run + settings.runLength > block + size) std::abort();
        if (!format::IsSfxRunLine(run, settings.runLength)) std::abort();
        // Every word of the line comes out within its buffer, and the walk ends.
        char word[64];
        size_t offset = 0;
        size_t words = 0;
        while (
            format::NextProgramWord(settings.run, settings.runLength, &offset, word, sizeof word)) {
            if (strlen(word) >= sizeof word || offset > settings.runLength) std::abort();
            if (++words > settings.runLength) std::abort();
        }
    }
    if (static_cast<int>(settings.overwrite) > 2) std::abort();
    if (status == format::SfxSettingsStatus::Ok && settings.besideName != nullptr) {
        const auto* name = reinterpret_cast<const uint8_t*>(settings.besideName);
        if (settings.besideHash < block ||
            settings.besideHash + format::kSfxBesideHashBytes > name ||
            name + settings.besideNameLength > block + size ||
            !format::IsSfxBesideName(name, settings.besideNameLength)) {
            std::abort();
        }
    }
    // The same bytes as a built-in destination: a known folder's prefix lies inside the text.
    for (format::FolderSystem system :
         {format::FolderSystem::Windows, format::FolderSystem::Posix}) {
        format::KnownFolderPrefix prefix;
        const char* text = reinterpret_cast<const char*>(block);
        if (format::ParseKnownFolder(text, size, system, &prefix) ==
                format::KnownFolderParse::Known &&
            (prefix.length == 0 || prefix.length > size)) {
            std::abort();
        }
    }
    std::free(block);
    return 0;
}
