// The six exported functions of the simulated KvxQ713 library: argument
// checks, injected call failures and the trace line of every call.
#include <string.h>

#include "camera/KvxQ713.h"
#include "simcam/sim_state.h"
#include "simcam/status.h"

namespace {

constexpr uint32_t kDefaultTimeoutMs = 5000;

// Ends the line of a call that traces nothing after its status.
int32_t traceResult(const char* call, int32_t status) {
    tracePrint("%s -> %d", call, status);
    traceEndLine();
    return status;
}

// "KVXreadRegister 600 x2", and with data " 0xa 0xb".
void traceRegisters(const char* call, uint32_t address, uint32_t count, const uint32_t* data) {
    if (call != nullptr) {
        tracePrint("%s %u", call, address);
    }
    if (call != nullptr && count != 1) {
        tracePrint(" x%u", count);
    }
    for (uint32_t i = 0; data != nullptr && i < count; ++i) {
        tracePrint(" 0x%x", data[i]);
    }
}

// Keeps one call on one line whatever bytes the name holds.
void traceFileName(const char* name) {
    char shown[256];
    size_t n = 0;
    for (; name != nullptr && name[n] != '\0' && n + 1 < sizeof shown; ++n) {
        unsigned char c = static_cast<unsigned char>(name[n]);
        shown[n] = (c >= 0x20 && c != 0x7F) ? name[n] : '?';
    }
    shown[n] = '\0';
    tracePrint(" %s", name != nullptr ? shown : "(null)");
}

// The status of a call that a profile's fail-call line does not fail first.
int32_t beginCall(void) {
    simBeginCall();
    return simCallFault();
}

}  // namespace

int32_t KVXinitConfig(KvxConfig* config) {
    int32_t status = beginCall();
    if (status == kStatusOk && config == nullptr) {
        status = kStatusBadArgument;
    }
    if (status == kStatusOk) {
        memset(config, 0, sizeof *config);
        config->timeoutMs = kDefaultTimeoutMs;
    }
    return traceResult("KVXinitConfig", status);
}

int32_t KVXopen(KvxConfig* config, KvxHandle* handle) {
    int32_t status = beginCall();
    if (status == kStatusOk) {
        status = (config != nullptr && handle != nullptr) ? simOpen(handle) : kStatusBadArgument;
    }
    return traceResult("KVXopen", status);
}

// An injected failure still drops the link: a closing camera goes whatever the library says.
int32_t KVXclose(KvxHandle* handle) {
    int32_t injected = beginCall();
    int32_t status = handle != nullptr ? simClose(*handle) : kStatusBadArgument;
    if (injected != kStatusOk) {
        status = injected;
    }
    if (status == kStatusOk) {
        *handle = nullptr;
    }
    return traceResult("KVXclose", status);
}

int32_t KVXreadRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                        uint32_t* registerCount) {
    uint32_t count = registerCount != nullptr ? *registerCount : 1;
    int32_t status = beginCall();
    if (status == kStatusOk) {
        status = data != nullptr ? simRead(handle, address, count, data) : kStatusBadArgument;
    }
    traceRegisters("KVXreadRegister", address, count, nullptr);
    tracePrint(" -> %d", status);
    traceRegisters(nullptr, address, count, status == kStatusOk ? data : nullptr);
    traceEndLine();
    return status;
}

int32_t KVXwriteRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                         uint32_t* registerCount) {
    uint32_t count = registerCount != nullptr ? *registerCount : 1;
    int32_t status = beginCall();
    if (status == kStatusOk) {
        status = data != nullptr ? simWrite(handle, address, count, data) : kStatusBadArgument;
    }
    traceRegisters("KVXwriteRegister", address, count,
                   simRangeValid(address, count) ? data : nullptr);
    return traceResult("", status);
}

int32_t KVXfirmwareUpdate(KvxHandle handle, const uint8_t* filename, KvxProgressCallback progress) {
    const char* name = reinterpret_cast<const char*>(filename);
    int32_t status = beginCall();
    if (status == kStatusOk) {
        status = name != nullptr ? simLoadFirmware(handle, name, progress) : kStatusBadArgument;
    }
    tracePrint("KVXfirmwareUpdate");
    traceFileName(name);
    return traceResult("", status);
}
