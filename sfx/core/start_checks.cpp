// The start checks: the built-in destination's known folder and the archive beside the program.
#include "sfx/core/start_checks.h"

#include "crypto/sha256.h"
#include "format/known_folder.h"
#include "sfx/core/installer.h"
#include "sfx/core/messages.h"
#include "sfx/core/run_log.h"
#include "sfx/core/text.h"

namespace sfx {

namespace {

// The hash of a file read in slices, stopped one byte past the size it should have.
struct BesideHash {
    Sha256 sha;
    uint64_t expected = 0;
    uint64_t seen = 0;
};

bool HashSlice(void* context, const uint8_t* bytes, size_t size) {
    auto* hash = static_cast<BesideHash*>(context);
    hash->seen += size;
    if (hash->seen > hash->expected) return false;  // longer: no need to read the rest
    hash->sha.Update(bytes, size);
    return true;
}

// Constant time is no concern for a digest of public bytes; the loop reads all 32 anyway.
bool SameDigest(const uint8_t* a, const uint8_t* b) {
    uint8_t differ = 0;
    for (size_t i = 0; i < kSha256Bytes; ++i) differ |= static_cast<uint8_t>(a[i] ^ b[i]);
    return differ == 0;
}

void Refuse(Platform& platform, bool box, const char* why, const char* what) {
    char text[2 * kTextBytes + 256] = "";
    CopyText(text, sizeof text, why);
    AppendText(text, sizeof text, what);
    if (box) {
        platform.ShowMessage(text, texts::kErrorCaption, kBoxOk | kBoxIconError);
    } else {
        PrintError(platform, text);
    }
}

}  // namespace

bool ResolveBuiltInDestination(Platform& platform) {
    const size_t length = strlen(g_szExtractDir);
    format::FolderSystem system = platform.Style() == PathStyle::Windows
                                      ? format::FolderSystem::Windows
                                      : format::FolderSystem::Posix;
    format::KnownFolderPrefix prefix;
    format::KnownFolderParse parse =
        format::ParseKnownFolder(g_szExtractDir, length, system, &prefix);
    // Packing refuses a text with any other prefix, so such a text comes from an older packer,
    // which meant it as it stands.
    if (parse != format::KnownFolderParse::Known) return true;
    char resolved[kTextBytes];
    if (!platform.KnownFolderPath(prefix.folder, resolved, sizeof resolved) ||
        !AppendText(resolved, sizeof resolved, g_szExtractDir + prefix.length)) {
        return false;
    }
    CopyText(g_szExtractDir, kTextBytes, resolved);
    return true;
}

bool BesideArchivePath(Platform& platform, const format::SfxSettings& settings, char* out) {
    GetDefaultExtractDir(platform, out);
    size_t used = strlen(out);
    if (used + settings.besideNameLength >= kTextBytes) return false;
    memcpy(out + used, settings.besideName, settings.besideNameLength);
    out[used + settings.besideNameLength] = '\0';
    return true;
}

BesideVerdict CheckBesideArchive(Platform& platform, const format::SfxSettings& settings) {
    if (settings.besideName == nullptr) return BesideVerdict::NotBeside;
    char path[kTextBytes];
    if (!BesideArchivePath(platform, settings, path)) return BesideVerdict::Missing;
    BesideHash hash;
    hash.expected = settings.besideSize;
    bool read = platform.ReadFileSlices(path, HashSlice, &hash);
    if (hash.seen != settings.besideSize) {
        return read || hash.seen > settings.besideSize ? BesideVerdict::WrongSize
                                                       : BesideVerdict::Missing;
    }
    if (!read) return BesideVerdict::Missing;
    uint8_t digest[kSha256Bytes];
    hash.sha.Final(digest);
    return SameDigest(digest, settings.besideHash) ? BesideVerdict::Intact : BesideVerdict::Changed;
}

bool PassStartChecks(Platform& platform, bool extract, bool box) {
    const format::SfxSettings& settings = platform.session.settings;
    if (extract) {
        char packed[kTextBytes];
        CopyText(packed, sizeof packed, g_szExtractDir);
        if (!ResolveBuiltInDestination(platform)) {
            Refuse(platform, box, texts::kKnownFolderFailed, packed);
            return false;
        }
        if (strcmp(packed, g_szExtractDir) != 0)
            LogLine(platform, texts::kLogDestination, g_szExtractDir);
    }
    if (settings.besideName == nullptr) return true;
    char path[kTextBytes] = "";
    BesideArchivePath(platform, settings, path);
    char checking[kTextBytes + sizeof texts::kBesideChecking] = "";
    CopyText(checking, sizeof checking, texts::kBesideChecking);
    AppendText(checking, sizeof checking, path);
    LogLine(platform, checking);
    if (!box) platform.PrintLine(checking, false);
    BesideVerdict verdict = CheckBesideArchive(platform, settings);
    if (verdict == BesideVerdict::Intact) return true;
    Refuse(platform, box,
           verdict == BesideVerdict::Missing     ? texts::kBesideMissing
           : verdict == BesideVerdict::WrongSize ? texts::kBesideSize
                                                 : texts::kBesideHash,
           path);
    return false;
}

}  // namespace sfx
