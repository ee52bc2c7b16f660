// The in-memory camera double: implements the library header over a map of registers.
#include "tests/fake/fake_camera.h"

#include <cstdio>
#include <map>

#include "camera/KvxQ713.h"
#include "tests/fake/fake_os.h"

namespace {

std::map<uint32_t, uint32_t> registers;
std::map<uint32_t, int32_t> readFailures;
std::map<uint32_t, int32_t> writeFailures;
std::vector<std::string> callLog;
std::vector<std::string> guardedLog;
int openFailuresLeft = 0;
int32_t openFailure = 0;
int32_t firmwareStatus = 0;
int firmwareReports = 5;
int handleToken;
int interruptedWrite = -1;
InterruptKind interruptKind = InterruptKind::Key;
int writesMade = 0;

void maybeInterrupt(int write) {
    if (write == interruptedWrite) {
        fake::interrupt(interruptKind);
    }
}

// Quick-edit off tells that a held step's guard is on the console.
void logCall(const std::string& call) {
    callLog.push_back(call);
    if ((fake::os().inputMode & 0x40) == 0) {
        guardedLog.push_back(call);
    }
}

int32_t failureFor(const std::map<uint32_t, int32_t>& failures, uint32_t address) {
    auto it = failures.find(address);
    return it == failures.end() ? 0 : it->second;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

}  // namespace

namespace fake {

void reset() {
    registers.clear();
    readFailures.clear();
    writeFailures.clear();
    callLog.clear();
    guardedLog.clear();
    openFailuresLeft = 0;
    firmwareStatus = 0;
    firmwareReports = 5;
    interruptedWrite = -1;
    writesMade = 0;
}

void setRegister(uint32_t address, uint32_t value) {
    registers[address] = value;
}

uint32_t registerValue(uint32_t address) {
    return registers[address];
}

void failRead(uint32_t address, int32_t status) {
    readFailures[address] = status;
}

void failWrite(uint32_t address, int32_t status) {
    writeFailures[address] = status;
}

void failOpens(int times, int32_t status) {
    openFailuresLeft = times;
    openFailure = status;
}

void setFirmwareResult(int32_t status, int progressReports) {
    firmwareStatus = status;
    firmwareReports = progressReports;
}

void interruptAt(int write, InterruptKind kind) {
    interruptedWrite = write;
    interruptKind = kind;
}

const std::vector<std::string>& calls() {
    return callLog;
}

const std::vector<std::string>& callsWhileGuarded() {
    return guardedLog;
}

bool wasRead(uint32_t address) {
    for (const std::string& call : callLog) {
        if (call == "read " + std::to_string(address)) {
            return true;
        }
    }
    return false;
}

int writeCount() {
    int count = 0;
    for (const std::string& call : callLog) {
        count += call.rfind("write ", 0) == 0 ? 1 : 0;
    }
    return count;
}

}  // namespace fake

extern "C" {

int32_t KVXinitConfig(KvxConfig* config) {
    *config = KvxConfig{};
    logCall("initConfig");
    return 0;
}

int32_t KVXopen(KvxConfig*, KvxHandle* handle) {
    logCall("open");
    if (openFailuresLeft > 0) {
        --openFailuresLeft;
        return openFailure;
    }
    *handle = &handleToken;
    return 0;
}

int32_t KVXclose(KvxHandle* handle) {
    logCall("close");
    *handle = nullptr;
    return 0;
}

int32_t KVXreadRegister(KvxHandle, uint32_t address, uint32_t* data, uint32_t*) {
    logCall("read " + std::to_string(address));
    if (int32_t status = failureFor(readFailures, address)) {
        return status;
    }
    *data = registers[address];
    return 0;
}

int32_t KVXwriteRegister(KvxHandle, uint32_t address, uint32_t* data, uint32_t* registerCount) {
    logCall("write " + std::to_string(address) + " " + hex(*data) +
            (*registerCount == 1 ? "" : " count!=1"));
    maybeInterrupt(++writesMade);
    if (int32_t status = failureFor(writeFailures, address)) {
        return status;
    }
    registers[address] = *data;
    return 0;
}

int32_t KVXfirmwareUpdate(KvxHandle, const uint8_t* filename, KvxProgressCallback progress) {
    logCall(std::string("firmware ") + reinterpret_cast<const char*>(filename));
    for (int i = 1; i <= firmwareReports; ++i) {
        progress(0, static_cast<uint8_t>(100 * i / firmwareReports));
        if (i == 1) {
            maybeInterrupt(0);
        }
    }
    return firmwareStatus;
}

}  // extern "C"
