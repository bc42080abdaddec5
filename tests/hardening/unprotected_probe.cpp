// A program like the updater in all that matters here (a GUI program that
// shows a window) but without its restricted DLL search: it shows that a DLL
// planted beside a program does load here, so the planting test can tell.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(NULL, "probe", "probe", MB_OK);
    return 0;
}
