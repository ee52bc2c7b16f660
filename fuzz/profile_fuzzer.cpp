// libFuzzer target: the simulated camera's profile parser on any bytes; what it
// fills in must stay within its own tables.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "simcam/profile.h"

namespace {

Profile gProfile;  // too large for the stack of a fuzzing thread

bool faultsSane(const ProfileCamera& camera) {
    if (camera.faultCount > kMaxRegisterFaults) {
        return false;
    }
    for (uint32_t i = 0; i < camera.faultCount; ++i) {
        if (camera.faults[i].address >= kRegisterCount || camera.faults[i].status == 0) {
            return false;
        }
    }
    return true;
}

bool profileSane(const Profile& profile) {
    if (profile.cameraCount < 1 || profile.cameraCount > kMaxCameras ||
        profile.callFaultCount > kMaxCallFaults ||
        (profile.killLoadCall != 0 && (profile.killLoadReport < 1 || profile.killLoadReport > 5))) {
        return false;
    }
    for (uint32_t i = 0; i < profile.cameraCount; ++i) {
        if (!faultsSane(profile.cameras[i]) || profile.cameras[i].loadMs > 600000) {
            return false;
        }
    }
    for (uint32_t i = 0; i < profile.callFaultCount; ++i) {
        if (profile.callFaults[i].call == 0 || profile.callFaults[i].status == 0) {
            return false;
        }
    }
    uint32_t kept = profile.errorCount < kMaxKeptErrors ? profile.errorCount : kMaxKeptErrors;
    for (uint32_t i = 0; i < kept; ++i) {
        if (memchr(profile.errors[i].message, '\0', kErrorTextSize) == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    profileParse(reinterpret_cast<const char*>(data), size, &gProfile);
    if (!profileSane(gProfile)) {
        __builtin_trap();
    }
    return 0;
}
