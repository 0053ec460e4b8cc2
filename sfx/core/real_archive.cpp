// The archive interface as the shipping programs have it: straight calls of the vorn_ functions.
#include "archive/extraction.h"
#include "sfx/core/sfx_core.h"

namespace sfx {

namespace {

class VornLibrary final : public ArchiveApi {
  public:
    constexpr VornLibrary() = default;

    uint32_t OpenStream(void** handle, const char* path, const char* password,
                        unsigned mode) override {
        return vorn_OpenStream(handle, path, password, mode);
    }
    uint32_t CloseStream(void* handle) override { return vorn_CloseStream(handle); }
    uint32_t CancelOperation(void* handle) override { return vorn_CancelOperation(handle); }
    uint64_t GetNumFiles(void* handle) override { return vorn_GetNumFiles(handle); }
    const char* GetErrorString(uint32_t status) override {
        return vorn_GetErrorString(static_cast<int>(status));
    }
    uint32_t EnumerateFiles(void* handle, VORN_FILEINFO* info, uint64_t index) override {
        return vorn_EnumerateFiles(handle, info, index);
    }
    uint32_t GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name) override {
        return vorn_GetFileInfo(handle, info, name);
    }
    uint32_t DecompressToFile(void* handle, const char* name, const char* path,
                              ProgressCallback progress, const char* password) override {
        return vorn_DecompressToFile(handle, name, path, progress, password);
    }
    uint32_t DecompressToPtr(void* handle, const char* name, unsigned char* buffer,
                             ProgressCallback progress, const char* password) override {
        return vorn_DecompressToPtr(handle, name, buffer, progress, password);
    }
    bool SealedSettingsDigest(void* handle, uint8_t* digest) override {
        return archive::SealedSettingsDigest(handle, digest);
    }
};

VornLibrary g_vornLibrary;

}  // namespace

ArchiveApi& RealArchive() {
    return g_vornLibrary;
}

}  // namespace sfx
