// Reading a command's options from the command line, by a table of every option the tool knows.
#pragma once

#include "tools/options.h"

namespace tool {

enum class ParseOutcome { Run, ShowHelp, Refused };

// argv[1] is the command's word, its options and operands follow. Refused after printing why.
ParseOutcome ParseOptions(Command command, int argc, char** argv, Options& options);

}  // namespace tool
