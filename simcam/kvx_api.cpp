// The six exported functions of the simulated KvxQ713 library: argument
// checks, injected call failures and the trace line of every call.
#include <string.h>

#include "camera/KvxQ713.h"
#include "simcam/camera.h"
#include "simcam/sim_state.h"
#include "simcam/status.h"
#include "simcam/trace.h"

namespace {

constexpr uint32_t kDefaultTimeoutMs = 5000;

void traceResult(int32_t status) {
    tracePrint(" -> %d", status);
}

void traceRegisters(const char* call, uint32_t address, uint32_t count) {
    tracePrint("%s %u", call, address);
    if (count != 1) {
        tracePrint(" x%u", count);
    }
}

void traceWords(const uint32_t* data, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
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

}  // namespace

int32_t KVXinitConfig(KvxConfig* config) {
    simBeginCall();
    int32_t status = simCallFault();
    if (status == kStatusOk && config == nullptr) {
        status = kStatusBadArgument;
    }
    if (status == kStatusOk) {
        memset(config, 0, sizeof *config);
        config->timeoutMs = kDefaultTimeoutMs;
    }
    tracePrint("KVXinitConfig");
    traceResult(status);
    traceEndLine();
    return status;
}

int32_t KVXopen(KvxConfig* config, KvxHandle* handle) {
    simBeginCall();
    int32_t status = simCallFault();
    if (status == kStatusOk) {
        status = (config != nullptr && handle != nullptr) ? simOpen(handle) : kStatusBadArgument;
    }
    tracePrint("KVXopen");
    traceResult(status);
    traceEndLine();
    return status;
}

// An injected failure still drops the link: a closing camera goes whatever the library says.
int32_t KVXclose(KvxHandle* handle) {
    simBeginCall();
    int32_t injected = simCallFault();
    int32_t status = handle != nullptr ? simClose(*handle) : kStatusBadArgument;
    if (injected != kStatusOk) {
        status = injected;
    }
    if (status == kStatusOk) {
        *handle = nullptr;
    }
    tracePrint("KVXclose");
    traceResult(status);
    traceEndLine();
    return status;
}

int32_t KVXreadRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                        uint32_t* registerCount) {
    simBeginCall();
    uint32_t count = registerCount != nullptr ? *registerCount : 1;
    int32_t status = simCallFault();
    if (status == kStatusOk) {
        status = data != nullptr ? simRead(handle, address, count, data) : kStatusBadArgument;
    }
    traceRegisters("KVXreadRegister", address, count);
    traceResult(status);
    if (status == kStatusOk) {
        traceWords(data, count);
    }
    traceEndLine();
    return status;
}

int32_t KVXwriteRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                         uint32_t* registerCount) {
    simBeginCall();
    uint32_t count = registerCount != nullptr ? *registerCount : 1;
    int32_t status = simCallFault();
    if (status == kStatusOk) {
        status = data != nullptr ? simWrite(handle, address, count, data) : kStatusBadArgument;
    }
    traceRegisters("KVXwriteRegister", address, count);
    if (data != nullptr && cameraCheckRange(address, count) == kStatusOk) {
        traceWords(data, count);
    }
    traceResult(status);
    traceEndLine();
    return status;
}

int32_t KVXfirmwareUpdate(KvxHandle handle, const uint8_t* filename, KvxProgressCallback progress) {
    simBeginCall();
    const char* name = reinterpret_cast<const char*>(filename);
    int32_t status = simCallFault();
    if (status == kStatusOk) {
        status = name != nullptr ? simLoadFirmware(handle, name, progress) : kStatusBadArgument;
    }
    tracePrint("KVXfirmwareUpdate");
    traceFileName(name);
    traceResult(status);
    traceEndLine();
    return status;
}
