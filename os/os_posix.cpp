// The calls of os/os.h on a POSIX system. A terminal has neither a window
// menu nor quick-edit nor a power request: those calls do nothing here.
#include "os/os.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// The background thread and what it shares (os.h: the progress writer's thread).
pthread_mutex_t sharedLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t sharedCondition = PTHREAD_COND_INITIALIZER;
pthread_t worker;
void (*workerWork)() = nullptr;

void* runWorker(void* /*unused*/) {
    workerWork();
    return nullptr;
}

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Set once at start-up, before any interrupt is let through.
InterruptAction (*decideInterrupt)(InterruptKind) = nullptr;

void onSignal(int signalNumber) {
    bool key = signalNumber == SIGINT || signalNumber == SIGQUIT;
    if (decideInterrupt(key ? InterruptKind::Key : InterruptKind::SessionEnd) !=
        InterruptAction::EndNow) {
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

// The facts of st when status, that of the call that filled it, is success.
bool factsFrom(int status, const struct stat& st, FileFacts* facts) {
    if (status != 0) {
        return false;
    }
    *facts = {S_ISREG(st.st_mode),  S_ISDIR(st.st_mode),
              S_ISFIFO(st.st_mode), S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode),
              st.st_size,           st.st_mtim.tv_sec,
              st.st_mtim.tv_nsec};
    return true;
}

}  // namespace

bool openClosedStandardStreams() {
    bool outputClosed = false;
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
    return outputClosed;
}

void installInterruptHandler(InterruptAction (*decide)(InterruptKind), bool (* /*held*/)()) {
    decideInterrupt = decide;
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
}

void blockInterrupts(bool blocked) {
    // A thread of the camera library's own still reaches onSignal.
    sigset_t set = interruptSet();
    sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void discardTypedAhead() {
    // The stream the prompts read, which tests may have replaced.
    int input = fileno(stdin);
    if (input >= 0 && isatty(input)) {
        tcflush(input, TCIFLUSH);
    }
}

ConsoleRead readConsoleLine(char* /*line*/, int /*lineSize*/, int* /*length*/) {
    return ConsoleRead::NoConsole;
}

void wakeConsoleRead() {}

void refuseSessionEnd(const char* /*reason*/) {}

bool readInputMode(uint32_t* /*mode*/) {
    return false;
}

void writeInputMode(uint32_t /*mode*/) {}

bool enableWindowClose(bool /*enabled*/) {
    return false;
}

int consoleProcessCount() {
    return 0;
}

bool readScreenBuffer(ScreenBuffer* /*buffer*/) {
    return false;
}

void resizeScreenBuffer(ScreenBuffer /*buffer*/) {}

void keepSystemAwake(bool /*awake*/) {}

void shownText(const PathText* text, int units, char* out, int outSize) {
    // A terminal shows the bytes as they are.
    size_t length = units < 0 ? std::strlen(text) : static_cast<size_t>(units);
    size_t room = static_cast<size_t>(outSize) - 1;
    length = length < room ? length : room;
    std::memcpy(out, text, length);
    out[length] = '\0';
}

uint32_t exeFolder(PathText* folder, int units, int* length) {
    ssize_t got = readlink("/proc/self/exe", folder, static_cast<size_t>(units));
    if (got < 0) {
        return static_cast<uint32_t>(errno);
    }
    if (got >= units) {
        return ENAMETOOLONG;
    }
    while (got > 0 && folder[got - 1] != '/') {
        --got;
    }
    // The root keeps its slash.
    *length = got > 1 ? static_cast<int>(got - 1) : static_cast<int>(got);
    folder[*length] = '\0';
    return 0;
}

uint32_t workingFolder(PathText* folder, int units, int* length) {
    if (getcwd(folder, static_cast<size_t>(units)) == nullptr) {
        return static_cast<uint32_t>(errno);
    }
    *length = static_cast<int>(std::strlen(folder));
    return 0;
}

bool sameFolder(const PathText* one, const PathText* other) {
    return std::strcmp(one, other) == 0;
}

bool libraryFileName(const PathText* path, char* out, int outSize) {
    size_t length = std::strlen(path);
    if (length >= static_cast<size_t>(outSize)) {
        return false;
    }
    std::memcpy(out, path, length + 1);
    return true;
}

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

bool factsOfPath(const PathText* path, FileFacts* facts) {
    struct stat st {};
    return factsFrom(stat(path, &st), st, facts);
}

FILE* openForReading(const PathText* path) {
    return fopen(path, "rb");
}

bool factsOfFile(FILE* file, FileFacts* facts) {
    struct stat st {};
    return factsFrom(fstat(fileno(file), &st), st, facts);
}
