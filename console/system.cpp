// The background thread and the shared lock: Windows' own threads, slim
// reader/writer lock and condition variable (kernel32 alone), POSIX threads
// elsewhere; the exe's and the working folder.
#include "console/system.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "console/console.h"

namespace {

// The longest path Windows knows, in UTF-16 units.
constexpr DWORD PATH_UNITS = 32768;
// One folder at a time, too large for the stack.
wchar_t folderText[PATH_UNITS];

// The exe's folder into folderText, its backslash kept: the units, 0 when unknown.
int exeFolderUnits() {
    DWORD length = GetModuleFileNameW(nullptr, folderText, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS) {
        return 0;
    }
    while (length > 0 && folderText[length - 1] != L'\\' && folderText[length - 1] != L'/') {
        --length;
    }
    return static_cast<int>(length);
}

// Without the separator after it, unless it is a drive's root (E:\\).
int withoutSeparator(int units) {
    return units > 1 && folderText[units - 2] != L':' ? units - 1 : units;
}

SRWLOCK sharedLock = SRWLOCK_INIT;
CONDITION_VARIABLE sharedCondition = CONDITION_VARIABLE_INIT;
HANDLE worker = nullptr;
void (*workerWork)() = nullptr;

DWORD WINAPI runWorker(LPVOID /*unused*/) {
    workerWork();
    return 0;
}

}  // namespace

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

bool regularFileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool exeFolderForLibrary(char* out, int outSize) {
    int units = exeFolderUnits();
    // The UTF-8 code page takes no question of characters it could not convert.
    BOOL lost = FALSE;
    BOOL* lostChars = GetACP() == CP_UTF8 ? nullptr : &lost;
    int length = units > 0 ? WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, folderText, units,
                                                 out, outSize - 1, nullptr, lostChars)
                           : 0;
    if (length <= 0 || lost) {
        return false;
    }
    out[length] = '\0';
    return true;
}

void exeFolderShown(char* out, int outSize) {
    int units = exeFolderUnits();
    folderText[units > 0 ? withoutSeparator(units) : 0] = L'\0';
    shownText(folderText, out, outSize);
}

void workingFolderShown(char* out, int outSize) {
    DWORD length = GetCurrentDirectoryW(PATH_UNITS, folderText);
    folderText[length < PATH_UNITS ? length : 0] = L'\0';
    shownText(folderText, out, outSize);
}

bool exeFolderIsWorkingFolder() {
    static wchar_t working[PATH_UNITS];
    DWORD length = GetCurrentDirectoryW(PATH_UNITS, working);
    int units = exeFolderUnits();
    if (length == 0 || length >= PATH_UNITS || units == 0) {
        return true;
    }
    units = withoutSeparator(units);
    // Windows' folder names match whatever their case.
    return CompareStringOrdinal(folderText, units, working, static_cast<int>(length), TRUE) ==
           CSTR_EQUAL;
}

#else
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// The exe's folder into text, of PATH_MAX bytes, its slash kept: its
// length, 0 when unknown.
size_t exeFolderLength(char* text) {
    ssize_t length = readlink("/proc/self/exe", text, PATH_MAX - 1);
    if (length <= 0) {
        return 0;
    }
    while (length > 0 && text[length - 1] != '/') {
        --length;
    }
    text[length] = '\0';
    return static_cast<size_t>(length);
}

pthread_mutex_t sharedLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t sharedCondition = PTHREAD_COND_INITIALIZER;
pthread_t worker;
void (*workerWork)() = nullptr;

void* runWorker(void* /*unused*/) {
    workerWork();
    return nullptr;
}

}  // namespace

bool startWorker(void (*work)()) {
    workerWork = work;
    return pthread_create(&worker, nullptr, runWorker, nullptr) == 0;
}

void joinWorker() {
    pthread_join(worker, nullptr);
}

void lockShared() {
    pthread_mutex_lock(&sharedLock);
}

void unlockShared() {
    pthread_mutex_unlock(&sharedLock);
}

void waitShared() {
    pthread_cond_wait(&sharedCondition, &sharedLock);
}

void wakeShared() {
    pthread_cond_broadcast(&sharedCondition);
}

bool regularFileExists(const char* path) {
    struct stat facts {};
    return stat(path, &facts) == 0 && S_ISREG(facts.st_mode);
}

bool exeFolderForLibrary(char* out, int outSize) {
    char folder[PATH_MAX];
    size_t length = exeFolderLength(folder);
    return length > 0 && std::snprintf(out, static_cast<size_t>(outSize), "%s", folder) < outSize;
}

void exeFolderShown(char* out, int outSize) {
    char folder[PATH_MAX];
    size_t length = exeFolderLength(folder);
    // Without the slash after it, unless it is the root.
    if (length > 1) {
        folder[length - 1] = '\0';
    }
    std::snprintf(out, static_cast<size_t>(outSize), "%s", folder);
}

void workingFolderShown(char* out, int outSize) {
    if (getcwd(out, static_cast<size_t>(outSize)) == nullptr) {
        out[0] = '\0';
    }
}

bool exeFolderIsWorkingFolder() {
    char exe[PATH_MAX];
    char working[PATH_MAX];
    exeFolderShown(exe, sizeof exe);
    workingFolderShown(working, sizeof working);
    return exe[0] == '\0' || working[0] == '\0' || std::strcmp(exe, working) == 0;
}

#endif
