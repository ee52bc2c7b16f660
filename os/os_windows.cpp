// The calls of os/os.h on Windows: the console, its control handler, the
// power manager, the file system in UTF-16 and the progress writer's thread;
// those that need user32 are in user32_windows.cpp.
#include "os/os.h"

#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

// The background thread and what it shares (os.h: the progress writer's
// thread): Windows' own, from kernel32 alone.
SRWLOCK sharedLock = SRWLOCK_INIT;
CONDITION_VARIABLE sharedCondition = CONDITION_VARIABLE_INIT;
HANDLE worker = nullptr;
void (*workerWork)() = nullptr;

DWORD WINAPI runWorker(LPVOID /*unused*/) {
    workerWork();
    return 0;
}

// Set once at start-up, before the handler is installed.
InterruptAction (*decideInterrupt)(InterruptKind) = nullptr;
bool (*heldStep)() = nullptr;

// Set by the handler to end readConsoleLine's wait (auto-reset); made before
// the handler is installed.
HANDLE readWake = nullptr;

// The longest line readConsoleLine keeps; what is typed beyond is not taken.
constexpr int KEY_LINE_UNITS = 256;

// Shows text on the console as its own line editing echoes a key.
void echo(HANDLE output, const wchar_t* text, DWORD units) {
    DWORD written = 0;
    if (output != INVALID_HANDLE_VALUE) {
        WriteConsoleW(output, text, units, &written, nullptr);
    }
}

// Reads key records until Return, Ctrl-C or Ctrl-Break, or the wake;
// the line in typed, its units in *units.
ConsoleRead readKeys(HANDLE input, HANDLE output, wchar_t* typed, int* units) {
    HANDLE waits[2] = {input, readWake};
    for (;;) {
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0 + 1) {
            return ConsoleRead::Interrupt;
        }
        INPUT_RECORD record{};
        DWORD got = 0;
        if (woke != WAIT_OBJECT_0 || ReadConsoleInputW(input, &record, 1, &got) == 0) {
            return ConsoleRead::Ended;
        }
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (got == 0 || record.EventType != KEY_EVENT || !key.bKeyDown) {
            continue;  // a key let go, the mouse, focus, a resized window
        }
        wchar_t c = key.uChar.UnicodeChar;
        if (c == 3 || key.wVirtualKeyCode == VK_CANCEL) {
            return ConsoleRead::Interrupt;
        }
        if (c == L'\r' || key.wVirtualKeyCode == VK_RETURN) {
            echo(output, L"\r\n", 2);
            return ConsoleRead::Line;
        }
        for (int repeat = 0; repeat < key.wRepeatCount; ++repeat) {
            if (c == L'\b' && *units > 0) {
                --*units;
                echo(output, L"\b \b", 3);
            } else if (c >= L' ' && *units < KEY_LINE_UNITS) {
                typed[(*units)++] = c;
                echo(output, &c, 1);
            }
        }
    }
}

// Runs on a thread the console starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    bool key = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    InterruptAction action = decideInterrupt(key ? InterruptKind::Key : InterruptKind::SessionEnd);
    if (action == InterruptAction::EndNow) {
        // Windows' own status for a process ended by Ctrl-C; the default
        // handler of some consoles ends it with 0, a successful quit.
        ExitProcess(CONTROL_C_EXIT);
    }
    if (action == InterruptAction::EndRead) {
        // The prompt's own read sees Ctrl-C as a key; Ctrl-Break, the one
        // key the console always takes as an interrupt, wakes it here.
        wakeConsoleRead();
        return TRUE;
    }
    // Windows ends the process soon after this returns for a closed window,
    // log-off or shutdown; waiting here gives the camera what time it allows.
    while (!key && heldStep()) {
        Sleep(50);
    }
    return TRUE;
}

// The console's own input, whatever standard input was redirected to: its
// window's quick-edit is there too.
HANDLE openConsoleInput() {
    return CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// The facts of st when status, that of the call that filled it, is success.
bool factsFrom(int status, const struct _stat64& st, FileFacts* facts) {
    if (status != 0) {
        return false;
    }
    *facts = {(st.st_mode & _S_IFMT) == _S_IFREG,
              (st.st_mode & _S_IFMT) == _S_IFDIR,
              (st.st_mode & _S_IFMT) == _S_IFIFO,
              (st.st_mode & _S_IFMT) == _S_IFCHR,
              st.st_size,
              st.st_mtime,
              0};
    return true;
}

}  // namespace

bool openClosedStandardStreams() {
    bool outputClosed = false;
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
        // The C runtime hands the handle over as an integer.
        HANDLE handed =
            reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
        SetStdHandle(STANDARD_HANDLES[fd], handed);
        outputClosed = outputClosed || fd == 1;
    }
    return outputClosed;
}

void installInterruptHandler(InterruptAction (*decide)(InterruptKind), bool (*held)()) {
    decideInterrupt = decide;
    heldStep = held;
    if (readWake == nullptr) {
        readWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    ResetEvent(readWake);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void blockInterrupts(bool /*blocked*/) {}

void discardTypedAhead() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        FlushConsoleInputBuffer(input);
    }
}

ConsoleRead readConsoleLine(char* line, int lineSize, int* length) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) == 0) {
        return ConsoleRead::NoConsole;
    }
    if (readWake == nullptr) {
        return ConsoleRead::Ended;
    }
    // Ctrl-C comes as a key (character 3) instead of ending the read.
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
    HANDLE output =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    static wchar_t typed[KEY_LINE_UNITS];
    int units = 0;
    ConsoleRead read = readKeys(input, output, typed, &units);
    SetConsoleMode(input, mode);
    if (output != INVALID_HANDLE_VALUE) {
        CloseHandle(output);
    }
    if (read == ConsoleRead::Line) {
        int bytes = units > 0 ? WideCharToMultiByte(GetConsoleCP(), 0, typed, units, line,
                                                    lineSize - 1, nullptr, nullptr)
                              : 0;
        bytes = bytes > 0 ? bytes : 0;
        line[bytes] = '\n';
        *length = bytes + 1;
    }
    return read;
}

void wakeConsoleRead() {
    SetEvent(readWake);
}

bool readInputMode(uint32_t* mode) {
    HANDLE input = openConsoleInput();
    DWORD bits = 0;
    bool read = input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &bits) != 0;
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    *mode = bits;
    return read;
}

void writeInputMode(uint32_t mode) {
    HANDLE input = openConsoleInput();
    if (input != INVALID_HANDLE_VALUE) {
        SetConsoleMode(input, mode);
        CloseHandle(input);
    }
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

void keepSystemAwake(bool awake) {
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

void shownText(const PathText* text, int units, char* out, int outSize) {
    // With -1 the count includes the terminating zero; otherwise room is left for it.
    int room = units < 0 ? outSize : outSize - 1;
    // Without a console GetConsoleOutputCP gives 0, the ANSI code page.
    int length =
        WideCharToMultiByte(GetConsoleOutputCP(), 0, text, units, out, room, nullptr, nullptr);
    if (units < 0) {
        length = length > 0 ? length - 1 : 0;
    }
    // Nothing where it could not be converted.
    out[length] = '\0';
}

uint32_t exeFolder(PathText* folder, int units, int* length) {
    DWORD got = GetModuleFileNameW(nullptr, folder, static_cast<DWORD>(units));
    if (got == 0) {
        return GetLastError();
    }
    if (got >= static_cast<DWORD>(units)) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    // The folder ends at the exe's last backslash.
    while (got > 0 && folder[got - 1] != L'\\') {
        --got;
    }
    if (got == 0) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    *length = static_cast<int>(got - 1);
    folder[*length] = L'\0';
    return 0;
}

uint32_t workingFolder(PathText* folder, int units, int* length) {
    DWORD got = GetCurrentDirectoryW(static_cast<DWORD>(units), folder);
    if (got == 0) {
        return GetLastError();
    }
    if (got >= static_cast<DWORD>(units)) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    *length = static_cast<int>(got);
    return 0;
}

bool sameFolder(const PathText* one, const PathText* other) {
    return CompareStringOrdinal(one, -1, other, -1, TRUE) == CSTR_EQUAL;
}

bool libraryFileName(const PathText* path, char* out, int outSize) {
    // The UTF-8 code page takes no question of characters it could not say.
    BOOL lost = FALSE;
    BOOL* lostCharacters = GetACP() == CP_UTF8 ? nullptr : &lost;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, out, outSize, nullptr,
                                     lostCharacters);
    return length > 0 && !lost;
}

bool startWorker(void (*work)()) {
    workerWork = work;
    worker = CreateThread(nullptr, 0, runWorker, nullptr, 0, nullptr);
    return worker != nullptr;
}

void joinWorker() {
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    worker = nullptr;
}

void lockShared() {
    AcquireSRWLockExclusive(&sharedLock);
}

void unlockShared() {
    ReleaseSRWLockExclusive(&sharedLock);
}

void waitShared() {
    SleepConditionVariableSRW(&sharedCondition, &sharedLock, INFINITE, 0);
}

void wakeShared() {
    WakeAllConditionVariable(&sharedCondition);
}

bool factsOfPath(const PathText* path, FileFacts* facts) {
    struct _stat64 st {};
    return factsFrom(_wstat64(path, &st), st, facts);
}

FILE* openForReading(const PathText* path) {
    return _wfopen(path, L"rb");
}

bool factsOfFile(FILE* file, FileFacts* facts) {
    struct _stat64 st {};
    return factsFrom(_fstat64(_fileno(file), &st), st, facts);
}
