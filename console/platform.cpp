// The console window's and the power manager's calls on Windows; nothing
// elsewhere, where a terminal has neither a window menu nor quick-edit.
#include "console/platform.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// From user32, loaded by hand: the exes import nothing beyond kernel32 and
// the C runtime. A known DLL, so always the system's own copy.
// GCC lets void (*)() stand for any function pointer without a warning.
using AnyFunction = void (*)();

AnyFunction user32Function(const char* name) {
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    return reinterpret_cast<AnyFunction>(user32 != nullptr ? GetProcAddress(user32, name)
                                                           : nullptr);
}

}  // namespace

bool readInputMode(uint32_t* mode) {
    DWORD bits = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &bits) == 0) {
        return false;
    }
    *mode = bits;
    return true;
}

void writeInputMode(uint32_t mode) {
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode);
}

bool enableWindowClose(bool enabled) {
    HWND window = GetConsoleWindow();
    auto getSystemMenu =
        reinterpret_cast<HMENU(WINAPI*)(HWND, BOOL)>(user32Function("GetSystemMenu"));
    auto enableMenuItem =
        reinterpret_cast<BOOL(WINAPI*)(HMENU, UINT, UINT)>(user32Function("EnableMenuItem"));
    HMENU menu =
        window != nullptr && getSystemMenu != nullptr ? getSystemMenu(window, FALSE) : nullptr;
    if (menu == nullptr || enableMenuItem == nullptr) {
        return false;
    }
    enableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    return true;
}

void keepSystemAwake(bool awake) {
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

int consoleProcessCount() {
    DWORD processes[4];
    return static_cast<int>(GetConsoleProcessList(processes, 4));
}

bool readScreenBuffer(ScreenBuffer* buffer) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
        return false;
    }
    *buffer = {info.dwSize.X, info.dwSize.Y};
    return true;
}

void resizeScreenBuffer(ScreenBuffer buffer) {
    SetConsoleScreenBufferSize(
        GetStdHandle(STD_OUTPUT_HANDLE),
        {static_cast<SHORT>(buffer.width), static_cast<SHORT>(buffer.height)});
}

#else

bool readInputMode(uint32_t* /*mode*/) {
    return false;
}

void writeInputMode(uint32_t /*mode*/) {}

bool enableWindowClose(bool /*enabled*/) {
    return false;
}

void keepSystemAwake(bool /*awake*/) {}

int consoleProcessCount() {
    return 0;
}

bool readScreenBuffer(ScreenBuffer* /*buffer*/) {
    return false;
}

void resizeScreenBuffer(ScreenBuffer /*buffer*/) {}

#endif
