// The calls of os/os.h on Windows: the console, its control handler, the
// window's menu, the power manager and the file system, in UTF-16.
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

// A prompt waiting for its line gets a return: a cancelled console read would
// leave the console unable to read another line on some systems.
void typeReturn() {
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
        typeReturn();
        return TRUE;
    }
    // Windows ends the process soon after this returns for a closed window,
    // log-off or shutdown; waiting here gives the camera what time it allows.
    while (!key && heldStep()) {
        Sleep(50);
    }
    return TRUE;
}

// From user32, loaded by hand: the exes import nothing beyond kernel32 and
// the C runtime. A known DLL, so always the system's own copy.
AnyFunction user32Function(const char* name) {
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    return reinterpret_cast<AnyFunction>(user32 != nullptr ? GetProcAddress(user32, name)
                                                           : nullptr);
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
