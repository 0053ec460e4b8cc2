// One run of a self-extractor as plain data: what it was asked (the invocation), the settings
// chosen at packing, how the walk and the program went, and the temporary folder. The platform
// carries it (Platform::session), so every decision that is handed the platform reaches it and
// no state of a run lives in a global of the installer.
#pragma once

#include <cstdint>

#include "format/container.h"
#include "format/password_file.h"
#include "format/sfx_settings.h"
#include "sfx/core/invocation.h"

namespace sfx {

// How the last walk went (ExtractThread fills it).
struct WalkOutcome {
    bool started = false;        // a walk ran
    uint64_t entries = 0;        // entries to extract (the comment entry not counted)
    uint64_t extracted = 0;      // extracted without error
    uint64_t kept = 0;           // existing files kept by choice
    uint64_t failed = 0;         // refused, failed, or kept where nothing said to keep them
    bool complete = false;       // the walk reached its last entry
    bool wrongPassword = false;  // a missing or wrong password stopped a run without questions
};

// Everything that decides a run's exit code.
struct RunReport {
    bool opened = false;           // the archive opened (with the given password)
    bool folderFailed = false;     // the destination or temporary folder could not be made
    bool interrupted = false;      // cancelled from outside (Ctrl-C, a Close)
    bool licenseDeclined = false;  // the packed licence was not accepted: nothing was extracted
    WalkOutcome walk;
    bool programWanted = false;  // a program was to run after this walk
    bool programStarted = false;
    int programExitCode = 0;
};

// The temporary folder of a self-extractor packed with one (sfx/core/temporary_folder.cpp owns
// it): made once before the walk, removed once afterwards unless the invocation keeps it.
struct TemporaryFolder {
    char path[format::kPathBufferBytes] = {};
    bool made = false;
};

struct Session {
    Invocation invocation;
    format::SfxSettings settings;  // read from g_abSettings (LoadSettings); none while unread
    RunReport report;
    bool unattended = false;  // a run without questions is under way: the walk asks nothing
    TemporaryFolder temporary;
    bool logging = false;  // the invocation's log is open (sfx/core/run_log.h)
    // The password a password file gave; the invocation's password points here once it is read.
    char filePassword[format::kMaxPasswordBytes + 1] = {};
    // The password a sealed archive was opened with at the start-up prompt: its entries are
    // sealed under it, so the dialog's walk tries it before asking (empty: none). Wiped when the
    // archive closes.
    char sealedPassword[format::kMaxPasswordBytes + 1] = {};
};

}  // namespace sfx
