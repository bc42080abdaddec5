#include "update_dialog.h"

#include "../resources/resource.h"
#include "engine.h"
#include "frontend.h"
#include "savedata.h"

namespace {

void FillDialog(HWND dialog) {
    char version[16];
    FormatVersionText(g_installRecord.version, version);
    SetWindowTextA(GetDlgItem(dialog, IDC_VERSION), version);
    SetWindowTextA(GetDlgItem(dialog, IDC_FOLDER), g_installRecord.folder);
}

// 適用: the files first; the saves go only once every file is in place.
void ApplyUpdate(HWND dialog) {
    if (!ApplyUpdateFiles(dialog, g_installRecord.folder)) {
        MessageBoxA(dialog, TEXT_UPDATE_FAILED, APP_TITLE, MB_OK);
        EndDialog(dialog, 0);
        return;
    }
    DeleteSaveData();
    MessageBoxA(dialog, TEXT_UPDATE_DONE, APP_TITLE, MB_OK);
    EndDialog(dialog, 1);
}

}  // namespace

// Every message is left to the default handling (0), so the focus lands on
// the first tab stop, 適用.
INT_PTR CALLBACK UpdateDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        FillDialog(dialog);
    } else if (message == WM_COMMAND) {
        // The whole wParam: a click or a key gives notification code 0.
        if (wParam == IDOK) {
            ApplyUpdate(dialog);
        } else if (wParam == IDCANCEL) {
            EndDialog(dialog, 0);
        }
    }
    return 0;
}
