// The vorn tool's commands. Each returns the process's exit code.
#pragma once

#include <string>

#include "tools/options.h"

namespace tool {

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitEntriesFailed = 1;
constexpr int kExitUsage = 2;  // also every archive-level failure

int RunList(Options& options);
int RunTest(Options& options);
int RunExtract(Options& options);
int RunPack(Options& options, const std::string& selfPath);

}  // namespace tool
