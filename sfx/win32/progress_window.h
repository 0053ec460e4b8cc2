// The small window of a run without questions that shows its progress (/S /PROGRESS): the title,
// the current file, the bar and the count, and a Cancel that stops the run as an interrupt does
// (exit code 2, the temporary folder removed). It runs on a thread of its own, so that it answers
// the user while the walk goes on on the main thread.
#pragma once

#include "sfx/core/sfx_core.h"

namespace win32sfx {

// Opens the window; its controls as a dialog of the progress area's ids. Null when it cannot be
// made (the run then goes on without it).
sfx::Dialog* OpenProgressWindow(sfx::Platform& platform);
// Closes the window and waits for its thread.
void CloseProgressWindow();

}  // namespace win32sfx
