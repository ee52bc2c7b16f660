// A camera library whose configuration record is 4096 bytes, as a maker's may
// be: it fills the whole record at start-up and reads all of it at every open.
// The camera behind it is the simulated one.
#include <string.h>

#include "camera/KvxQ713.h"
#include "simcam/sim_state.h"

namespace {

constexpr size_t RECORD_BYTES = 4096;
constexpr unsigned char FILL = 0xA5;

}  // namespace

int32_t KVXinitConfig(KvxConfig* config) {
    simBeginCall();
    memset(config, FILL, RECORD_BYTES);
    return 0;
}

int32_t KVXopen(KvxConfig* config, KvxHandle* handle) {
    simBeginCall();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(config);
    for (size_t i = 0; i < RECORD_BYTES; ++i) {
        if (bytes[i] != FILL) {
            return -50;  // the tool changed the library's record
        }
    }
    memset(config, FILL, RECORD_BYTES);
    return simOpen(handle);
}

int32_t KVXclose(KvxHandle* handle) {
    simBeginCall();
    int32_t status = simClose(*handle);
    *handle = nullptr;
    return status;
}

int32_t KVXreadRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                        uint32_t* registerCount) {
    simBeginCall();
    return simRead(handle, address, registerCount != nullptr ? *registerCount : 1, data);
}

int32_t KVXwriteRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                         uint32_t* registerCount) {
    simBeginCall();
    return simWrite(handle, address, registerCount != nullptr ? *registerCount : 1, data);
}

int32_t KVXfirmwareUpdate(KvxHandle handle, const uint8_t* filename, KvxProgressCallback progress) {
    simBeginCall();
    return simLoadFirmware(handle, reinterpret_cast<const char*>(filename), progress);
}
