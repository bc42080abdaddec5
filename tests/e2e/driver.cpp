#include "driver.h"

#include <stdint.h>
#include <stdio.h>

namespace driver {

namespace {

const DWORD kPollMs = 20;

struct EnumState {
    DWORD pid;
    std::vector<HWND>* windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    EnumState* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == state->pid && IsWindowVisible(window)) state->windows->push_back(window);
    return TRUE;
}

// PNG pieces: CRC-32 over chunk type and data, Adler-32 over the raw image.
uint32_t Crc32(const unsigned char* p, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBig32(std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v >> 24));
    out->push_back(static_cast<char>(v >> 16));
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v));
}

void PutChunk(std::string* out, const char* type, const std::string& data) {
    PutBig32(out, static_cast<uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out->append(body);
    PutBig32(out, Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

// zlib stream of stored (uncompressed) deflate blocks: no compressor needed.
std::string StoredZlib(const std::string& raw) {
    std::string out("\x78\x01", 2);
    size_t pos = 0;
    do {
        const size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        const bool last = pos + n == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<char>(n & 0xFF));
        out.push_back(static_cast<char>(n >> 8));
        out.push_back(static_cast<char>(~n & 0xFF));
        out.push_back(static_cast<char>((~n >> 8) & 0xFF));
        out.append(raw, pos, n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(&out, b << 16 | a);
    return out;
}

}  // namespace

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

bool Start(Program* program, const std::string& exe, const std::string& currentDir) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    program->started = CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                                      currentDir.c_str(), &startup, &program->info) != 0;
    return program->started;
}

bool WaitExit(Program* program, DWORD timeoutMs, DWORD* exitCode) {
    if (!program->started) return false;
    if (WaitForSingleObject(program->info.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(program->info.hProcess, exitCode) != 0;
}

void Stop(Program* program) {
    if (!program->started) return;
    if (WaitForSingleObject(program->info.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program->info.hProcess, 99);
        WaitForSingleObject(program->info.hProcess, kWaitMs);
    }
    CloseHandle(program->info.hThread);
    CloseHandle(program->info.hProcess);
    program->started = false;
}

std::vector<HWND> WindowsOf(DWORD pid) {
    std::vector<HWND> windows;
    EnumState state = {pid, &windows};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return windows;
}

HWND WaitForWindowWith(DWORD pid, int controlId, DWORD timeoutMs, HWND except) {
    const DWORD start = GetTickCount();
    for (;;) {
        for (HWND window : WindowsOf(pid))
            if (window != except && GetDlgItem(window, controlId)) return window;
        if (GetTickCount() - start >= timeoutMs) return NULL;
        Sleep(kPollMs);
    }
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs, HWND except) {
    return WaitForWindowWith(pid, kMessageTextId, timeoutMs, except);
}

bool WaitGone(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? WindowText(control) : std::string();
}

bool PostClick(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && PostMessageA(control, BM_CLICK, 0, 0);
}

bool PostKey(HWND window, WPARAM key) {
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | static_cast<LPARAM>(scan) << 16;
    const LPARAM up = down | static_cast<LPARAM>(3) << 30;
    if (!PostMessageA(window, WM_KEYDOWN, key, down)) return false;
    // The press alone may already have closed the window, key-up or not.
    PostMessageA(window, WM_KEYUP, key, up);
    return true;
}

bool SaveScreenshot(HWND window, const std::string& pngPath) {
    // The window maps and paints on its own thread; give it a moment.
    Sleep(300);
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first, as PNG wants
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    const int rows = copied ? GetDIBits(memory, bitmap, 0, height, pixels.data(), &info,
                                        DIB_RGB_COLORS)
                            : 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    if (rows != height) return false;

    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        const unsigned char* row = &pixels[static_cast<size_t>(y) * width * 4];
        for (int x = 0; x < width; ++x) {
            raw.push_back(static_cast<char>(row[x * 4 + 2]));
            raw.push_back(static_cast<char>(row[x * 4 + 1]));
            raw.push_back(static_cast<char>(row[x * 4 + 0]));
        }
    }
    std::string header;
    PutBig32(&header, static_cast<uint32_t>(width));
    PutBig32(&header, static_cast<uint32_t>(height));
    header.append("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(&png, "IHDR", header);
    PutChunk(&png, "IDAT", StoredZlib(raw));
    PutChunk(&png, "IEND", std::string());

    FILE* file = fopen(pngPath.c_str(), "wb");
    if (!file) return false;
    const bool ok = fwrite(png.data(), 1, png.size(), file) == png.size();
    return fclose(file) == 0 && ok;
}

}  // namespace driver
