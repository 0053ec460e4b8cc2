// The Linux self-extractor's terminal: every line, prompt and progress bar goes through one
// Terminal, so the bar is cleared before a message and redrawn after it; the questions with
// one-letter answers; lines read with echo off for passwords; and Ctrl-C, which cancels the run.
// Texts from the archive are shown escaped (format/text_bytes.h): a name that holds a line end,
// ESC or the 8-bit CSI can neither fake a line nor drive the terminal.
#pragma once

#include <signal.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "format/text_bytes.h"

namespace console {

// Set by Ctrl-C (InstallInterruptHandler), which also cancels the walk.
extern volatile sig_atomic_t g_interrupted;
void InstallInterruptHandler();

bool StdinIsTerminal();
bool StdoutIsTerminal();

class Terminal {
  public:
    // One line; flags as EscapeForDisplay takes them (a comment keeps its layout).
    void Line(FILE* stream, const std::string& text, unsigned flags = format::kDisplayUtf8);
    void Prompt(const std::string& text);
    void Bar(int percent, const std::string& current, const std::string& count);
    void EndBar();

  private:
    void ClearBar();
    std::mutex lock_;
    bool barShown_ = false;
};

extern Terminal g_terminal;

// Shows the prompt and reads one line from stdin without its line end; nullopt at end of input.
// Echo goes off before the prompt appears, so nothing typed in answer to it is ever shown, and
// input typed ahead is kept, not flushed.
std::optional<std::string> ReadLine(const std::string& prompt, bool hidden);

// A yes/no(/cancel) question. Without a terminal the safe answer is given and said.
int Ask(const char* text, const char* caption, unsigned style, int unattendedAnswer);
// A message box as the terminal shows it: a question asked, anything else a line.
int ShowBox(const char* text, const char* caption, unsigned style, int unattendedAnswer);

}  // namespace console
