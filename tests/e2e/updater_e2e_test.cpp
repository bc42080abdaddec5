// The real VelanoricUpdate.exe, started and driven from outside: what the
// user sees, what lands on disk and what the settings key holds afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "driver.h"
#include "fixture.h"
#include "resource.h"
#include "texts.h"

namespace {

const char kKey[] = "Software\\Morvek\\velanoric";
const char* const kNames[3] = {"Archive.ini", "extend101.dat", "Instdata.pak"};
const char* const kOldData[3] = {"[old]\r\narchive\r\n", "old extend", "old instdata"};
// Binary content, NULs and code page 932 lead bytes included.
const std::string kNewData[3] = {
    std::string("[Archive]\r\nversion=101\r\n"),
    std::string("\x00\x01\x02\xff\x81\x40 extend101", 16),
    std::string(3000, '\x5c') + std::string("\x00\xfe", 2),
};
const char* const kSaves[] = {"syssave.dat", "qsave.sav",   "qsave.gra",   "save000.sav",
                              "thumb000.gra", "save517.sav", "save999.sav", "thumb999.gra"};
// The purge leaves every other file alone.
const char kKeptFile[] = "notes.txt";

std::string Bytes(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                       static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
const std::string kTargetBytes("\xF2\x03\x00\x00", 4);

struct RegValue {
    bool present = false;
    DWORD type = 0;
    std::string data;
};

// Under Wine with no window manager on the display, windows would have no
// frame at all; Wine then draws caption and borders itself, as Windows does,
// so the screenshots show them. Ignored by Windows.
void LetWineDrawFrames() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
}

void DeleteSettingsKey() { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }

bool SetValue(const char* name, DWORD type, const std::string& data) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExA(key, name, 0, type,
                                       reinterpret_cast<const BYTE*>(data.data()),
                                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

RegValue GetValue(const char* name) {
    RegValue value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    char buffer[1024];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, name, NULL, &value.type, reinterpret_cast<BYTE*>(buffer), &size) ==
        ERROR_SUCCESS) {
        value.present = true;
        value.data.assign(buffer, size);
    }
    RegCloseKey(key);
    return value;
}

bool KeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string ScreenshotPath(const std::string& name) {
    const std::string dir = driver::WindowsPath(E2E_SCREENSHOT_DIR);
    CreateDirectoryA(dir.c_str(), NULL);
    return dir + "\\" + name + ".png";
}

std::string Formatted(const char* format, const char* name) {
    char text[512];
    snprintf(text, sizeof text, format, name);
    return text;
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        LetWineDrawFrames();
        DeleteSettingsKey();
        game_ = scratch_.Join("game");
        ASSERT_TRUE(fixture::MakeDir(game_));
        ASSERT_TRUE(fixture::MakeDir(game_ + "\\save"));
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(fixture::WriteFile(Game(kNames[i]), kOldData[i]));
        }
        for (const char* save : kSaves) {
            ASSERT_TRUE(fixture::WriteFile(Save(save), save));
        }
        ASSERT_TRUE(fixture::WriteFile(Save(kKeptFile), "keep"));
    }

    void TearDown() override {
        driver::Stop(&program_);
        DeleteSettingsKey();
    }

    std::string Game(const std::string& name) const { return game_ + "\\" + name; }
    std::string Save(const std::string& name) const { return game_ + "\\save\\" + name; }
    DWORD Pid() const { return program_.info.dwProcessId; }

    void Install() { ASSERT_TRUE(SetValue("InstallFolder", REG_SZ, game_ + '\0')); }

    void WritePack() {
        std::vector<fixture::PackItem> items;
        for (int i = 0; i < 3; ++i) items.push_back({kNames[i], kNewData[i]});
        ASSERT_TRUE(fixture::WriteFile(scratch_.Join("UpdateData.dat"), fixture::MakePack(items, true)));
    }

    void WriteLooseFiles() {
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(fixture::WriteFile(scratch_.Join(kNames[i]), kNewData[i]));
        }
    }

    void StartUpdater(driver::Program* program = nullptr, const char* exe = UPDATER_EXE) {
        ASSERT_TRUE(driver::Start(program ? program : &program_, driver::WindowsPath(exe),
                                  scratch_.path()));
    }

    HWND WaitDialog() { return driver::WaitForWindowWith(Pid(), IDC_VERSION, driver::kWaitMs); }

    // The next message box: its text, caption and owner checked.
    HWND ExpectBox(const std::string& text, const char* caption, HWND owner, HWND previous = NULL) {
        if (previous) {
            EXPECT_TRUE(driver::WaitGone(previous, driver::kWaitMs));
        }
        HWND box = driver::WaitForMessageBox(Pid(), driver::kWaitMs, previous);
        EXPECT_TRUE(box != NULL) << "no message box: " << text;
        if (!box) return NULL;
        EXPECT_EQ(text, driver::ControlText(box, driver::kMessageTextId));
        EXPECT_EQ(caption, driver::WindowText(box));
        EXPECT_EQ(owner, GetWindow(box, GW_OWNER));
        return box;
    }

    void ExpectExitZero() {
        DWORD code = 12345;
        ASSERT_TRUE(driver::WaitExit(&program_, driver::kWaitMs, &code)) << "still running";
        EXPECT_EQ(0u, code);
    }

    void ExpectNoDialog() {
        EXPECT_EQ(NULL, driver::WaitForWindowWith(Pid(), IDC_VERSION, 0));
    }

    void ExpectGameFiles(bool archive, bool extend, bool instdata) {
        const bool updated[3] = {archive, extend, instdata};
        for (int i = 0; i < 3; ++i) {
            std::string bytes;
            ASSERT_TRUE(fixture::ReadFile(Game(kNames[i]), &bytes)) << kNames[i];
            EXPECT_EQ(updated[i] ? kNewData[i] : std::string(kOldData[i]), bytes) << kNames[i];
        }
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(Game("~vupd*").c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "left behind: " << found.cFileName;
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }

    void ExpectSaves(bool present) {
        for (const char* save : kSaves) EXPECT_EQ(present, fixture::FileExists(Save(save))) << save;
        EXPECT_TRUE(fixture::FileExists(Save(kKeptFile)));
    }

    void ExpectVersion(const RegValue& expected) {
        const RegValue now = GetValue("Version");
        EXPECT_EQ(expected.present, now.present);
        EXPECT_EQ(expected.type, now.type);
        EXPECT_EQ(expected.data, now.data);
    }

    fixture::ScratchDir scratch_;
    std::string game_;
    driver::Program program_;
};

// --- The main road --------------------------------------------------------

struct Control {
    int id;
    const char* className;
    const char* text;
};

struct MainRoadCase {
    const char* name;
    bool pack;            // the pack, else loose files
    DWORD versionType;    // REG_NONE: no "Version" value beforehand
};

class MainRoad : public UpdaterTest, public ::testing::WithParamInterface<MainRoadCase> {};

TEST_P(MainRoad, ReplacesFilesPurgesSavesAndRecordsVersion) {
    const MainRoadCase& c = GetParam();
    Install();
    if (c.versionType != REG_NONE) {
        ASSERT_TRUE(SetValue("Version", c.versionType, Bytes(1000)));
    }
    if (c.pack) WritePack();
    else WriteLooseFiles();
    StartUpdater();

    HWND dialog = WaitDialog();
    ASSERT_TRUE(dialog != NULL);
    EXPECT_EQ(APP_TITLE, driver::WindowText(dialog));
    EXPECT_EQ(NULL, GetWindow(dialog, GW_OWNER));
    // Every control, in template order, with the texts the user reads.
    const Control controls[] = {
        {IDOK, "Button", "適用"},
        {IDCANCEL, "Button", "終了"},
        {-1, "Static", "現在のバージョン"},
        {IDC_VERSION, "Static", "1.000"},
        {-1, "Static", "『Velanoric』製品版をVer1.01にアップデートします。"},
        {-1, "Static", "※このアップデートを行うとセーブデータは削除されます。"},
        {-1, "Button", ""},
        {-1, "Button", ""},
        {-1, "Static", "インストール先"},
        {IDC_FOLDER, "Static", game_.c_str()},
        {-1, "Button", ""},
    };
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control& expected : controls) {
        ASSERT_TRUE(child != NULL) << "missing control: " << expected.text;
        char className[64] = "";
        GetClassNameA(child, className, sizeof className);
        EXPECT_EQ(expected.id, static_cast<int>(static_cast<short>(GetDlgCtrlID(child))));
        EXPECT_STRCASEEQ(expected.className, className);
        EXPECT_EQ(expected.text, driver::WindowText(child));
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(NULL, child) << "more controls than the template holds";
    EXPECT_TRUE(driver::SaveScreenshot(dialog, ScreenshotPath(std::string("dialog_") + c.name)));

    const RegValue before = GetValue("Version");
    ASSERT_TRUE(driver::PostClick(dialog, IDOK));
    HWND done = ExpectBox(TEXT_UPDATE_DONE, APP_TITLE, dialog);
    ASSERT_TRUE(done != NULL);
    // By the time the user is told, the files are in place and the saves
    // gone; the version is recorded only once the dialog has ended.
    ExpectGameFiles(true, true, true);
    ExpectSaves(false);
    ExpectVersion(before);
    EXPECT_TRUE(driver::SaveScreenshot(done, ScreenshotPath("update_done")));

    ASSERT_TRUE(driver::PostClick(done, IDOK));
    ExpectExitZero();
    const RegValue after = GetValue("Version");
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), after.type);
    EXPECT_EQ(kTargetBytes, after.data);
    EXPECT_TRUE(GetValue("InstallFolder").present);
}

INSTANTIATE_TEST_SUITE_P(Sources, MainRoad,
                         ::testing::Values(MainRoadCase{"pack", true, REG_NONE},
                                           MainRoadCase{"loose", false, REG_DWORD}),
                         [](const ::testing::TestParamInfo<MainRoadCase>& info) {
                             return std::string(info.param.name);
                         });

// --- Not installed --------------------------------------------------------

struct NotInstalledCase {
    const char* name;
    bool key;
    bool folderValue;
    std::string folder;  // stored bytes, as they are
};

class NotInstalled : public UpdaterTest, public ::testing::WithParamInterface<NotInstalledCase> {};

TEST_P(NotInstalled, TellsTheUserAndTouchesNothing) {
    const NotInstalledCase& c = GetParam();
    WritePack();
    if (c.key) {
        ASSERT_TRUE(SetValue("Version", REG_BINARY, Bytes(1000)));
    }
    if (c.folderValue) {
        ASSERT_TRUE(SetValue("InstallFolder", REG_SZ, c.folder));
    }
    const RegValue before = GetValue("Version");
    StartUpdater();

    HWND box = ExpectBox(TEXT_NOT_INSTALLED, APP_TITLE, NULL);
    ASSERT_TRUE(box != NULL);
    ExpectNoDialog();
    if (!c.key) {
        EXPECT_TRUE(driver::SaveScreenshot(box, ScreenshotPath("not_installed")));
    }
    ASSERT_TRUE(driver::PostClick(box, IDOK));
    ExpectExitZero();
    EXPECT_EQ(c.key, KeyExists());
    ExpectVersion(before);
    ExpectGameFiles(false, false, false);
    ExpectSaves(true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NotInstalled,
    ::testing::Values(NotInstalledCase{"NoKey", false, false, ""},
                      NotInstalledCase{"NoFolderValue", true, false, ""},
                      NotInstalledCase{"EmptyFolder", true, true, std::string(1, '\0')},
                      // 260 bytes with no room for the NUL: no usable folder.
                      NotInstalledCase{"FolderFillsBuffer", true, true, std::string(260, 'C')},
                      NotInstalledCase{"FolderTooLong", true, true, std::string(300, 'C') + '\0'}),
    [](const ::testing::TestParamInfo<NotInstalledCase>& info) {
        return std::string(info.param.name);
    });

// --- The recorded version and the question before a second application -----

struct VersionCase {
    const char* name;
    DWORD type;          // REG_NONE: no value
    std::string data;
    bool question;       // asked before the dialog
    int answer;          // IDOK or IDCANCEL, when asked
    const char* shown;   // the dialog's version text; none when no dialog
};

class VersionGate : public UpdaterTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionGate, AsksFromVersion1010AndShowsTheStoredVersion) {
    const VersionCase& c = GetParam();
    Install();
    WritePack();
    if (c.type != REG_NONE) {
        ASSERT_TRUE(SetValue("Version", c.type, c.data));
    }
    const RegValue before = GetValue("Version");
    StartUpdater();

    if (c.question) {
        HWND box = ExpectBox(TEXT_ALREADY_APPLIED, APP_TITLE, NULL);
        ASSERT_TRUE(box != NULL);
        ExpectNoDialog();
        EXPECT_TRUE(GetDlgItem(box, IDCANCEL) != NULL);
        if (c.answer == IDOK) {
            EXPECT_TRUE(driver::SaveScreenshot(box, ScreenshotPath("already_applied")));
        }
        ASSERT_TRUE(driver::PostClick(box, c.answer));
        ASSERT_TRUE(driver::WaitGone(box, driver::kWaitMs));
    }
    if (c.shown) {
        HWND dialog = WaitDialog();
        ASSERT_TRUE(dialog != NULL);
        EXPECT_EQ(c.shown, driver::ControlText(dialog, IDC_VERSION));
        EXPECT_EQ(game_, driver::ControlText(dialog, IDC_FOLDER));
        ASSERT_TRUE(driver::PostClick(dialog, IDCANCEL));
    }
    ExpectExitZero();
    ExpectVersion(before);
    ExpectGameFiles(false, false, false);
    ExpectSaves(true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionGate,
    ::testing::Values(
        VersionCase{"Absent", REG_NONE, "", false, 0, "1.000"},
        VersionCase{"Zero", REG_BINARY, Bytes(0), false, 0, "0.000"},
        VersionCase{"V1009", REG_BINARY, Bytes(1009), false, 0, "1.009"},
        // Fewer bytes fill the low end of a zero number.
        VersionCase{"TwoBytes", REG_BINARY, std::string("\xF1\x03", 2), false, 0, "1.009"},
        // Longer than 4 bytes cannot be read: taken as 1000.
        VersionCase{"TooLong", REG_BINARY, Bytes(1010) + Bytes(0), false, 0, "1.000"},
        VersionCase{"V1010Cancel", REG_BINARY, Bytes(1010), true, IDCANCEL, nullptr},
        VersionCase{"V1010Ok", REG_BINARY, Bytes(1010), true, IDOK, "1.010"},
        VersionCase{"Dword10000Ok", REG_DWORD, Bytes(10000), true, IDOK, "10.000"}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

// --- Leaving without applying ----------------------------------------------

enum LeaveBy { LEAVE_QUIT_BUTTON, LEAVE_ESCAPE, LEAVE_CLOSE_BOX };
const char* const kLeaveNames[] = {"QuitButton", "Escape", "CloseBox"};
std::string LeaveName(const ::testing::TestParamInfo<LeaveBy>& info) {
    return kLeaveNames[info.param];
}

class Leave : public UpdaterTest, public ::testing::WithParamInterface<LeaveBy> {};

TEST_P(Leave, WritesDeletesAndRecordsNothing) {
    Install();
    ASSERT_TRUE(SetValue("Version", REG_DWORD, Bytes(1000)));
    WritePack();
    const RegValue before = GetValue("Version");
    StartUpdater();
    HWND dialog = WaitDialog();
    ASSERT_TRUE(dialog != NULL);

    switch (GetParam()) {
    case LEAVE_QUIT_BUTTON: ASSERT_TRUE(driver::PostClick(dialog, IDCANCEL)); break;
    // The focus sits on 適用, the first tab stop.
    case LEAVE_ESCAPE: ASSERT_TRUE(driver::PostKey(GetDlgItem(dialog, IDOK), VK_ESCAPE)); break;
    case LEAVE_CLOSE_BOX: ASSERT_TRUE(PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0)); break;
    }
    ExpectExitZero();
    ExpectVersion(before);
    ExpectGameFiles(false, false, false);
    ExpectSaves(true);
}

INSTANTIATE_TEST_SUITE_P(Ways, Leave,
                         ::testing::Values(LEAVE_QUIT_BUTTON, LEAVE_ESCAPE, LEAVE_CLOSE_BOX),
                         LeaveName);

// --- Failures while the dialog is up ---------------------------------------

TEST_F(UpdaterTest, GameRunningStopsAtTheHeldFileAndKeepsSaves) {
    Install();
    ASSERT_TRUE(SetValue("Version", REG_BINARY, Bytes(1000)));
    WritePack();
    const RegValue before = GetValue("Version");
    // What the running game does: read it, share nothing but reading.
    HANDLE held = CreateFileA(Game("extend101.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    StartUpdater();
    HWND dialog = WaitDialog();
    ASSERT_TRUE(dialog != NULL);
    ASSERT_TRUE(driver::PostClick(dialog, IDOK));

    HWND error = ExpectBox(Formatted(TEXT_CANNOT_WRITE, "extend101.dat"), TEXT_ERROR_CAPTION, dialog);
    if (error) {
        EXPECT_TRUE(driver::SaveScreenshot(error, ScreenshotPath("error_cannot_write")));
        EXPECT_TRUE(driver::PostClick(error, IDOK));
        HWND failed = ExpectBox(TEXT_UPDATE_FAILED, APP_TITLE, dialog, error);
        if (failed) {
            ExpectSaves(true);
            EXPECT_TRUE(driver::SaveScreenshot(failed, ScreenshotPath("update_failed")));
            EXPECT_TRUE(driver::PostClick(failed, IDOK));
        }
    }
    ExpectExitZero();
    CloseHandle(held);
    ExpectGameFiles(true, false, false);
    ExpectSaves(true);
    ExpectVersion(before);
}

TEST_F(UpdaterTest, SecondCopyEndsAtOnceAndSilently) {
    Install();
    WritePack();
    StartUpdater();
    HWND dialog = WaitDialog();
    ASSERT_TRUE(dialog != NULL);

    driver::Program second;
    StartUpdater(&second);
    DWORD code = 12345;
    const DWORD start = GetTickCount();
    bool ended = false;
    bool showedWindow = false;
    while (!ended && GetTickCount() - start < driver::kWaitMs) {
        showedWindow = showedWindow || !driver::WindowsOf(second.info.dwProcessId).empty();
        ended = driver::WaitExit(&second, 20, &code);
    }
    driver::Stop(&second);
    EXPECT_TRUE(ended);
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(showedWindow);

    EXPECT_TRUE(IsWindow(dialog));
    ASSERT_TRUE(driver::PostClick(dialog, IDCANCEL));
    ExpectExitZero();
    EXPECT_FALSE(GetValue("Version").present);
}

TEST_F(UpdaterTest, KeyGoneBeforeRecordingShowsRegistryError) {
    Install();
    WritePack();
    StartUpdater();
    HWND dialog = WaitDialog();
    ASSERT_TRUE(dialog != NULL);
    DeleteSettingsKey();
    ASSERT_FALSE(KeyExists());

    ASSERT_TRUE(driver::PostClick(dialog, IDOK));
    HWND done = ExpectBox(TEXT_UPDATE_DONE, APP_TITLE, dialog);
    ASSERT_TRUE(done != NULL);
    ASSERT_TRUE(driver::PostClick(done, IDOK));
    HWND error = ExpectBox(TEXT_REGISTRY_ERROR, APP_TITLE, NULL, done);
    ASSERT_TRUE(error != NULL);
    EXPECT_TRUE(driver::SaveScreenshot(error, ScreenshotPath("registry_error")));
    ASSERT_TRUE(driver::PostClick(error, IDOK));
    ExpectExitZero();
    // The files stay updated; nothing recreated the key.
    ExpectGameFiles(true, true, true);
    ExpectSaves(false);
    EXPECT_FALSE(KeyExists());
}

TEST_F(UpdaterTest, DialogThatCannotBeCreatedIsReportedAndRecordsNothing) {
    Install();
    ASSERT_TRUE(SetValue("Version", REG_BINARY, Bytes(1000)));
    WritePack();
    StartUpdater(nullptr, NO_DIALOG_EXE);

    HWND box = ExpectBox(TEXT_NO_DIALOG, APP_TITLE, NULL);
    ASSERT_TRUE(box != NULL);
    EXPECT_TRUE(driver::SaveScreenshot(box, ScreenshotPath("no_dialog")));
    ASSERT_TRUE(driver::PostClick(box, IDOK));
    ExpectExitZero();
    EXPECT_EQ(Bytes(1000), GetValue("Version").data);
    ExpectGameFiles(false, false, false);
    ExpectSaves(true);
}

}  // namespace
