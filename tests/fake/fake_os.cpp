// The operating system double: implements os/os.h over one record and a log.
#include "tests/fake/fake_os.h"

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

fake::Os state{0, fake::DEFAULT_INPUT_MODE, {}, true, false, false, false, {80, 300}, 0, false, {}};
InterruptAction (*installedDecision)(InterruptKind) = nullptr;
std::vector<std::string> consoleLines;

// The writer's thread and lock are real: a test of the writer needs two threads.
std::thread worker;
std::mutex sharedLock;
std::condition_variable_any sharedCondition;

void log(const std::string& call) {
    state.calls.push_back(call);
}

void log(const char* call, bool value) {
    log(std::string(call) + (value ? " 1" : " 0"));
}

void log(const char* call, uint32_t value) {
    char text[64];
    std::snprintf(text, sizeof text, "%s 0x%x", call, value);
    log(text);
}

// The facts a real stat gives, read the way a test expects to see them.
FileFacts factsFrom(const struct stat& st) {
    mode_t kind = st.st_mode & S_IFMT;
    return {
        kind == S_IFREG, kind == S_IFDIR,   kind == S_IFIFO,   kind == S_IFCHR || kind == S_IFBLK,
        st.st_size,      st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

const char* actionName(InterruptAction action) {
    switch (action) {
        case InterruptAction::EndNow:
            return "end now";
        case InterruptAction::Hold:
            return "hold";
        case InterruptAction::EndRead:
            return "end read";
    }
    return "?";
}

}  // namespace

void fake::typeConsoleLines(const std::vector<std::string>& lines) {
    consoleLines = lines;
}

void fake::resetOs(int processes, ScreenBuffer buffer) {
    consoleLines.clear();
    state = Os{processes, DEFAULT_INPUT_MODE, {}, true, false, false, false, buffer, 0, false, {}};
}

const fake::Os& fake::os() {
    return state;
}

void fake::setInputMode(uint32_t mode) {
    state.inputMode = mode;
}

void fake::closeStandardOutput() {
    state.outputClosed = true;
}

InterruptAction fake::interrupt(InterruptKind kind) {
    InterruptAction action = installedDecision(kind);
    log(std::string("interrupt ") + (kind == InterruptKind::Key ? "key" : "session end") + ": " +
        actionName(action));
    return action;
}

std::vector<std::string> fake::callsSinceLast(const std::string& first) {
    auto start = state.calls.end();
    while (start != state.calls.begin() && *(start - 1) != first) {
        --start;
    }
    if (start != state.calls.begin()) {
        --start;
    }
    return {start, state.calls.end()};
}

bool openClosedStandardStreams() {
    log("openClosedStandardStreams");
    bool closed = state.outputClosed;
    state.outputClosed = false;
    return closed;
}

void installInterruptHandler(InterruptAction (*decide)(InterruptKind), bool (* /*held*/)()) {
    log("installInterruptHandler");
    installedDecision = decide;
}

void blockInterrupts(bool blocked) {
    log("blockInterrupts", blocked);
    state.interruptsBlocked = blocked;
}

void discardTypedAhead() {
    log("discardTypedAhead");
}

ConsoleRead readConsoleLine(char* line, int lineSize, int* length) {
    if (consoleLines.empty()) {
        log("readConsoleLine: no console");
        return ConsoleRead::NoConsole;
    }
    std::string typed = consoleLines.front();
    consoleLines.erase(consoleLines.begin());
    if (typed == "\x03") {
        log("readConsoleLine: Ctrl-C");
        return ConsoleRead::Interrupt;
    }
    log("readConsoleLine: " + typed);
    *length = std::snprintf(line, static_cast<size_t>(lineSize), "%s\n", typed.c_str());
    return ConsoleRead::Line;
}

void wakeConsoleRead() {
    log("wakeConsoleRead");
}

bool readInputMode(uint32_t* mode) {
    log("readInputMode");
    *mode = state.inputMode;
    return state.processes > 0;
}

void writeInputMode(uint32_t mode) {
    log("writeInputMode", mode);
    state.inputMode = mode;
    state.inputModesWritten.push_back(mode);
    ++state.changes;
}

bool enableWindowClose(bool enabled) {
    log("enableWindowClose", enabled);
    if (state.processes == 0) {
        return false;
    }
    state.closeEnabled = enabled;
    ++state.changes;
    return true;
}

int consoleProcessCount() {
    log("consoleProcessCount");
    return state.processes;
}

bool readScreenBuffer(ScreenBuffer* buffer) {
    log("readScreenBuffer");
    *buffer = state.buffer;
    return state.processes > 0;
}

void resizeScreenBuffer(ScreenBuffer buffer) {
    log("resizeScreenBuffer", static_cast<uint32_t>(buffer.height));
    state.buffer = buffer;
    ++state.changes;
}

void refuseSessionEnd(const char* reason) {
    log("refuseSessionEnd", reason != nullptr);
    state.sessionEndRefused = reason != nullptr;
}

void keepSystemAwake(bool awake) {
    log("keepSystemAwake", awake);
    state.systemKeptAwake = awake;
}

void shownText(const PathText* text, int units, char* out, int outSize) {
    log("shownText");
    std::snprintf(out, static_cast<size_t>(outSize), "%.*s", units < 0 ? outSize : units, text);
}

uint32_t exeFolder(PathText* folder, int units, int* length) {
    log("exeFolder");
    *length = std::snprintf(folder, static_cast<size_t>(units), "/fake/bin");
    return 0;
}

uint32_t workingFolder(PathText* folder, int units, int* length) {
    log("workingFolder");
    if (getcwd(folder, static_cast<size_t>(units)) == nullptr) {
        return 1;
    }
    *length = static_cast<int>(std::strlen(folder));
    return 0;
}

bool sameFolder(const PathText* one, const PathText* other) {
    log("sameFolder");
    return std::strcmp(one, other) == 0;
}

bool libraryFileName(const PathText* path, char* out, int outSize) {
    log(std::string("libraryFileName ") + path);
    return std::snprintf(out, static_cast<size_t>(outSize), "%s", path) < outSize;
}

// Only the loading thread's calls are logged: the lock's come from both.
bool startWorker(void (*work)()) {
    log("startWorker");
    worker = std::thread(work);
    return true;
}

void joinWorker() {
    log("joinWorker");
    worker.join();
}

void lockShared() {
    sharedLock.lock();
}

void unlockShared() {
    sharedLock.unlock();
}

void waitShared() {
    sharedCondition.wait(sharedLock);
}

void wakeShared() {
    sharedCondition.notify_all();
}

bool factsOfPath(const PathText* path, FileFacts* facts) {
    log(std::string("factsOfPath ") + path);
    struct stat st {};
    if (stat(path, &st) != 0) {
        return false;
    }
    *facts = factsFrom(st);
    return true;
}

FILE* openForReading(const PathText* path) {
    log(std::string("openForReading ") + path);
    return std::fopen(path, "rb");
}

bool factsOfFile(FILE* file, FileFacts* facts) {
    log("factsOfFile");
    struct stat st {};
    if (fstat(fileno(file), &st) != 0) {
        return false;
    }
    *facts = factsFrom(st);
    return true;
}
