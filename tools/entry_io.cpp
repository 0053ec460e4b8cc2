// Entry decoding for the tool: into a sink that keeps nothing for "test", into a temporary file
// renamed over the destination for "extract".
#include "tools/entry_io.h"

#include "archive/extraction.h"
#include "tools/system.h"
#include "tools/temp_name.h"

namespace tool {

namespace {

void ReportEntryProgress(void* context, int percent) {
    auto* target = static_cast<ProgressTarget*>(context);
    if (!target->bar) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    target->bar->SetPartial(target->slot,
                            target->entryBytes / 100 * static_cast<uint64_t>(percent));
}

codec::ProgressReport ReportTo(ProgressTarget* target) {
    return codec::ProgressReport{target ? ReportEntryProgress : nullptr, target};
}

void ClearProgress(ProgressTarget* target) {
    if (target && target->bar) target->bar->SetPartial(target->slot, 0);
}

// How many more bytes the entry's record allows, for a decoding that keeps nothing.
struct LengthCheck {
    uint64_t room;
    bool overrun = false;
};

// The library checks the CRC of what passes through, so the bytes need no keeping. They must not
// run past the size the record gives: such data is damaged whatever its CRC, as decoding into
// memory of that size finds too.
bool TakeWithinSize(void* context, const uint8_t*, uint32_t count) {
    auto* check = static_cast<LengthCheck*>(context);
    if (count > check->room) {
        check->overrun = true;
        return false;
    }
    check->room -= count;
    return true;
}

// The file's place: its folder ("." for a bare name) and its own name there.
void SplitPath(const std::string& path, std::string& dir, std::string& leaf) {
    size_t slash = path.rfind('/');
    dir = slash == std::string::npos ? "." : path.substr(0, slash);
    leaf = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Gives the finished temporary file the entry's time and its final name.
uint32_t PutInPlace(const VORN_FILEINFO& info, const std::string& temp, const std::string& path,
                    std::string& error) {
    if (info.qwFileTime != 0) os::SetModificationTime(temp, info.qwFileTime);
    if (!os::RenameFile(temp, path)) {
        error = "cannot write " + path + ": " + os::LastErrorText();
        os::RemoveFile(temp);
        return VORN_E_INVALID_ARGUMENT;
    }
    return VORN_SUCCESS;
}

uint32_t ExtractThroughTemporary(void* handle, const VORN_FILEINFO& info, const char* password,
                                 const std::string& path, ProgressTarget* progress,
                                 unsigned threads, std::string& error) {
    std::string dir, leaf;
    SplitPath(path, dir, leaf);
    const std::string temp = TempNameBeside(dir, leaf);
    if (temp.empty()) {
        error = "cannot name a temporary file: " + os::LastErrorText();
        return VORN_E_INVALID_ARGUMENT;
    }
    if (temp.size() > kLibraryPathLimit) {
        error = "cannot extract into " + dir + ": the path is longer than the " +
                std::to_string(kLibraryPathLimit) + " bytes the library takes";
        return VORN_E_INVALID_ARGUMENT;
    }
    format::Status status = archive::ExtractToFile(handle, info.szName, temp.c_str(), password,
                                                   ReportTo(progress), threads);
    if (status == format::Status::OutputNotCreated) {
        error = "cannot create a file in " + dir + ": " + os::LastErrorText();
    }
    if (status != format::Status::Ok) {
        os::RemoveFile(temp);
        return archive::PublicCode(status);
    }
    return PutInPlace(info, temp, path, error);
}

}  // namespace

format::Status DecodeAndCheck(void* handle, const VORN_FILEINFO& info, const char* password,
                              ProgressTarget* progress, unsigned threads) {
    LengthCheck check{info.qwUnpackedSize};
    format::Status status = archive::ExtractToSink(handle, info.szName, password,
                                                   codec::BlockSink{TakeWithinSize, &check},
                                                   ReportTo(progress), threads);
    ClearProgress(progress);
    return check.overrun ? format::Status::Corrupt : status;
}

uint32_t ExtractToPath(void* handle, const VORN_FILEINFO& info, const char* password,
                       const std::string& path, ProgressTarget* progress, unsigned threads,
                       std::string& error) {
    uint32_t status =
        ExtractThroughTemporary(handle, info, password, path, progress, threads, error);
    ClearProgress(progress);
    return status;
}

}  // namespace tool
