// The Linux self-extractor's platform: the system calls the decisions of sfx/core need, the main
// dialog as questions on the terminal (destination, existing files), the password file given at
// each prompt, and the command line's usage, password file and looks at the archive.
#pragma once

#include <string>

#include "sfx/console/console_dialogs.h"
#include "sfx/core/run_log.h"
#include "sfx/core/sfx_core.h"

namespace console {

// "~" and "~/..." as the shell reads them; then a relative folder means one below the current
// folder, as given on the command line or typed.
std::string AbsoluteFolder(const std::string& folder);

class ConsolePlatform final : public sfx::Platform {
  public:
    explicit ConsolePlatform(const char* program) : program_(program) {}

    sfx::PathStyle Style() override { return sfx::PathStyle::Posix; }
    void GetOwnPath(char* out, size_t capacity) override;
    int ShowMessage(const char* text, const char* caption, unsigned style) override {
        int answer = ShowBox(text, caption, style, sfx::kAnswerYes);
        sfx::LogBox(*this, text, caption, style, answer);
        return answer;
    }
    intptr_t RunPasswordDialog(sfx::MainDialog* owner, char* buffer) override;
    void RunMainDialog() override;
    void WaitForWorker() override;
    bool PathExists(const char* path) override;
    bool DirectoryExists(const char* path) override;
    bool CreateDirectoryLevel(const char* path) override;
    bool RemoveFile(const char* path) override;
    void PrintLine(const char* text, bool error) override {
        g_terminal.Line(error ? stderr : stdout, text);
    }
    bool MakeTemporaryFolder(char* out) override;
    bool RemoveFolderTree(const char* path) override;
    sfx::ProgramResult RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) override;
    void ShowUsage(const char* word, const char* why) override;
    bool ReadFileStart(const char* path, char* out, size_t capacity, size_t* count) override;
    int Inspect(sfx::RunMode mode) override;
    bool AskLicense(const char* text) override;
    // --quiet --progress: the bar of the dialog's progress area, on a terminal only.
    sfx::Dialog* OpenProgressView() override { return StdoutIsTerminal() ? &dialog_ : nullptr; }
    void CloseProgressView() override { g_terminal.EndBar(); }
    bool OpenLogFile(const char* path) override;
    void WriteLogLine(const char* line, size_t length) override;
    void CloseLogFile() override;
    int64_t UnixTime() override;
    bool KnownFolderPath(format::KnownFolder folder, char* out, size_t capacity) override;
    bool ReadFileSlices(const char* path, FileSlice slice, void* context) override;

  private:
    bool AskSettings();
    bool AskDestination();
    bool SetDestination(const std::string& destination);

    const char* program_;
    ConsoleMainDialog dialog_;
    bool cancelling_ = false;
    // --password-file: given once at each prompt
    bool passwordGiven_ = false;
    std::string passwordGivenFor_;
    int logFile_ = -1;
};

}  // namespace console
