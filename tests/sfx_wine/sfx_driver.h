// Drives a Win32 program from outside the way a user would: starts it on the test desktop, finds
// its dialogs and message boxes by caption, reads and sets control texts and presses buttons.
// Every wait polls against a deadline, so a window that never comes fails a test instead of
// hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace sfxtest {

// Long enough for a slow Wine start-up, short enough that a missing window fails in reasonable
// time.
constexpr DWORD kWaitMs = 20000;

// The build writes Unix paths (/work/...); programs under Wine see the same folders on drive Z:.
std::string WindowsPathFromUnix(const std::string& unixPath);

// Moves the calling thread onto a Wine virtual desktop of the screen's size, on which the
// programs started by Program appear. Without a window manager every closed top-level window
// stalls its thread for about two seconds; inside a virtual desktop it does not, and the desktop
// draws frames and captions, which makes the screenshots readable.
bool EnterTestDesktop();

// A started program. The destructor ends it if it still runs, so a failing test leaves nothing
// behind.
class Program {
  public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    // arguments: the rest of the command line after the program's quoted path.
    bool Start(const std::string& exePath, const std::string& arguments = "");
    bool Running() const;
    DWORD Id() const { return info_.dwProcessId; }

    // A visible top-level window of this program with exactly this caption (and class, when
    // given), other than notThis; null when none is there now.
    HWND Find(const std::string& caption, const char* className = nullptr,
              HWND notThis = nullptr) const;
    // The same, waiting up to ms for it to appear; null on timeout or when the program ends.
    HWND WaitFor(const std::string& caption, const char* className = nullptr,
                 HWND notThis = nullptr, DWORD ms = kWaitMs) const;
    // Captions of every visible top-level window of the program, for failure messages.
    std::vector<std::string> WindowCaptions() const;

    // Waits for the process to end; false on timeout.
    bool WaitForExit(DWORD* exitCode, DWORD ms = kWaitMs);
    void Kill();

  private:
    PROCESS_INFORMATION info_{};
};

// Polls cond until it holds or ms pass.
bool WaitUntil(const std::function<bool()>& cond, DWORD ms = kWaitMs);
// Waits until the window no longer exists.
bool WaitGone(HWND window, DWORD ms = kWaitMs);

std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
bool SetControlText(HWND dialog, int id, const std::string& text);
std::vector<std::string> ListItems(HWND dialog, int id);
int ProgressPosition(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);
bool ControlVisible(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
// A child window's rectangle in its parent's client coordinates.
RECT ClientRect(HWND child);
// The control that has the keyboard focus in the thread that owns window.
HWND FocusedControl(HWND window);

// Presses a button: waits until it and its dialog take input, then posts the click. Posted, not
// sent: a sent click would wait until the box it opens is closed again.
bool Press(HWND dialog, int id, DWORD ms = kWaitMs);

// UTF-8 and the system's wide texts.
std::string Narrow(const wchar_t* text);
std::wstring Widen(const std::string& text);

// Runs a shell command on the Unix side in the folder unixDir and waits up to ms for it to end.
// Returns its exit status (-1 when it could not be run or did not end in time), with what it
// printed in *output when given.
int RunUnix(const std::string& command, const std::string& unixDir, std::string* output = nullptr,
            DWORD ms = 60000);

// Saves a picture of the whole screen as dir/name.png (dir a Unix path) once the given window's
// thread has gone idle and painted; false when it could not be made in time.
bool Screenshot(const std::string& unixDir, const std::string& name, HWND settle);

}  // namespace sfxtest
