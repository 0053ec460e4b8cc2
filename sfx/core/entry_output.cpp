// The platform's default way of writing an entry's file: the one way below every extracting
// program (platform/output_file.h), over the real file system. One entry at a time, so its open
// folder and part file live in fixed storage, as the Windows stub wants.
#include <cstring>

#include "platform/output_file.h"
#include "sfx/core/sfx_core.h"

namespace sfx {

namespace {

struct EntryOutput {
    platform::OutputRoot root;
    platform::OutputFolder folder;
    platform::PartFile part;
    bool open = false;
    bool partMade = false;
};

EntryOutput g_output;

}  // namespace

EntryFolderResult OpenEntryFolderOnDisk(const char* destination, const char* relative) {
    CloseEntryFolderOnDisk(false);
    EntryOutput& out = g_output;
    if (platform::OpenOutputRoot(destination, &out.root) != platform::OutputResult::Ok) {
        platform::CloseOutputRoot(&out.root);
        return EntryFolderResult::Failed;
    }
    platform::OutputResult entered = platform::OpenOutputFolder(out.root, relative, &out.folder);
    if (entered != platform::OutputResult::Ok) {
        platform::CloseOutputRoot(&out.root);
        return entered == platform::OutputResult::ThroughLink ? EntryFolderResult::ThroughLink
                                                              : EntryFolderResult::Failed;
    }
    out.open = true;
    return EntryFolderResult::Ok;
}

bool CreateEntryPartOnDisk(const char* leaf, char* partPath) {
    EntryOutput& out = g_output;
    if (!out.open || out.partMade) return false;
    // The library takes paths of at most kMaxTextLength characters.
    if (platform::CreatePartFile(out.folder, leaf, kMaxTextLength, &out.part) !=
        platform::OutputResult::Ok) {
        return false;
    }
    platform::ReleasePartFileForPath(&out.part);
    out.partMade = true;
    memcpy(partPath, out.part.path, strlen(out.part.path) + 1);
    return true;
}

bool CloseEntryFolderOnDisk(bool keep) {
    EntryOutput& out = g_output;
    if (!out.open) return false;
    bool kept = false;
    if (out.partMade && keep) {
        kept = platform::CommitPartFile(&out.part) == platform::OutputResult::Ok;
    } else if (out.partMade) {
        platform::DiscardPartFile(&out.part);
    }
    out.partMade = false;
    platform::CloseOutputFolder(&out.folder);
    platform::CloseOutputRoot(&out.root);
    out.open = false;
    return kept;
}

}  // namespace sfx
