// The Windows self-extractor's licence dialog (vorn pack --license): the packed text, read-only
// and scrollable, with "I accept" and "I do not accept", before the main dialog.
#pragma once

namespace win32sfx {

// Runs the dialog modally over text (UTF-8, NUL-terminated); true only when "I accept" was
// pressed. A dialog that cannot be made counts as not accepted.
bool RunLicenseDialog(const char* text);

}  // namespace win32sfx
