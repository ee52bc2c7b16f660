// Camera profiles: the text that describes the simulated cameras and their
// faults, parsed from memory so tests and fuzz targets can call it directly.
// The format is described in simcam/README.md.
#ifndef SIMCAM_PROFILE_H
#define SIMCAM_PROFILE_H

#include <stddef.h>
#include <stdint.h>

#include "simcam/register_map.h"

constexpr uint32_t kMaxCameras = 16;
constexpr uint32_t kMaxRegisterFaults = 32;
constexpr uint32_t kMaxCallFaults = 16;
constexpr uint32_t kMaxKeptErrors = 8;
constexpr uint32_t kErrorTextSize = 120;

struct RegisterFault {
    uint32_t address;
    int32_t status;
    bool write;
    bool afterReboot;  // only once the camera has rebooted in this process
};

struct ProfileCamera {
    uint32_t registers[kRegisterCount];
    uint32_t flash[kProtectedCount];
    uint32_t flashGiven;  // bit i: flash word i was set by a flash line
    uint32_t openFails;
    int32_t openFailStatus;
    uint32_t rebootOpenFails;
    int32_t rebootOpenFailStatus;
    uint32_t loadMs;    // how long an accepted image takes to load
    bool neverReboots;  // a close with firmware pending leaves the old firmware running
    RegisterFault faults[kMaxRegisterFaults];
    uint32_t faultCount;
};

struct CallFault {
    uint32_t call;  // 1 for the first library call of the process
    int32_t status;
};

struct ProfileError {
    uint32_t line;
    char message[kErrorTextSize];
};

struct Profile {
    ProfileCamera cameras[kMaxCameras];
    uint32_t cameraCount;
    CallFault callFaults[kMaxCallFaults];
    uint32_t callFaultCount;
    uint32_t killBeforeCall;  // 0: none
    uint32_t killLoadCall;    // 0: none; else the load in that call is cut after killLoadReport
    uint32_t killLoadReport;
    ProfileError errors[kMaxKeptErrors];  // the first few; errorCount counts all
    uint32_t errorCount;
};

/// The camera presented without a profile, and where each [camera] section starts.
void profileDefaultCamera(ProfileCamera* camera);
/// Parses text (not NUL-terminated) into profile. Without a [camera] section
/// the profile holds the default camera; errorCount > 0 means it is unusable.
void profileParse(const char* text, size_t size, Profile* profile);

#endif
