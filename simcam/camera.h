// One simulated camera: its registers, flash, firmware and the flash command
// rules. Knows nothing about connections, handles or the trace.
#ifndef SIMCAM_CAMERA_H
#define SIMCAM_CAMERA_H

#include <stdint.h>

#include "simcam/profile.h"
#include "simcam/register_map.h"

struct SimCamera {
    const ProfileCamera* setup;
    uint32_t registers[kRegisterCount];
    uint32_t flash[kProtectedCount];
    FirmwareId running;
    FirmwareId pending;
    bool hasPending;
    bool armed;      // the flash magic was the last value written to register 21
    bool presented;  // the user has plugged this camera in at least once
    uint32_t reboots;
    uint32_t openFailsLeft;
    uint32_t rebootOpenFailsLeft;
};

/// The camera as it comes out of the box, described by setup.
void cameraPowerOn(SimCamera* camera, const ProfileCamera* setup);
/// The status the profile injects for touching [address, address + count), or 0.
int32_t cameraRegisterFault(const SimCamera* camera, bool write, uint32_t address, uint32_t count);
/// Checks a register range; 0 when the camera has all of it.
int32_t cameraCheckRange(uint32_t address, uint32_t count);
int32_t cameraRead(const SimCamera* camera, uint32_t address, uint32_t count, uint32_t* out);
int32_t cameraWrite(SimCamera* camera, uint32_t address, uint32_t count, const uint32_t* data);
/// Whether the running firmware takes image: the upgrade paths the maker allows.
bool cameraAccepts(const SimCamera* camera, FirmwareId image);
/// The restart that makes the pending image the running firmware.
void cameraReboot(SimCamera* camera);

#endif
