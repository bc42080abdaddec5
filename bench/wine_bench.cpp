// The whole updater under Wine, started and driven to completion from
// outside, against a plain copy of the same three files. Built and run by
// bench/run (Windows side; bench/run compiles it with MinGW).
//   wine_bench run UPDATER SCRATCH ROUNDS
//       SCRATCH holds UpdateData.dat, install\ and loose\ (the same three
//       files, loose). Each round, in alternating order: the updater run
//       through its dialog (適用, then OK on the completion box), and a copy
//       of loose\ into copy\ in a process of its own, after one untimed
//       pair. Prints one line per round and the medians.
//   wine_bench copy SCRATCH
//       The plain copy: each file read whole, written with one call, flushed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver.h"
#include "resource.h"
#include "texts.h"

namespace {

const char* const kFiles[] = {"Archive.ini", "extend101.dat", "Instdata.pak"};
const char kSettingsKey[] = "Software\\Morvek\\velanoric";
const DWORD kRunMs = 120000;

double Seconds() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool CopyOne(const std::string& from, const std::string& to) {
    HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE) return false;
    const DWORD size = GetFileSize(in, NULL);
    HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size ? size : 1);
    DWORD got = 0;
    bool ok = block && ReadFile(in, block, size, &got, NULL) && got == size;
    CloseHandle(in);
    if (ok) {
        HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        ok = out != INVALID_HANDLE_VALUE && WriteFile(out, block, size, &written, NULL) &&
             written == size && FlushFileBuffers(out);
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    }
    if (block) GlobalFree(block);
    return ok;
}

int CopyMain(const std::string& scratch) {
    CreateDirectoryA((scratch + "\\copy").c_str(), NULL);
    for (const char* name : kFiles)
        if (!CopyOne(scratch + "\\loose\\" + name, scratch + "\\copy\\" + name)) return 1;
    return 0;
}

bool SameSize(const std::string& a, const std::string& b) {
    WIN32_FILE_ATTRIBUTE_DATA x, y;
    return GetFileAttributesExA(a.c_str(), GetFileExInfoStandard, &x) &&
           GetFileAttributesExA(b.c_str(), GetFileExInfoStandard, &y) &&
           x.nFileSizeLow == y.nFileSizeLow && x.nFileSizeHigh == y.nFileSizeHigh;
}

// The installation as the game's installer leaves it: a folder, no version
// yet, so the updater asks nothing before its dialog.
bool RecordInstallation(const std::string& folder) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExA(key, "InstallFolder", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(folder.c_str()),
                                   static_cast<DWORD>(folder.size() + 1)) == ERROR_SUCCESS;
    RegDeleteValueA(key, "Version");
    RegCloseKey(key);
    return ok;
}

// With no window manager on the headless display, Wine waits two seconds for
// each closing top-level window to be withdrawn; unmanaged windows skip that
// wait, which no desktop user would see either. Read when a program starts.
bool UnmanagedWindows() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2) ==
                    ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

struct ProgramTimes {
    double total;  // start to exit
    double show;   // start to the dialog
    double apply;  // 適用 posted to the completion box
    double close;  // OK posted to exit
};

bool RunUpdater(const std::string& updater, const std::string& scratch, ProgramTimes* times) {
    if (!RecordInstallation(scratch + "\\install")) return false;
    driver::Program program;
    const double start = Seconds();
    if (!driver::Start(&program, updater, scratch)) return false;
    const DWORD pid = program.info.dwProcessId;
    bool ok = false;
    DWORD code = 1;
    HWND dialog = driver::WaitForWindowWith(pid, IDC_VERSION, kRunMs);
    const double shown = Seconds();
    if (dialog && driver::PostClick(dialog, IDOK)) {
        const double applied = Seconds();
        HWND box = driver::WaitForMessageBox(pid, kRunMs, dialog);
        const double done = Seconds();
        if (box && driver::ControlText(box, driver::kMessageTextId) == TEXT_UPDATE_DONE &&
            driver::PostClick(box, IDOK) && driver::WaitExit(&program, kRunMs, &code) && code == 0) {
            const double end = Seconds();
            times->total = end - start;
            times->show = shown - start;
            times->apply = done - applied;
            times->close = end - done;
            ok = true;
        } else if (box) {
            fprintf(stderr, "wine_bench: the updater said: %s\n",
                    driver::ControlText(box, driver::kMessageTextId).c_str());
        }
    }
    driver::Stop(&program);
    for (const char* name : kFiles)
        ok = ok && SameSize(scratch + "\\loose\\" + name, scratch + "\\install\\" + name);
    return ok;
}

bool RunCopy(const std::string& self, const std::string& scratch, double* seconds) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string commandLine = "\"" + self + "\" copy \"" + scratch + "\"";
    const double start = Seconds();
    if (!CreateProcessA(self.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, scratch.c_str(),
                        &startup, &info))
        return false;
    DWORD code = 1;
    const bool ended = WaitForSingleObject(info.hProcess, kRunMs) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(info.hProcess, &code);
    *seconds = Seconds() - start;
    if (!ended) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    bool ok = ended && code == 0;
    for (const char* name : kFiles)
        ok = ok && SameSize(scratch + "\\loose\\" + name, scratch + "\\copy\\" + name);
    return ok;
}

int RunMain(const std::string& updater, const std::string& scratch, int rounds) {
    char self[MAX_PATH];
    if (!GetModuleFileNameA(NULL, self, sizeof self) || !UnmanagedWindows()) return 1;
    // One untimed pair first, so that both sides meet existing destinations
    // of full size and Wine has started each program once.
    ProgramTimes unused = {};
    double unusedCopy = 0;
    if (!RunUpdater(updater, scratch, &unused) || !RunCopy(self, scratch, &unusedCopy)) {
        fprintf(stderr, "wine_bench: the first, untimed pair failed\n");
        return 1;
    }
    std::vector<double> totals, shows, applies, closes, copies;
    for (int round = 0; round < rounds; ++round) {
        ProgramTimes program = {};
        double copy = 0;
        // The order alternates, so neither side always follows the other.
        bool ok = true;
        for (int side = 0; side < 2 && ok; ++side) {
            if ((side == 0) == (round % 2 == 0))
                ok = RunUpdater(updater, scratch, &program);
            else
                ok = RunCopy(self, scratch, &copy);
        }
        if (!ok) {
            fprintf(stderr, "wine_bench: round %d failed\n", round + 1);
            return 1;
        }
        printf("round %d: program_ms=%.1f show_ms=%.1f apply_ms=%.1f close_ms=%.1f copy_ms=%.1f\n",
               round + 1, 1000 * program.total, 1000 * program.show, 1000 * program.apply,
               1000 * program.close, 1000 * copy);
        totals.push_back(program.total);
        shows.push_back(program.show);
        applies.push_back(program.apply);
        closes.push_back(program.close);
        copies.push_back(copy);
    }
    printf("median: program_ms=%.1f show_ms=%.1f apply_ms=%.1f close_ms=%.1f copy_ms=%.1f "
           "ratio=%.3f apply_ratio=%.3f\n",
           1000 * Median(totals), 1000 * Median(shows), 1000 * Median(applies),
           1000 * Median(closes), 1000 * Median(copies), Median(totals) / Median(copies),
           Median(applies) / Median(copies));
    HKEY software;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Morvek", 0, KEY_ALL_ACCESS, &software) ==
        ERROR_SUCCESS) {
        RegDeleteKeyA(software, "velanoric");
        RegCloseKey(software);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "copy") == 0) return CopyMain(argv[2]);
    if (argc == 5 && strcmp(argv[1], "run") == 0) {
        const int rounds = atoi(argv[4]);
        if (rounds > 0) return RunMain(argv[2], argv[3], rounds);
    }
    fprintf(stderr, "usage: wine_bench run UPDATER SCRATCH ROUNDS | wine_bench copy SCRATCH\n");
    return 2;
}
