// The Windows self-extractor's installer side, kept apart from the dialogs: its command line,
// the console it was started from, removing the temporary folder and the program run after
// extraction.
#pragma once

#include <windows.h>

#include "sfx/core/installer.h"

namespace win32sfx {

// The words of the program's command line after its own name, in the 8-bit code page the
// stub's other calls use; null words when there are none. Freed with the process.
const char* const* CommandWords(int* count);

// Attaches to the console of the program that started this one, once; false when there is none.
bool AttachParentConsole();
// A line on the output the parent handed down, else on its console; errors go to the error
// stream. False when there is neither.
bool ConsoleLine(const char* text, bool error);

// Removes the folder and everything in it, after leaving it as the current folder.
bool RemoveFolderTree(const char* path);

// Starts the program: an .exe with CreateProcessW and its full path as application name, any
// other file with ShellExecuteExW; waits for it when asked. No shell line is built from words.
sfx::ProgramResult RunProgram(const sfx::ProgramLaunch& launch, int* exitCode);

// The first bytes of a file, at most capacity; false when it cannot be opened or read.
bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count);

// The switches' usage: for /? (word null), or after refusing word for the reason why.
void ShowUsage(const char* word, const char* why, bool silent);

}  // namespace win32sfx
