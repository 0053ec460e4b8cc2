// The self-extractor for Linux terminals: the same decisions as the Windows stub (sfx/core) with
// a terminal in place of the dialogs (terminal.h, console_dialogs.h, console_platform.h). The
// comment is printed, the destination is asked with the default shown, questions take one-letter
// answers, passwords are typed without echo, and the current entry's progress is a bar with the
// running count beside it. Without a terminal on stdin every question takes its safe answer: the
// default destination, keep existing files, no password (the entry is reported), and exit when
// done.
#include <string>

#include "sfx/console/console_platform.h"
#include "sfx/console/terminal.h"
#include "sfx/core/command_line.h"
#include "sfx/core/invocation.h"

int main(int argc, char** argv) {
    console::InstallInterruptHandler();
    sfx::Invocation invocation;
    sfx::ParseConsoleOptions(argc - 1, const_cast<const char* const*>(argv + 1), &invocation);
    // A folder given is the shell's: "~" is the home folder, a relative one is below this one.
    std::string target =
        invocation.destination ? console::AbsoluteFolder(invocation.destination) : "";
    if (invocation.destination) invocation.destination = target.c_str();
    console::ConsolePlatform platform(argc > 0 ? argv[0] : "vornsfx");
    return sfx::Run(invocation, platform);
}
