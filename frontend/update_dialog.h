// The update dialog's procedure (Windows only).
#pragma once

#include <windows.h>

// Shown modally from start-up with template IDD_UPDATE. Ends with 1 when the
// update was applied, 0 otherwise. Answers 0 to every message.
INT_PTR CALLBACK UpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
