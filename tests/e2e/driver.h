// Drives a GUI program from outside, the way a user would: start it, find its
// windows by process id, read control texts, post clicks and keys, wait with
// timeouts, and save what the screen shows. Windows only (runs under Wine).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

// Default bound for every wait, in milliseconds.
const DWORD kWaitMs = 10000;

// A Unix path as the build gives it (/work/...) in the form a Windows
// program opens under Wine (Z:\work\...); other paths come back unchanged.
std::string WindowsPath(const std::string& path);

// A started program. Stop() ends it (TerminateProcess) if it still runs.
struct Program {
    PROCESS_INFORMATION info = {};
    bool started = false;
};
// Starts exe with currentDir as its current directory.
bool Start(Program* program, const std::string& exe, const std::string& currentDir);
// Waits for the program to end; its exit code into *exitCode.
bool WaitExit(Program* program, DWORD timeoutMs, DWORD* exitCode);
// Ends the program if it is still running and releases its handles.
void Stop(Program* program);

// The visible top-level windows of process pid.
std::vector<HWND> WindowsOf(DWORD pid);
// The first visible top-level window of pid that has a child control with
// id controlId and is not `except`; none when the timeout runs out.
HWND WaitForWindowWith(DWORD pid, int controlId, DWORD timeoutMs, HWND except = NULL);
// A message box's text is the static control with this id.
const int kMessageTextId = 0xFFFF;
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs, HWND except = NULL);
// 1 once window no longer exists.
bool WaitGone(HWND window, DWORD timeoutMs);

// Texts in the system's ANSI code page.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
// Posts a click to the control: never sent, as the program answers from
// inside a modal loop that the sender would block.
bool PostClick(HWND dialog, int id);
// Posts a key press (down and up) to window; true once the press is posted.
bool PostKey(HWND window, WPARAM key);

// The window's screen rectangle as a PNG file (24-bit RGB). The folder must
// exist.
bool SaveScreenshot(HWND window, const std::string& pngPath);

}  // namespace driver
