// DLL planting: the updater is run from a download folder, where anyone can
// leave a DLL of a system name. Under Wine a native-first override for
// uxtheme.dll (which user32 loads when the first window is made, long after
// the entry point) makes the loader look beside the program first, as an
// unrestricted search on Windows would for any DLL not in KnownDLLs. A
// planted copy marks that it was loaded; the program's own module list says
// which uxtheme.dll it got.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "driver.h"
#include "fixture.h"

using fixture::FileExists;
using fixture::MakeDir;
using fixture::ScratchDir;

namespace {

const DWORD kWaitMs = 15000;
const char kPlantedName[] = "uxtheme.dll";

struct WindowSearch {
    DWORD pid;
    bool found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) search->found = true;
    return TRUE;
}

BOOL CALLBACK CloseWindowsOf(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == static_cast<DWORD>(param) && IsWindowVisible(window)) PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

bool HasVisibleWindow(DWORD pid) {
    WindowSearch search = {pid, false};
    EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The full path of the module named `name` in process pid; empty if none.
std::string ModulePath(DWORD pid, const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return "";
    std::string path;
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module))
        if (lstrcmpiA(module.szModule, name) == 0) {
            path = module.szExePath;
            break;
        }
    CloseHandle(snapshot);
    return path;
}

struct Outcome {
    bool started = false;
    bool window = false;       // the program got as far as showing a window
    std::string uxthemePath;   // the uxtheme.dll it had loaded by then
};

// Wine's loader prefers a native copy of uxtheme.dll for the program named
// exeName while alive: it then searches the program's folder before the
// system folder's built-in copy, as an unrestricted search would.
class NativeUxtheme {
public:
    explicit NativeUxtheme(const std::string& exeName)
        : app_("Software\\Wine\\AppDefaults\\" + exeName) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (app_ + "\\DllOverrides").c_str(), 0, NULL, 0,
                            KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
            return;
        static const char kOrder[] = "native,builtin";
        set_ = RegSetValueExA(key, "uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder),
                              sizeof kOrder) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~NativeUxtheme() {
        RegDeleteKeyA(HKEY_CURRENT_USER, (app_ + "\\DllOverrides").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, app_.c_str());
    }
    bool set() const { return set_; }

private:
    std::string app_;
    bool set_ = false;
};

// Runs exe in currentDir until it shows a window (or the mark appears); then
// closes it. Closing answers every box and the dialog with Cancel or 終了,
// so nothing is ever applied.
Outcome RunProgram(const std::string& exe, const std::string& currentDir, const std::string& mark) {
    Outcome outcome;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string commandLine = "\"" + exe + "\"";
    outcome.started = CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                                     currentDir.c_str(), &startup, &info) != 0;
    if (!outcome.started) return outcome;

    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        if (HasVisibleWindow(info.dwProcessId)) {
            outcome.window = true;
            break;
        }
        if (FileExists(mark) || WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) break;
        Sleep(50);
    }
    outcome.uxthemePath = ModulePath(info.dwProcessId, kPlantedName);

    for (DWORD waited = 0; waited < kWaitMs; waited += 100) {
        if (WaitForSingleObject(info.hProcess, 100) == WAIT_OBJECT_0) break;
        EnumWindows(CloseWindowsOf, static_cast<LPARAM>(info.dwProcessId));
    }
    if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, kWaitMs);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return outcome;
}

std::string SystemFolder() {
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

struct PlantCase {
    const char* what;
    const char* exe;        // the program under test
    bool plantBesideExe;    // else only in the current directory
    bool expectLoaded;
};

void PrintTo(const PlantCase& c, std::ostream* os) { *os << c.what; }

class DllPlanting : public ::testing::TestWithParam<PlantCase> {};

TEST_P(DllPlanting, PlantedUxtheme) {
    const PlantCase& c = GetParam();
    ScratchDir dir;
    // The program lies in "download"; the current directory is "download"
    // too, or "elsewhere" when the DLL is planted only there.
    const std::string download = dir.Join("download");
    const std::string elsewhere = dir.Join("elsewhere");
    ASSERT_TRUE(MakeDir(download));
    ASSERT_TRUE(MakeDir(elsewhere));
    const std::string source = driver::WindowsPath(c.exe);
    const std::string exe = download + "\\" + source.substr(source.find_last_of('\\') + 1);
    ASSERT_TRUE(CopyFileA(source.c_str(), exe.c_str(), FALSE)) << source;
    const std::string plantFolder = c.plantBesideExe ? download : elsewhere;
    const std::string planted = plantFolder + "\\" + kPlantedName;
    ASSERT_TRUE(CopyFileA(driver::WindowsPath(PLANTED_DLL).c_str(), planted.c_str(), FALSE));
    const std::string mark = planted + ".loaded";

    const NativeUxtheme native(exe.substr(exe.find_last_of('\\') + 1));
    ASSERT_TRUE(native.set());
    const Outcome outcome = RunProgram(exe, plantFolder, mark);
    ASSERT_TRUE(outcome.started) << exe;
    if (c.expectLoaded) {
        EXPECT_TRUE(FileExists(mark)) << "the planted DLL was not loaded, so this test cannot tell "
                                         "(uxtheme.dll came from \"" << outcome.uxthemePath << "\")";
        return;
    }
    // Without a window the program never reached the point where user32
    // loads uxtheme.dll (another copy holding the mutex, say): no proof.
    ASSERT_TRUE(outcome.window) << "the program showed no window";
    EXPECT_FALSE(FileExists(mark)) << "the planted " << planted << " was loaded";
    const std::string system = SystemFolder() + "\\" + kPlantedName;
    EXPECT_EQ(0, lstrcmpiA(system.c_str(), outcome.uxthemePath.c_str()))
        << "uxtheme.dll came from \"" << outcome.uxthemePath << "\", not " << system;
}

INSTANTIATE_TEST_SUITE_P(
    Hardening, DllPlanting,
    ::testing::Values(
        // The test can tell: a program without the restriction loads it.
        PlantCase{"probe_loads_dll_beside_it", PROBE_EXE, true, true},
        PlantCase{"updater_ignores_dll_beside_it", UPDATER_EXE, true, false},
        // Wine searches the system folder before the current directory, so
        // here this case passes with or without the restriction.
        PlantCase{"updater_ignores_dll_in_current_directory", UPDATER_EXE, false, false}),
    [](const ::testing::TestParamInfo<PlantCase>& info) { return std::string(info.param.what); });

}  // namespace
