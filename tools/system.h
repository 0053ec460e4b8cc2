// The operating system as the vorn tool reaches it directly: the terminal on standard input,
// Ctrl-C, random bytes, what stands at a path, file times, folders, renaming and removing files,
// and the tool's own location. The commands call the system only through here
// (and std::filesystem), so that another implementation beside system_posix.cpp carries all of them
// to another system unchanged. Paths are UTF-8 text; a failed call leaves its reason for
// LastErrorText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "format/container.h"

namespace tool::os {

// The first call of the tool: on Windows, every DLL loaded by name from here on comes from the
// system folder alone, never from the folder the tool was started from or lies in. Elsewhere
// nothing to do.
void RestrictLibrarySearch();

bool StdinIsTerminal();
bool StderrIsTerminal();

// While it lives, the terminal on standard input shows nothing of what is typed but the line end.
// Does nothing when standard input is no terminal.
class InputEchoOff {
  public:
    InputEchoOff();
    ~InputEchoOff();
    InputEchoOff(const InputEchoOff&) = delete;
    InputEchoOff& operator=(const InputEchoOff&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// One byte of standard input, taking nothing beyond it; false at the end of input or on an error.
bool ReadStdinByte(char& byte);

// Ctrl-C and SIGTERM call onInterrupt instead of ending the process. It may run in the middle of
// any other code (as a signal handler), so it should only set a flag.
void CallOnInterrupt(void (*onInterrupt)());

// From now on Ctrl-C and SIGTERM remove the file at path and end the process with exit code 130.
// A path too long to keep leaves the interrupts as they were.
void RemoveOnInterrupt(const std::string& path);

// Fills buffer with random bytes from the system; false when it has none to give.
bool RandomBytes(unsigned char* buffer, size_t count);

// The system's reason for the most recent failed call on this thread, such as "Permission denied".
std::string LastErrorText();

enum class PathKind { File, Folder, Link, Other };

struct PathFacts {
    PathKind kind = PathKind::Other;
    uint64_t size = 0;
    uint64_t fileTime = 0;  // last modification, as a Windows FILETIME
    // The Windows attribute word an archive keeps (format::FileAttribute): read-only, hidden,
    // system and archive where the system has them; elsewhere archive, and read-only when the
    // owner may not write the file.
    uint16_t attributes = format::kAttributeArchive;
};

// What stands at path, following symbolic links; false when nothing does or it cannot be asked.
bool StatPath(const std::string& path, PathFacts& facts);
// The same about path itself: a symbolic link is reported as a link.
bool StatPathItself(const std::string& path, PathFacts& facts);

bool CanRead(const std::string& path);

// Creates one folder; true also when something of that name stands there already.
bool MakeFolder(const std::string& path);

// Sets the last modification (and access) time of a file, given as a Windows FILETIME.
bool SetModificationTime(const std::string& path, uint64_t fileTime);

// Lets the file be started as a program.
bool MakeExecutable(const std::string& path);

// Gives the file at from the name to, replacing a file of that name.
bool RenameFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

int ProcessId();

// Whether c separates folder levels in the system's paths: "/", and on Windows "\\" too.
bool IsPathSeparator(char c);

// A path of std::filesystem from UTF-8 text and back (on Windows its paths are UTF-16, and its
// own conversions from 8-bit text do not read UTF-8); Generic gives "/" between levels.
std::filesystem::path PathOf(const std::string& utf8);
std::string TextOf(const std::filesystem::path& path);
std::string GenericTextOf(const std::filesystem::path& path);

// The full path of the running program; empty when the system cannot tell.
std::string OwnProgramPath();

// The local calendar time of seconds since 1970; false when the system cannot convert it.
bool LocalTime(int64_t seconds, std::tm& local);

}  // namespace tool::os
