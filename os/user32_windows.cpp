// The calls of os/os.h that Windows answers from user32: the console
// window's Close and the session's guard against log-off and shutdown.
#include "os/os.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// From user32, loaded by hand: the exes import nothing beyond kernel32 and
// the C runtime. A known DLL, so always the system's own copy.
AnyFunction user32Function(const char* name) {
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    return reinterpret_cast<AnyFunction>(user32 != nullptr ? GetProcAddress(user32, name)
                                                           : nullptr);
}

// The session's guard: a hidden top-level window (a message-only one gets no
// WM_QUERYENDSESSION) on a thread of its own, from user32 loaded by hand. A
// process that loaded user32 no longer gets log-off and shutdown through its
// console control handler; Windows asks its windows instead.
using WindowProcedure = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
WindowProcedure defaultProcedure = nullptr;
// Read by the guard's thread, set by the thread that holds a step (1: refused).
LONG volatile sessionEndRefused = 0;

bool refusing() {
    return InterlockedCompareExchange(&sessionEndRefused, 0, 0) != 0;
}
HWND guardWindow = nullptr;
HANDLE guardReady = nullptr;
// The reason Windows shows while the session's end is refused.
wchar_t refusalReason[256];
// Sent to the guard's window: wParam 1 shows the reason, 0 takes it away.
constexpr UINT SHOW_REASON = WM_APP + 1;

// Set by the guard's thread before its window exists.
BOOL(WINAPI* createReason)(HWND, LPCWSTR) = nullptr;
BOOL(WINAPI* destroyReason)(HWND) = nullptr;

LRESULT CALLBACK onGuardMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return refusing() ? FALSE : TRUE;
        case WM_ENDSESSION:
            // Ending all the same (a forced shutdown): the step gets what
            // time Windows allows before it ends the process.
            while (wParam != FALSE && refusing()) {
                Sleep(50);
            }
            return 0;
        case SHOW_REASON:
            // Only the window's own thread may set or take away its reason.
            if (wParam != 0 && createReason != nullptr) {
                createReason(window, refusalReason);
            } else if (wParam == 0 && destroyReason != nullptr) {
                destroyReason(window);
            }
            return 0;
        default:
            return defaultProcedure(window, message, wParam, lParam);
    }
}

DWORD WINAPI runSessionGuard(LPVOID /*unused*/) {
    auto registerClass =
        reinterpret_cast<ATOM(WINAPI*)(const WNDCLASSW*)>(user32Function("RegisterClassW"));
    auto createWindow = reinterpret_cast<HWND(WINAPI*)(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int,
                                                       int, int, HWND, HMENU, HINSTANCE, LPVOID)>(
        user32Function("CreateWindowExW"));
    auto getMessage =
        reinterpret_cast<BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT)>(user32Function("GetMessageW"));
    auto dispatchMessage =
        reinterpret_cast<LRESULT(WINAPI*)(const MSG*)>(user32Function("DispatchMessageW"));
    defaultProcedure = reinterpret_cast<WindowProcedure>(user32Function("DefWindowProcW"));
    createReason =
        reinterpret_cast<BOOL(WINAPI*)(HWND, LPCWSTR)>(user32Function("ShutdownBlockReasonCreate"));
    destroyReason =
        reinterpret_cast<BOOL(WINAPI*)(HWND)>(user32Function("ShutdownBlockReasonDestroy"));
    if (registerClass == nullptr || createWindow == nullptr || getMessage == nullptr ||
        dispatchMessage == nullptr || defaultProcedure == nullptr) {
        SetEvent(guardReady);
        return 0;
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = onGuardMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"q713 session guard";
    registerClass(&windowClass);
    // Never shown: no WS_VISIBLE.
    HWND window = createWindow(0, windowClass.lpszClassName, L"q713", WS_OVERLAPPED, 0, 0, 0, 0,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
    guardWindow = window;
    SetEvent(guardReady);
    MSG message{};
    while (window != nullptr && getMessage(&message, nullptr, 0, 0) > 0) {
        dispatchMessage(&message);
    }
    return 0;
}

// Starts the guard's thread once and waits until its window is there.
void startSessionGuard() {
    static bool started = false;
    if (started) {
        return;
    }
    started = true;
    guardReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, runSessionGuard, nullptr, 0, nullptr);
    if (thread != nullptr && guardReady != nullptr) {
        WaitForSingleObject(guardReady, INFINITE);
        CloseHandle(thread);
    }
}

}  // namespace

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

void refuseSessionEnd(const char* reason) {
    if (reason != nullptr) {
        startSessionGuard();
        MultiByteToWideChar(CP_ACP, 0, reason, -1, refusalReason,
                            sizeof refusalReason / sizeof refusalReason[0]);
    }
    InterlockedExchange(&sessionEndRefused, reason != nullptr ? 1 : 0);
    auto postMessage =
        reinterpret_cast<BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM)>(user32Function("PostMessageW"));
    if (guardWindow != nullptr && postMessage != nullptr) {
        postMessage(guardWindow, SHOW_REASON, reason != nullptr ? 1 : 0, 0);
    }
}
