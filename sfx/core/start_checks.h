// What a self-extractor settles at start, before it opens its archive: the known folder at the
// start of its built-in destination looked up on this machine, and an archive packed beside the
// program checked against the size and SHA-256 its settings hold. Each refuses with a clear
// message and the run ends with exit code 2 before anything is extracted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sfx/core/sfx_core.h"

namespace sfx {

// Replaces a known folder at the start of the built-in destination by its path on this machine
// (format/known_folder.h). True when there is none (a text the rule does not read as a known
// folder stands as it is) or it resolved; false when the system has no such folder or the result
// does not fit kTextBytes (g_szExtractDir is then as it was).
bool ResolveBuiltInDestination(Platform& platform);

enum class BesideVerdict {
    NotBeside,  // the archive follows the program in its own file
    Intact,
    Missing,    // no such file, or it cannot be read
    WrongSize,  // shorter or longer than packed
    Changed,    // the size agrees, the SHA-256 does not
};

// The path of the archive beside the program (its folder and the packed name) into out
// (kTextBytes); false when it does not fit.
bool BesideArchivePath(Platform& platform, const format::SfxSettings& settings, char* out);

// Reads the archive beside the program once and compares it with the packed size and SHA-256.
BesideVerdict CheckBesideArchive(Platform& platform, const format::SfxSettings& settings);

// The start checks of a run that is to open its archive (extract is false for the looks at it,
// which show the built-in destination as packed). Says why in a box when box, else on the
// console, and logs it; false when the run must end with exit code 2.
bool PassStartChecks(Platform& platform, bool extract, bool box);

}  // namespace sfx
