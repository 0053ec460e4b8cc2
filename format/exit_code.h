// The exit codes every program of the system ends with: the vorn tool, the Windows stub's runs
// without a window and the Linux self-extractor. Scripts test them, and the manual and the
// README document them, so each number means the same everywhere. A self-extractor that ran the
// publisher's program after extraction ends with that program's own code instead.
#pragma once

namespace format {

enum ExitCode : int {
    kExitSuccess = 0,     // everything asked for was done
    kExitSomeFailed = 1,  // some entries failed, or the walk over them stopped short
    kExitFailed = 2,      // nothing could be done: a bad command line, an archive that does not
                          // open, a wrong password, an interrupted run
};

}  // namespace format
