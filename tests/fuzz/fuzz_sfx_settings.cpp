// Fuzz target: a self-extractor's settings block, as a damaged or hand-made stub may hold it. The
// input is copied to a buffer of its exact size, so a read past the block is caught; every text
// the reader hands back must lie inside the block and hold what a program line may hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>

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
    std::free(block);
    return 0;
}
