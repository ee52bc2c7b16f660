// What the operating system's console does to the tool, for POSIX and for a
// Windows console side by side.
#include "console/terminal.h"

#include "console/window.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// Set from a signal handler or, on Windows, from the console's handler thread.
std::atomic<bool> holding{false};
std::atomic<bool> heldBack{false};

#ifdef _WIN32

BOOL WINAPI onConsoleEvent(DWORD event) {
    bool keyed = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (!holding && !(keyed && ownsConsoleWindow())) {
        // Windows' own status for a process ended by Ctrl-C; the default
        // handler of some consoles ends it with 0, a successful quit.
        ExitProcess(CONTROL_C_EXIT);
    }
    heldBack = true;
    if (!holding) {
        // A window of its own would vanish with the table in it: the run
        // ends through its prompts instead. A prompt waiting for its line
        // gets a return, as a cancelled console read would leave the
        // console unable to read another line on some systems.
        INPUT_RECORD enter[2] = {};
        for (int i = 0; i < 2; ++i) {
            enter[i].EventType = KEY_EVENT;
            enter[i].Event.KeyEvent.bKeyDown = i == 0;
            enter[i].Event.KeyEvent.wRepeatCount = 1;
            enter[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
            enter[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
        }
        DWORD written = 0;
        WriteConsoleInputW(GetStdHandle(STD_INPUT_HANDLE), enter, 2, &written);
        return TRUE;
    }
    // Windows ends the process soon after this returns for a closed window,
    // logoff or shutdown; waiting here gives the camera what time it allows.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        while (holding) {
            Sleep(50);
        }
    }
    return TRUE;
}

#else

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void onSignal(int signalNumber) {
    if (holding) {
        heldBack = true;
        return;
    }
    // The usual death by this signal, so the shell sees how the tool ended.
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

sigset_t interruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : INTERRUPTS) {
        sigaddset(&set, signalNumber);
    }
    return set;
}

#endif

}  // namespace

bool openClosedStandardStreams() {
    bool outputClosed = false;
#ifdef _WIN32
    constexpr DWORD STANDARD_HANDLES[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
        HANDLE handle = GetStdHandle(STANDARD_HANDLES[fd]);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            continue;
        }
        // The C runtime's descriptor too: a library sharing the runtime
        // could otherwise be handed it for a file of its own.
        int opened = _open("NUL", _O_RDWR | _O_BINARY);
        if (opened >= 0 && opened != fd) {
            _dup2(opened, fd);
            _close(opened);
        }
        SetStdHandle(STANDARD_HANDLES[fd], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
        outputClosed = outputClosed || fd == 1;
    }
#else
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor, so this one: those below are open.
        int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            close(opened);
        }
        outputClosed = outputClosed || fd == STDOUT_FILENO;
    }
#endif
    return outputClosed;
}

void prepareTerminal() {
    heldBack = false;
    holding = false;
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    // A reader that went away must not kill the tool between two camera calls:
    // the write fails instead, and the console helpers notice.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : INTERRUPTS) {
        sigaction(signalNumber, &action, nullptr);
    }
#endif
}

void discardTypedAhead() {
#ifdef _WIN32
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        FlushConsoleInputBuffer(input);
    }
#else
    // The stream the prompts read, which tests may have replaced.
    int input = fileno(stdin);
    if (input >= 0 && isatty(input)) {
        tcflush(input, TCIFLUSH);
    }
#endif
}

bool holdInterrupts() {
    if (heldBack) {
        return false;
    }
    holding = true;
    guardConsoleWindow();
#ifndef _WIN32
    // Blocked on this thread, so no system call inside the camera library is
    // interrupted; a thread of the library's own still reaches onSignal.
    sigset_t set = interruptSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
#endif
    return true;
}

void releaseInterrupts() {
#ifndef _WIN32
    // Still holding: a signal that waited for the unblock is only remembered.
    sigset_t set = interruptSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
#endif
    unguardConsoleWindow();
    holding = false;
}

bool interruptHeldBack() {
    return heldBack;
}
