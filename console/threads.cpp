// The background thread and the shared lock: Windows' own threads, slim
// reader/writer lock and condition variable (kernel32 alone), POSIX threads
// elsewhere.
#include "console/threads.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

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

#else
#include <pthread.h>

namespace {

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

#endif
