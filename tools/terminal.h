// Talking with the user on the terminal: hidden password input, questions with one-letter answers,
// and Ctrl-C turned into a flag the commands look at.
#pragma once

#include <optional>
#include <string>

namespace tool {

// Reads one line from the terminal with echo off; nullopt when there is no terminal or the input
// ended.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

// Asks on the terminal and returns the first character of the answer, lowered; 0 at end of input.
char AskChoice(const std::string& question);

// Ctrl-C and SIGTERM set a flag instead of ending the process, so that a command can cancel the
// running extraction and remove its unfinished files.
void CatchInterrupt();
bool Interrupted();

}  // namespace tool
