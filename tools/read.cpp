// "vorn list": the archive's entries with sizes, ratio, time, attributes, CRC and codec, a total
// line, how the archive is protected and the comment, or the same as JSON for scripts. "vorn test":
// decodes every entry without keeping it and checks its CRC-32, on as many threads as extraction
// uses.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "archive/extraction.h"
#include "format/block.h"
#include "format/signature_scan.h"
#include "format/stub_fields.h"
#include "pe/stub_branding.h"
#include "platform/platform.h"
#include "tools/archive_session.h"
#include "tools/entry_workers.h"
#include "tools/options.h"
#include "tools/output.h"
#include "tools/system.h"

namespace tool {

namespace {

// Comments larger than this are not shown: they are text meant for a dialog.
constexpr uint64_t kMaxCommentBytes = 16u << 20;

// What the listing shows besides the entries.
struct Listing {
    std::string path;
    Directory directory;
    std::vector<DirectoryEntry> entries;  // those whose names read, the comment's own included
    std::vector<std::string> codecs;      // per entry: what its blocks need to be read
    bool solid = false;                   // some entry is in a group: the table shows them
    std::optional<std::string> comment;
    std::optional<std::string> destination;             // a self-extractor's built-in folder
    std::optional<pe::StubBrandingFacts> branding;      // a Windows self-extractor's
    std::optional<std::vector<uint8_t>> settingsBlock;  // a self-extractor's settings, as stored
    archive::Protection protection = archive::Protection::None;
    format::SealBlock seal;  // with Protection::Sealed
    uint64_t totalUnpacked = 0;
    uint64_t totalStored = 0;
    uint64_t files = 0;
};

// The codec an entry's blocks use: "solid" when any block is an LZ block with history (such
// archives need VORN 0.3 or later), "lz77" when any block is an LZ block (VORN 0.2 or later),
// "context" for the format's first codec, "stored" for raw blocks only, "-" for an entry of no
// blocks and "corrupt" when the block headers cannot be walked.
std::string CodecOf(void* handle, uint64_t index) {
    uint32_t types = 0;
    const format::Status status = archive::EntryBlockTypes(handle, index, &types);
    // A sealed entry under a password of its own keeps its blocks to itself.
    if (status == format::Status::PasswordNeeded) return "sealed";
    if (status != format::Status::Ok) return "corrupt";
    if (types & (1u << format::kBlockLzHistory)) return "solid";
    if (types & (1u << format::kBlockLz)) return "lz77";
    if (types & (1u << format::kBlockCompressed)) return "context";
    return types != 0 ? "stored" : "-";
}

// How the archive is protected: "sealed" (Argon2id and ChaCha20-Poly1305, format/sealed.h),
// "blowfish" (names or entries enciphered with the first scheme, which hides them from a casual
// look and does not resist guessing) or "none".
void ReadProtection(Listing& listing, void* handle) {
    listing.protection = archive::ProtectionOf(handle, &listing.seal);
    if (listing.protection != archive::Protection::None) return;
    for (const DirectoryEntry& e : listing.entries) {
        if (IsEncrypted(e)) listing.protection = archive::Protection::Blowfish;
    }
}

const char* ProtectionName(archive::Protection protection) {
    switch (protection) {
        case archive::Protection::Sealed:
            return "sealed";
        case archive::Protection::Blowfish:
            return "blowfish";
        default:
            return "none";
    }
}

std::string ProtectionText(const Listing& listing) {
    if (listing.protection != archive::Protection::Sealed) {
        return listing.protection == archive::Protection::Blowfish
                   ? "blowfish (hides the contents; does not resist guessing)"
                   : "none";
    }
    char text[128];
    std::snprintf(text, sizeof text,
                  "sealed (Argon2id m=%" PRIu32 " KiB t=%" PRIu32 " p=%" PRIu32
                  ", ChaCha20-Poly1305)",
                  listing.seal.memoryKiB, listing.seal.passes, listing.seal.lanes);
    return text;
}

std::string ProtectionJson(const Listing& listing) {
    std::string json = std::string("\"") + ProtectionName(listing.protection) + "\"";
    if (listing.protection != archive::Protection::Sealed) return json + ",\n  \"kdf\": null";
    char kdf[160];
    std::snprintf(kdf, sizeof kdf,
                  ",\n  \"kdf\": {\"name\": \"argon2id\", \"memoryKiB\": %" PRIu32
                  ", \"passes\": %" PRIu32 ", \"lanes\": %" PRIu32
                  "},\n  \"cipher\": \"chacha20-poly1305\"",
                  listing.seal.memoryKiB, listing.seal.passes, listing.seal.lanes);
    return json + kdf;
}

bool IsComment(const DirectoryEntry& e) {
    return std::string(e.name) == kCommentName;
}

std::string RatioText(uint64_t stored, uint64_t unpacked) {
    if (unpacked == 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%",
                  100.0 * static_cast<double>(stored) / static_cast<double>(unpacked));
    return text;
}

std::optional<std::string> ReadComment(Archive& archive,
                                       const std::optional<std::string>& password) {
    VORN_FILEINFO info{};
    if (archive::GetFileInfo(archive.handle(), &info, kCommentName) != format::Status::Ok) {
        return std::nullopt;
    }
    if (info.qwUnpackedSize > kMaxCommentBytes) return std::nullopt;
    std::vector<unsigned char> buffer(static_cast<size_t>(info.qwUnpackedSize) + 1, 0);
    format::Status status = archive::ExtractToMemory(archive.handle(), kCommentName, buffer.data(),
                                                     nullptr, PasswordText(password));
    if (status != format::Status::Ok) return std::nullopt;
    std::string text(reinterpret_cast<const char*>(buffer.data()),
                     static_cast<size_t>(info.qwUnpackedSize));
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

std::optional<format::SfxSettings> Settings(const Listing& listing);

// A self-extractor's packed licence, which is no file of the archive: its entry, or null.
const DirectoryEntry* LicenseEntry(const Listing& listing) {
    const std::optional<format::SfxSettings> s = Settings(listing);
    if (!s || !s->license) return nullptr;
    for (const DirectoryEntry& e : listing.entries) {
        if (format::IsLicenseEntry(*s, e.name)) return &e;
    }
    return nullptr;
}

// The entries listed as files: neither the comment nor a packed licence.
bool IsNoFile(const Listing& listing, const DirectoryEntry& e) {
    return IsComment(e) || &e == LicenseEntry(listing);
}

void CountTotals(Listing& listing) {
    for (const DirectoryEntry& e : listing.entries) {
        if (IsNoFile(listing, e)) continue;
        listing.totalUnpacked += e.unpackedSize;
        listing.totalStored += e.storedSize;
        ++listing.files;
    }
}

// The settings chosen at packing, or nothing when the block cannot be read.
std::optional<format::SfxSettings> Settings(const Listing& listing) {
    if (!listing.settingsBlock) return std::nullopt;
    format::SfxSettings settings;
    if (format::ReadSfxSettings(listing.settingsBlock->data(), listing.settingsBlock->size(),
                                &settings) != format::SfxSettingsStatus::Ok) {
        return std::nullopt;
    }
    return settings;
}

// The main dialog's caption chosen at packing, if any.
std::optional<std::string> Title(const Listing& listing) {
    const std::optional<format::SfxSettings> s = Settings(listing);
    if (!s || s->title == nullptr) return std::nullopt;
    return std::string(s->title, s->titleLength);
}

// What a Windows self-extractor shows of itself: its title, product and version, and whether it
// asks for administrator rights.
void PrintBranding(const pe::StubBrandingFacts& b, const std::optional<std::string>& title) {
    if (title) std::printf("Title: %s\n", Shown(*title).c_str());
    std::printf("Product: %s %s\n", Shown(b.productName.value_or("-")).c_str(),
                Shown(b.productVersion.value_or("-")).c_str());
    std::printf(
        "Asks for administrator rights: %s\n",
        b.executionLevel == std::optional<std::string>("requireAdministrator") ? "yes" : "no");
}

std::string JsonOrNull(const std::optional<std::string>& text) {
    return text ? JsonString(*text) : "null";
}

void PrintBrandingJson(const Listing& listing) {
    const std::optional<pe::StubBrandingFacts>& b = listing.branding;
    if (!b) return;
    std::printf(
        ",\n  \"title\": %s,\n  \"product\": %s,\n  \"productVersion\": %s,"
        "\n  \"elevate\": %s",
        JsonOrNull(Title(listing)).c_str(), JsonOrNull(b->productName).c_str(),
        JsonOrNull(b->productVersion).c_str(),
        b->executionLevel == std::optional<std::string>("requireAdministrator") ? "true" : "false");
}

// A packed licence's member of the settings, only when there is one, so that a listing without it
// reads as it always has: its size, or null when its entry is missing.
std::string LicenseJson(const Listing& listing, const format::SfxSettings& s) {
    if (!s.license) return "";
    const DirectoryEntry* license = LicenseEntry(listing);
    return ", \"license\": " +
           (license ? "{\"bytes\": " + std::to_string(license->unpackedSize) + "}" : "null");
}

std::string SettingsJson(const Listing& listing) {
    if (!listing.settingsBlock) return "null";
    const std::optional<format::SfxSettings> s = Settings(listing);
    if (!s) return "\"damaged\"";
    return std::string("{\"run\": ") +
           (s->run ? JsonString(std::string(s->run, s->runLength)) : "null") +
           ", \"temporary\": " + (s->temporary ? "true" : "false") + ", \"overwrite\": \"" +
           format::SfxOverwriteName(s->overwrite) + "\"" + LicenseJson(listing, *s) + "}";
}

std::string GroupText(uint32_t group, const char* none) {
    return group == 0 ? none : std::to_string(group);
}

void PrintJson(const Listing& listing) {
    std::printf("{\n  \"archive\": %s,\n  \"entries\": [", JsonString(listing.path).c_str());
    bool first = true;
    for (size_t i = 0; i < listing.entries.size(); ++i) {
        const DirectoryEntry& e = listing.entries[i];
        if (IsNoFile(listing, e)) continue;
        std::printf("%s\n    {\"name\": %s, \"size\": %" PRIu64 ", \"stored\": %" PRIu64
                    ", \"time\": %s, \"fileTime\": %" PRIu64
                    ", \"attributes\": %u"
                    ", \"encrypted\": %s, \"crc\": \"%08x\", \"codec\": \"%s\", \"group\": %s}",
                    first ? "" : ",", JsonString(e.name).c_str(), e.unpackedSize, e.storedSize,
                    JsonString(FormatFileTime(e.fileTime)).c_str(), e.fileTime,
                    e.attributes & 0xffffu, (e.attributes & VORN_ATTR_ENCRYPTED) ? "true" : "false",
                    e.crc, listing.codecs[i].c_str(), GroupText(e.group, "null").c_str());
        first = false;
    }
    std::printf(
        "\n  ],\n  \"files\": %" PRIu64 ",\n  \"size\": %" PRIu64 ",\n  \"stored\": %" PRIu64
        ",\n  \"protection\": %s"
        ",\n  \"defaultDir\": %s,\n  \"sfxSettings\": %s,\n  \"comment\": %s",
        listing.files, listing.totalUnpacked, listing.totalStored, ProtectionJson(listing).c_str(),
        listing.destination ? JsonString(*listing.destination).c_str() : "null",
        SettingsJson(listing).c_str(),
        listing.comment ? JsonString(*listing.comment).c_str() : "null");
    PrintBrandingJson(listing);
    std::printf("\n}\n");
}

void PrintSettings(const Listing& listing) {
    if (!listing.settingsBlock) return;
    const std::optional<format::SfxSettings> s = Settings(listing);
    if (!s) {
        std::printf("Settings: damaged; the self-extractor will not run\n");
        return;
    }
    if (s->run) {
        std::printf("Runs after extraction: %s\n",
                    Shown(std::string(s->run, s->runLength)).c_str());
    }
    if (s->temporary) std::printf("Extracts into a temporary folder, removed afterwards\n");
    if (s->overwrite != format::SfxOverwrite::Ask) {
        std::printf("Existing files: %s\n", format::SfxOverwriteName(s->overwrite));
    }
    if (const DirectoryEntry* license = LicenseEntry(listing)) {
        std::printf("Licence: %" PRIu64 " bytes, to be accepted before extracting\n",
                    license->unpackedSize);
    } else if (s->license) {
        std::printf("Licence: to be accepted, but its entry is missing\n");
    }
}

void PrintComment(const std::string& comment) {
    // Line ends and tabs are the comment's own; other control bytes are shown escaped.
    std::printf("\nComment:\n%s\n", ShownText(comment).c_str());
}

// The group column, shown only for an archive with solid groups.
std::string GroupColumn(const Listing& listing, const std::string& text) {
    if (!listing.solid) return "";
    char cell[16];
    std::snprintf(cell, sizeof cell, "%-5s  ", text.c_str());
    return cell;
}

void PrintTable(const Listing& listing) {
    std::printf("%12s %12s %5s  %-19s  %-5s %-8s  %-7s  %s%s\n", "Size", "Stored", "Ratio",
                "Modified", "Attr", "CRC", "Codec", GroupColumn(listing, "Group").c_str(), "Name");
    std::printf(
        "------------ ------------ -----  -------------------  ----- --------  -------  %s----\n",
        GroupColumn(listing, "-----").c_str());
    for (size_t i = 0; i < listing.entries.size(); ++i) {
        const DirectoryEntry& e = listing.entries[i];
        if (IsNoFile(listing, e)) continue;
        std::printf("%12" PRIu64 " %12" PRIu64 " %5s  %-19s  %-5s %08x  %-7s  %s%s\n",
                    e.unpackedSize, e.storedSize, RatioText(e.storedSize, e.unpackedSize).c_str(),
                    FormatFileTime(e.fileTime).c_str(), AttributeText(e.attributes).c_str(), e.crc,
                    listing.codecs[i].c_str(),
                    GroupColumn(listing, GroupText(e.group, "-")).c_str(), Shown(e.name).c_str());
    }
    std::printf(
        "------------ ------------ -----  -------------------  ----- --------  -------  %s----\n",
        GroupColumn(listing, "-----").c_str());
    std::printf("%12" PRIu64 " %12" PRIu64 " %5s  %" PRIu64 " file%s\n", listing.totalUnpacked,
                listing.totalStored, RatioText(listing.totalStored, listing.totalUnpacked).c_str(),
                listing.files, listing.files == 1 ? "" : "s");
    std::printf("Protection: %s\n", ProtectionText(listing).c_str());
    if (listing.destination) {
        std::printf("\nExtracts by default to: %s\n", Shown(*listing.destination).c_str());
    }
    if (listing.branding) PrintBranding(*listing.branding, Title(listing));
    PrintSettings(listing);
    if (listing.comment) PrintComment(*listing.comment);
}

// The part of the file at path before its archive (all of it when there is none): the program
// image of a self-extractor.
std::vector<uint8_t> ImageBeforeArchive(const std::string& path) {
    // Stubs are small; an image this large before the archive is not one of ours.
    constexpr size_t kMaxImage = 64u << 20;
    std::ifstream in(os::PathOf(path), std::ios::binary);
    std::vector<uint8_t> image;
    std::vector<char> slice(1 << 20);
    format::SignatureScan scan;
    while (in && image.size() < kMaxImage) {
        in.read(slice.data(), static_cast<std::streamsize>(slice.size()));
        const auto* bytes = reinterpret_cast<const uint8_t*>(slice.data());
        image.insert(image.end(), bytes, bytes + in.gcount());
        if (scan.Feed(bytes, static_cast<size_t>(in.gcount()))) {
            image.resize(static_cast<size_t>(scan.Offset()));
            break;
        }
    }
    return image;
}

// A self-extractor's built-in destination (when it is not empty), its settings block as stored
// and the branding of its Windows program image.
void ReadStubFacts(Listing& listing) {
    const std::vector<uint8_t> image = ImageBeforeArchive(listing.path);
    if (const uint8_t* field = format::FindBuiltInDestinationField(image.data(), image.size())) {
        const size_t length = format::BuiltInDestinationLength(field);
        if (length != 0) listing.destination = std::string(field, field + length);
    }
    if (const uint8_t* block = format::FindSfxSettingsBlock(image.data(), image.size())) {
        listing.settingsBlock.emplace(block, block + format::kSfxSettingsBytes);
    }
    listing.branding = pe::ReadStubBranding(image);
}

}  // namespace

bool PacksLicense(const std::string& path) {
    Listing listing;
    listing.path = path;
    ReadStubFacts(listing);
    const std::optional<format::SfxSettings> s = Settings(listing);
    return s && s->license;
}

namespace {

// An entry whose name could not be read (ReadDirectory) is refused alone, by its index, as
// extract refuses it; the others are listed or tested.
bool RefusedUnread(const std::vector<uint64_t>& unreadable, uint64_t index) {
    if (std::find(unreadable.begin(), unreadable.end(), index) == unreadable.end()) return false;
    std::fprintf(stderr,
                 "vorn: refused entry %llu: its name is longer than 255 bytes or cut short\n",
                 static_cast<unsigned long long>(index));
    return true;
}

// Tests every entry, printing one line for each; returns the failures.
uint64_t TestEntries(Archive& archive, const std::vector<DirectoryEntry>& entries,
                     const std::vector<uint64_t>& unreadable,
                     const std::optional<std::string>& archivePassword,
                     const std::optional<std::string>& entryPassword, const Options& options,
                     ProgressBar& bar) {
    std::vector<PlannedEntry> plan;
    plan.reserve(entries.size());
    platform::PrepareForWriting(plan.data(), plan.capacity() * sizeof(PlannedEntry));
    uint64_t refused = 0;
    for (uint64_t i = 0; i < entries.size(); ++i) {
        if (RefusedUnread(unreadable, i)) {
            ++refused;
        } else {
            plan.push_back(PlannedEntry{&entries[i], i, {}, 0, {}});
        }
    }
    ExtractJob job{archive, options.operands[0], archivePassword, entryPassword,
                   "",      JobCount(options),   options.quiet,   true};
    job.verbose = options.verbose;
    ExtractInParallel(job, plan, bar);
    uint64_t failed = refused;
    for (const PlannedEntry& e : plan) failed += !e.outcome.Succeeded();
    return failed;
}

}  // namespace

int RunList(const Options& options) {
    if (options.operands.size() != 1) {
        std::fprintf(stderr, "vorn list: give exactly one archive (see vorn list --help)\n");
        return kExitUsage;
    }
    std::optional<std::string> password;
    PasswordWiper wipePassword(password);
    if (!GivenPassword(options, password)) return kExitUsage;
    Listing listing;
    listing.path = options.operands[0];
    Archive archive;
    if (!OpenForCommand(archive, listing.path, password)) return kExitUsage;
    std::vector<uint64_t> unreadable;
    if (!ReadDirectory(archive, listing.directory, &unreadable)) return kExitUsage;
    const std::vector<DirectoryEntry>& entries = listing.directory.entries;
    for (uint64_t i = 0; i < entries.size(); ++i) {
        if (RefusedUnread(unreadable, i)) continue;
        listing.entries.push_back(entries[i]);
        listing.codecs.push_back(CodecOf(archive.handle(), i));
        listing.solid = listing.solid || entries[i].group != 0;
    }
    listing.comment = ReadComment(archive, password);
    ReadProtection(listing, archive.handle());
    ReadStubFacts(listing);
    CountTotals(listing);
    if (options.json) {
        PrintJson(listing);
    } else {
        PrintTable(listing);
    }
    return unreadable.empty() ? kExitOk : kExitEntriesFailed;
}

int RunTest(const Options& options) {
    if (options.operands.size() != 1) {
        std::fprintf(stderr, "vorn test: give exactly one archive (see vorn test --help)\n");
        return kExitUsage;
    }
    std::optional<std::string> password;
    PasswordWiper wipePassword(password);
    if (!GivenPassword(options, password)) return kExitUsage;
    Archive archive;
    if (!OpenForCommand(archive, options.operands[0], password)) return kExitUsage;
    Directory directory;
    std::vector<uint64_t> unreadable;
    if (!ReadDirectory(archive, directory, &unreadable)) return kExitUsage;
    const std::vector<DirectoryEntry>& entries = directory.entries;

    // The password that opened the archive (if any) opens every worker's handle too.
    std::optional<std::string> archivePassword = password;
    PasswordWiper wipeArchivePassword(archivePassword);
    bool anyEncrypted = false;
    uint64_t total = 0;
    for (const DirectoryEntry& e : entries) {
        total += e.unpackedSize;
        anyEncrypted = anyEncrypted || IsEncrypted(e);
    }
    AskEntryPasswordIfNeeded(password, anyEncrypted);

    ProgressBar bar(!options.quiet && os::StderrIsTerminal(), total, "Testing");
    uint64_t failed =
        TestEntries(archive, entries, unreadable, archivePassword, password, options, bar);
    bar.Finish();
    if (Interrupted()) {
        std::fprintf(stderr, "vorn: interrupted; not every entry was tested\n");
        return kExitEntriesFailed;
    }
    if (failed) {
        std::fprintf(stderr, "%llu of %zu entries failed\n",
                     static_cast<unsigned long long>(failed), entries.size());
        return kExitEntriesFailed;
    }
    if (!options.quiet) std::printf("All %zu entries are intact\n", entries.size());
    return kExitOk;
}

}  // namespace tool
