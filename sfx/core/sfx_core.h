// The self-extractor's decisions, free of any window system: start-up (default destination, open,
// the one password retry, the error report), the main dialog's state changes, the extraction walk
// with its path rules, the per-entry password loop and the password dialog's rules. Each front end
// (the Win32 stub, the Linux console program, the tests' scripted fake) supplies the platform
// through the small interfaces below and turns its events into calls of these functions.
//
// The code goes into the Windows stub, so it keeps to fixed 256-byte buffers and plain data: no
// standard containers, no exceptions, no heap objects.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/vorn.h"
#include "format/container.h"
#include "format/exit_code.h"
#include "format/known_folder.h"
#include "format/sfx_settings.h"
#include "sfx/core/control_ids.h"
#include "sfx/core/session.h"

namespace sfx {

// Paths, names and messages live in buffers of the library's path size: 255 characters and the
// NUL.
constexpr size_t kTextBytes = format::kPathBufferBytes;
constexpr size_t kMaxTextLength = format::kMaxPathBytes;
// The password field is read into at most this many bytes, the NUL included.
constexpr size_t kPasswordFieldBytes = 128;
constexpr size_t PASSWORD_MIN_LENGTH = 6;

// Message box buttons, icons and answers, with the values of the Win32 MessageBoxA flags so that
// the Win32 front end passes them through unchanged.
constexpr unsigned kBoxOk = 0x0;
constexpr unsigned kBoxYesNoCancel = 0x3;
constexpr unsigned kBoxYesNo = 0x4;
constexpr unsigned kBoxIconError = 0x10;
constexpr unsigned kBoxIconQuestion = 0x20;
constexpr unsigned kBoxIconInformation = 0x40;
constexpr unsigned kBoxForeground = 0x10000;

constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

// Dialog results: the password dialog ends with 1 (confirmed) or 2 (cancelled); the main dialog
// with 0 (completion question answered Yes) or 2 (Close confirmed).
constexpr intptr_t kDialogConfirmed = 1;
constexpr intptr_t kDialogCancelled = 2;
constexpr intptr_t kDialogDone = 0;

// How paths are spelled where the files land. Entry names always use "\" between levels; they are
// joined to the destination with the native separator.
enum class PathStyle {
    Windows,  // "\" (and "/") separate levels; "X:" names a drive
    Posix,    // "/" separates levels; no drives
};

// The controls of one open dialog. Ids are those of control_ids.h. Every call may come from the
// worker thread; the Win32 front end turns each into a message carried out on the dialog's thread.
class Dialog {
  public:
    virtual void SetItemText(int id, const char* text) = 0;
    // Reads at most capacity - 1 characters and the NUL into out.
    virtual void GetItemText(int id, char* out, size_t capacity) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual void ListReset(int id) = 0;
    virtual void ListAdd(int id, const char* text) = 0;
    virtual void SetProgressRange(int id, int low, int high) = 0;
    virtual void SetProgressColour(int id, uint8_t red, uint8_t green, uint8_t blue) = 0;
    virtual void SetProgress(int id, int value) = 0;
    virtual void End(intptr_t result) = 0;
    // A message box owned by this dialog; returns the answer (kAnswer...).
    virtual int ShowMessage(const char* text, const char* caption, unsigned style) = 0;

  protected:
    ~Dialog() = default;
};

// The main dialog adds the comment viewer, the folder browser and the worker's start.
class MainDialog : public Dialog {
  public:
    // Creates the viewer over the progress area; false when it cannot be made.
    virtual bool CreateCommentView() = 0;
    // Makes the viewer's fixed-pitch font and sets it on the viewer; false when it cannot be made.
    virtual bool SetCommentFont() = 0;
    virtual void SetCommentText(const char* text) = 0;
    virtual bool HasCommentView() = 0;
    virtual void DestroyCommentView() = 0;
    virtual bool HasCommentFont() = 0;
    virtual void ReleaseCommentFont() = 0;
    // The folder browser: true and the chosen folder's path (at most 255 characters) in out, or
    // false when the user cancelled.
    virtual bool BrowseForFolder(char* out, size_t capacity) = 0;
    // Starts ExtractThread for this dialog, on a thread of its own where there are threads.
    virtual bool StartWorker() = 0;
    // Checks or clears a check box (the overwrite box's packed starting state).
    virtual void SetChecked(int id, bool checked) = 0;

  protected:
    ~MainDialog() = default;
};

// The archive library as the front end uses it. RealArchive() calls the vorn_ functions; tests may
// script their own.
class ArchiveApi {
  public:
    virtual uint32_t OpenStream(void** handle, const char* path, const char* password,
                                unsigned mode) = 0;
    virtual uint32_t CloseStream(void* handle) = 0;
    virtual uint32_t CancelOperation(void* handle) = 0;
    virtual uint64_t GetNumFiles(void* handle) = 0;
    virtual const char* GetErrorString(uint32_t status) = 0;
    virtual uint32_t EnumerateFiles(void* handle, VORN_FILEINFO* info, uint64_t index) = 0;
    virtual uint32_t GetFileInfo(void* handle, VORN_FILEINFO* info, const char* name) = 0;
    virtual uint32_t DecompressToFile(void* handle, const char* name, const char* path,
                                      ProgressCallback progress, const char* password) = 0;
    virtual uint32_t DecompressToPtr(void* handle, const char* name, unsigned char* buffer,
                                     ProgressCallback progress, const char* password) = 0;
    // A sealed archive's digest of the settings block it was packed behind (32 bytes); false
    // for an archive that is not sealed.
    virtual bool SealedSettingsDigest(void* handle, uint8_t* digest) {
        (void)handle;
        (void)digest;
        return false;
    }

  protected:
    ~ArchiveApi() = default;
};

ArchiveApi& RealArchive();

// The program to run after extraction, as the platform needs it.
struct ProgramLaunch {
    const char* path;    // the program's full path inside the extraction folder
    const char* folder;  // the extraction folder, the program's working directory
    const char* line;    // the packed program line; its words after the first are arguments
    size_t lineLength;
    size_t argumentsAt;            // where in line the arguments start
    const char* const* extraArgs;  // words given after "--"
    int extraCount;
    bool wait;  // wait for it to end
    // Wait as well for every process it starts, and theirs, to end (a temporary folder is removed
    // afterwards, and bootstrappers exit while their children still work in it). Only with wait.
    bool wholeTree;
};

// How entering an entry's folder below the destination went.
enum class EntryFolderResult {
    Ok,
    ThroughLink,  // a level, or what stands at the entry's own name, is a link: never followed
    Failed,       // a level could not be made or is a file, or the destination is none
};

enum class ProgramResult {
    Ran,          // started (and, when waited for, ended with *exitCode)
    CannotStart,  // the system could not start it
};

// The one way of writing an entry's file over the real file system (sfx/core/entry_output.cpp),
// which the platforms below do by default.
EntryFolderResult OpenEntryFolderOnDisk(const char* destination, const char* relative);
bool CreateEntryPartOnDisk(const char* leaf, char* partPath);
bool CloseEntryFolderOnDisk(bool keep);

// Everything else the decisions need of the system.
class Platform {
  public:
    virtual PathStyle Style() = 0;
    // Full path of the program's own file, at most capacity - 1 characters (cut, as the system
    // cuts it, when longer).
    virtual void GetOwnPath(char* out, size_t capacity) = 0;
    // A message box without owner.
    virtual int ShowMessage(const char* text, const char* caption, unsigned style) = 0;
    // Runs the password dialog modally with the given owner (null: none) and a 256-byte buffer;
    // returns the dialog's result (1 confirmed, 2 cancelled, anything else: not created).
    virtual intptr_t RunPasswordDialog(MainDialog* owner, char* buffer) = 0;
    // Runs the main dialog modally until it ends.
    virtual void RunMainDialog() = 0;
    // Returns once no worker runs any more. The platform keeps answering the worker's display
    // updates meanwhile.
    virtual void WaitForWorker() = 0;
    // File system probes. DirectoryExists may move the process's current directory (the Win32
    // front end tests a level by entering it).
    virtual bool PathExists(const char* path) = 0;
    virtual bool DirectoryExists(const char* path) = 0;
    virtual bool CreateDirectoryLevel(const char* path) = 0;
    virtual bool RemoveFile(const char* path) = 0;
    // An entry's file, written the one way (platform/output_file.h), one entry at a time. Enters
    // relative (levels joined by the native separator; empty for the destination itself) below
    // destination, making the missing levels and never passing through a link that stands there.
    virtual EntryFolderResult OpenEntryFolder(const char* destination, const char* relative) {
        return OpenEntryFolderOnDisk(destination, relative);
    }
    // A new part file beside the file leaf in the folder entered; its path, for the library to
    // write, into partPath (kTextBytes). false when none can be made.
    virtual bool CreateEntryPart(const char* leaf, char* partPath) {
        return CreateEntryPartOnDisk(leaf, partPath);
    }
    // Ends the entry: the part file, if one was made, renamed over leaf when keep (replacing a file
    // or link there) or else removed; then the folder is closed. false when the rename failed
    // (the part file is removed then, and what stood at leaf is as it was).
    virtual bool CloseEntryFolder(bool keep) { return CloseEntryFolderOnDisk(keep); }
    // Whether c opens a double-byte character in the system's 8-bit code page, so that the byte
    // after it is never taken for a separator.
    virtual bool IsLeadByte(unsigned char c) {
        (void)c;
        return false;
    }
    // An archive's text (an entry name, the comment) as the system's 8-bit calls must be given
    // it. Writes it with its NUL into out when it fits capacity, and returns its length either
    // way. By default the stored bytes unchanged; where those calls read UTF-8, the Windows stub
    // reads a text that is not UTF-8 in the system's own code page.
    virtual size_t SystemText(const char* text, char* out, size_t capacity) {
        size_t length = strlen(text);
        if (length < capacity) memcpy(out, text, length + 1);
        return length;
    }

    // Installers (sfx/core/installer.h). A line for the console the program was started from,
    // when it has one; error lines go to its error stream.
    virtual void PrintLine(const char* text, bool error) {
        (void)text;
        (void)error;
    }
    // Makes a new private folder inside the user's temporary folder; its path, with no trailing
    // separator, in out (kTextBytes).
    virtual bool MakeTemporaryFolder(char* out) {
        (void)out;
        return false;
    }
    // Removes a folder and everything in it; false when something stayed.
    virtual bool RemoveFolderTree(const char* path) {
        (void)path;
        return false;
    }
    // Starts the program after extraction (waiting for it when launch asks), never through a
    // shell line built from the arguments. *exitCode: its exit code once waited for.
    virtual ProgramResult RunProgram(const ProgramLaunch& launch, int* exitCode) {
        (void)launch;
        (void)exitCode;
        return ProgramResult::CannotStart;
    }

    // The command lines (sfx/core/invocation.h). The usage, for the help (word null) or after
    // refusing word for the reason why (the front end's words, sfx/core/messages.h).
    virtual void ShowUsage(const char* word, const char* why) {
        (void)word;
        (void)why;
    }
    // The first bytes of the file at path, at most capacity of them, into out and their number
    // into *count; false when it cannot be opened or read (a password file, ReadPasswordFile).
    virtual bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count) {
        (void)path;
        (void)out;
        (void)capacity;
        (void)count;
        return false;
    }
    // The looks at the archive that extract nothing (RunMode Info, List, Check); the exit code.
    virtual int Inspect(RunMode mode) {
        (void)mode;
        return format::kExitFailed;
    }

    // The packed licence (UTF-8, NUL-terminated) shown to the user, who accepts it or not. Where
    // nobody can be asked, it is not accepted.
    virtual bool AskLicense(const char* text) {
        (void)text;
        return false;
    }
    // A run without questions that shows its progress (/S /PROGRESS): a view with the controls
    // of the main dialog's progress area (IDC_CURRENT_FILE, IDC_FILES_DONE, IDC_PROGRESS) and a
    // Cancel that stops the run as an interrupt does. Null when the platform shows none.
    virtual Dialog* OpenProgressView() { return nullptr; }
    virtual void CloseProgressView() {}
    // The run's log (sfx/core/run_log.h): path opened for appending, false when it cannot be;
    // each line written whole with one call, as lines come from the worker and the main thread.
    virtual bool OpenLogFile(const char* path) {
        (void)path;
        return false;
    }
    virtual void WriteLogLine(const char* line, size_t length) {
        (void)line;
        (void)length;
    }
    virtual void CloseLogFile() {}
    // Seconds since 1970-01-01 00:00 UTC, for the log's time stamps.
    virtual int64_t UnixTime() { return 0; }
    // A known folder's path on this machine (format/known_folder.h) into out (capacity bytes,
    // NUL included); false when the system has none or it does not fit.
    virtual bool KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity) {
        (void)folder;
        (void)out;
        (void)capacity;
        return false;
    }
    // Reads the file at path from its start in slices, handing each to slice with context until
    // slice returns false or the file ends; false when the file cannot be opened or read.
    using FileSlice = bool (*)(void* context, const uint8_t* bytes, size_t size);
    virtual bool ReadFileSlices(const char* path, FileSlice slice, void* context) {
        (void)path;
        (void)slice;
        (void)context;
        return false;
    }

    ArchiveApi* archive = &RealArchive();
    // This run's invocation, settings and outcome: every decision handed the platform reaches it.
    Session session;

  protected:
    ~Platform() = default;
};

// Front-end state shared by start-up, the main dialog, the worker and the password prompts.
// The built-in default destination: empty as built, filled in by the packer.
extern char (&g_szExtractDir)[kTextBytes];
// The settings chosen at packing, as stored (format/sfx_settings.h); all zeros as built.
extern uint8_t (&g_abSettings)[format::kSfxSettingsBytes];
extern void* g_hArchive;
extern std::atomic<bool> g_bCancel;
extern uint64_t g_qwFileCount;
extern uint64_t g_qwFilesDone;
extern char g_szSavedPassword[kTextBytes];
extern uint8_t g_bPasswordSaved;
extern char* g_pszPasswordOut;
extern MainDialog* g_pMainDialog;  // target of UpdateProgressBar while a dialog is open
extern Platform* g_pPlatform;      // the platform UpdateProgressBar reaches the archive through

// Start-up: default destination, open (one password retry), error report, the packed licence,
// main dialog, close. Returns the process's exit code: 0 (the report in platform.session says how
// it went), or 2 when a packed licence was not accepted.
int StartUp(Platform& platform);

// Opens the program's own file as its archive into *handle (null when it does not open).
uint32_t OpenOwnArchive(Platform& platform, const char* password, void** handle = &g_hArchive);

// Whether status, from an enciphered entry given a password, means the password is wrong: the
// data deciphered with it fails its check or its format.
bool MeansWrongPassword(uint32_t status);
// The same for an entry of the open archive: a sealed archive's open checked its password, so
// there only a failed tag under an entry's own password (a CRC status) means a wrong one; a
// damaged entry sealed under the archive's password is reported as damaged.
bool MeansWrongPasswordHere(ArchiveApi& archive, uint32_t status);

// Drive and directory of the program's own file, ending in its separator.
void GetDefaultExtractDir(Platform& platform, char* out);

// Main dialog events.
void MainDialogOpen(Platform& platform, MainDialog& dialog);
void MainDialogExtract(Platform& platform, MainDialog& dialog);
void MainDialogClose(Platform& platform, MainDialog& dialog);
void MainDialogBrowse(Platform& platform, MainDialog& dialog);

// The walk over every entry; runs on the worker thread.
void ExtractThread(Platform& platform, MainDialog& dialog);

// One entry with its password loop: 0 extracted, otherwise not (1 prompt cancelled, or the status
// already shown to the user). name is the entry's name as stored, which the library looks up;
// shownName, the same name as the system shows it (null: name), captions its error box. path is
// the file decoded into, the walk's part file: whatever is left there on failure the caller
// removes.
uint32_t ExtractFile(Platform& platform, MainDialog& dialog, const char* name, const char* path,
                     const char* shownName = nullptr);

// The progress callback handed to the library.
void UpdateProgressBar(int value);

// Password dialog events. buffer is the caller's 256-byte buffer (the dialog's parameter).
void PasswordDialogInit(Dialog& dialog, char* buffer);
// Returns what the dialog procedure answers: true when the command was handled.
bool PasswordDialogCommand(Dialog& dialog, int command);

// The password in the first line of the file at path (format/password_file.h), into
// platform.session.filePassword; false after an error line that says why there is none.
bool ReadPasswordFile(Platform& platform, const char* path);

// Path helpers, spelled for the platform's path style.
void AddTrailingBackslash(PathStyle style, char* path);  // in place, within kTextBytes
void GetDirectoryPart(PathStyle style, char* out, const char* path);
// 1 when every level of path exists at the end, 0 when the user declined or a level could not be
// made. owner shows the question and the error box. path gets a trailing separator.
int EnsureDirectory(Platform& platform, Dialog& owner, char* path, bool ask);

// Why an entry cannot be extracted as named.
enum class EntryPathVerdict {
    Fits,
    LeavesDestination,  // refused by the entry-name rule (format/entry_name.h)
    TooLong,            // the path or one of its messages would not fit 255 characters
};

// Joins destination and entry name into out (the entry's "\" turned into the native separator)
// after checking the name and every text later built from the path.
EntryPathVerdict BuildEntryPath(PathStyle style, const char* destination, const char* name,
                                char* out);

// Where an entry's path (BuildEntryPath, nameLength the entry name's length) lies: the
// destination with its separator, the entry's folder below it ("" for the destination itself) and
// the entry's own name, which points into path.
struct EntryPlace {
    char destination[kTextBytes];
    char relative[kTextBytes];
    const char* leaf;
};
void SplitEntryPath(PathStyle style, const char* path, size_t nameLength, EntryPlace* place);

// A destination that is not absolute is taken relative to the program's own folder; returns false
// when the result would not fit 255 characters.
bool ResolveDestination(Platform& platform, const char* destination, char* out);

}  // namespace sfx
