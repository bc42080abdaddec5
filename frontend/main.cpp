// The program's entry: one copy at a time, the installation found through the
// settings key, the question before a second application, the dialog, and the
// new version recorded once the dialog reports success.
#include <windows.h>

#include <string.h>

#include "../resources/resource.h"
#include "frontend.h"
#include "update_dialog.h"

namespace {

const char kMutexName[] = "ZEPHLOAD Ver1.30";
const char kSettingsKey[] = "Software\\Morvek\\velanoric";

// Keeps a DLL planted beside the program (typically in a downloads folder)
// from being loaded in place of the system's. Both calls are looked up at
// run time, as older systems lack the first and the oldest both.
void RestrictDllSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryAFn)(LPCSTR);
    FARPROC setDefault = GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault) {
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(setDefault))(
            LOAD_LIBRARY_SEARCH_SYSTEM32);
        return;
    }
    FARPROC setDirectory = GetProcAddress(kernel, "SetDllDirectoryA");
    if (setDirectory)
        reinterpret_cast<SetDllDirectoryAFn>(reinterpret_cast<void (*)()>(setDirectory))("");
}

enum ReadOutcome { READ_NOT_INSTALLED, READ_DECLINED, READ_GO_ON };

// Fills g_installRecord from the settings key and asks before a second
// application.
ReadOutcome ReadInstallRecord() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return READ_NOT_INSTALLED;

    memset(g_installRecord.folder, 0, sizeof g_installRecord.folder);
    DWORD size = sizeof g_installRecord.folder;
    LONG status = RegQueryValueExA(key, "InstallFolder", NULL, NULL,
                                   reinterpret_cast<BYTE*>(g_installRecord.folder), &size);
    // A value that fills the whole buffer without its NUL names no folder
    // the engine could use (259 characters at most); taken as not installed.
    if (status != ERROR_SUCCESS || g_installRecord.folder[0] == '\0' ||
        g_installRecord.folder[sizeof g_installRecord.folder - 1] != '\0') {
        RegCloseKey(key);
        return READ_NOT_INSTALLED;
    }

    // Fewer than 4 stored bytes fill the low bytes of a number that starts at 0.
    uint8_t bytes[4] = {0, 0, 0, 0};
    size = sizeof bytes;
    status = RegQueryValueExA(key, "Version", NULL, NULL, bytes, &size);
    if (status != ERROR_SUCCESS) {
        g_installRecord.version = VERSION_BASE;
    } else {
        g_installRecord.version = static_cast<uint32_t>(bytes[0]) |
                                  static_cast<uint32_t>(bytes[1]) << 8 |
                                  static_cast<uint32_t>(bytes[2]) << 16 |
                                  static_cast<uint32_t>(bytes[3]) << 24;
        if (g_installRecord.version >= VERSION_TARGET &&
            MessageBoxA(NULL, TEXT_ALREADY_APPLIED, APP_TITLE, MB_OKCANCEL) != IDOK) {
            RegCloseKey(key);
            return READ_DECLINED;
        }
    }
    RegCloseKey(key);
    return READ_GO_ON;
}

// The binary type, 4 bytes little-endian, whatever type the value had before.
void RecordVersion(uint32_t version) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        MessageBoxA(NULL, TEXT_REGISTRY_ERROR, APP_TITLE, MB_OK);
        return;
    }
    const BYTE bytes[4] = {static_cast<BYTE>(version), static_cast<BYTE>(version >> 8),
                           static_cast<BYTE>(version >> 16), static_cast<BYTE>(version >> 24)};
    // A failed write is not reported: the files are in place either way.
    RegSetValueExA(key, "Version", 0, REG_BINARY, bytes, sizeof bytes);
    RegCloseKey(key);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();

    // Owned from here to the end; never waited on, it only marks a running copy.
    HANDLE mutex = CreateMutexA(NULL, TRUE, kMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (mutex) CloseHandle(mutex);
        return 0;
    }

    const ReadOutcome outcome = ReadInstallRecord();
    if (outcome == READ_NOT_INSTALLED) {
        MessageBoxA(NULL, TEXT_NOT_INSTALLED, APP_TITLE, MB_OK);
    } else if (outcome == READ_GO_ON) {
        const INT_PTR result =
            DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), NULL, UpdateDlgProc, 0);
        // With no owner window the only failure is -1 (a missing or broken
        // template, no memory); 0 is the dialog's own "not applied".
        if (result == -1) {
            MessageBoxA(NULL, TEXT_NO_DIALOG, APP_TITLE, MB_OK);
        } else if (result == 1) {
            g_installRecord.version = VERSION_TARGET;
            RecordVersion(g_installRecord.version);
        }
    }

    if (mutex) CloseHandle(mutex);
    return 0;
}
