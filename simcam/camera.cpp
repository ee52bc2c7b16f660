// One simulated camera: register reads and writes, the armed flash commands,
// firmware acceptance and the reboot into a pending image.
#include "simcam/camera.h"

#include <string.h>

#include "simcam/status.h"

namespace {

struct AcceptRule {
    FirmwareId image;
    FirmwareId running;
    bool checkVersion;  // of the running firmware
    bool checkRelease;
};

// 2.3.1 installs over 2.0.0 or over the patch; the patch over the 26.02.2013 release.
const AcceptRule kAcceptRules[] = {
    {kFirmware231, {versionWord(2, 0, 0), 0}, true, false},
    {kFirmware231, kFirmwarePatch, true, true},
    {kFirmwarePatch, {0, releaseWord(26, 2, 2013)}, false, true},
};

bool isIdentity(uint32_t address) {
    return address == kRegIdentity || address == kRegRelease || address == kRegVersion;
}

bool isCommand(uint32_t address) {
    return address == kRegFlashStore || address == kRegReload || address == kRegFlashMagic;
}

// Each attempt uses up the magic, whether the camera then runs it or not.
int32_t runCommand(SimCamera* camera, uint32_t address, uint32_t value) {
    bool armed = camera->armed;
    camera->armed = false;
    if (!armed) {
        return kStatusNotArmed;
    }
    bool store = address == kRegFlashStore;
    if (value != (store ? kFlashStoreCommand : kReloadCommand)) {
        return kStatusBadCommand;
    }
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        uint32_t* reg = &camera->registers[kProtectedRegisters[i]];
        if (store) {
            camera->flash[i] = *reg;
        } else {
            *reg = camera->flash[i];
        }
    }
    return kStatusOk;
}

int32_t writeOne(SimCamera* camera, uint32_t address, uint32_t value) {
    if (address == kRegFlashStore || address == kRegReload) {
        return runCommand(camera, address, value);
    }
    if (isIdentity(address)) {
        return kStatusReadOnly;
    }
    if (address == kRegFlashMagic) {
        camera->armed = value == kFlashMagic;
    }
    camera->registers[address] = value;
    return kStatusOk;
}

}  // namespace

void cameraPowerOn(SimCamera* camera, const ProfileCamera* setup) {
    memset(camera, 0, sizeof *camera);
    camera->setup = setup;
    memcpy(camera->registers, setup->registers, sizeof camera->registers);
    memcpy(camera->flash, setup->flash, sizeof camera->flash);
    camera->running = FirmwareId{setup->registers[kRegVersion], setup->registers[kRegRelease]};
    camera->openFailsLeft = setup->openFails;
}

int32_t cameraRegisterFault(const SimCamera* camera, bool write, uint32_t address, uint32_t count) {
    const ProfileCamera* setup = camera->setup;
    const RegisterFault* table = write ? setup->writeFaults : setup->readFaults;
    uint32_t used = write ? setup->writeFaultCount : setup->readFaultCount;
    for (uint32_t i = 0; i < used; ++i) {
        bool active = !table[i].afterReboot || camera->reboots > 0;
        if (active && table[i].address >= address && table[i].address - address < count) {
            return table[i].status;
        }
    }
    return kStatusOk;
}

int32_t cameraCheckRange(uint32_t address, uint32_t count) {
    if (address >= kRegisterCount) {
        return kStatusBadAddress;
    }
    return (count == 0 || count > kRegisterCount - address) ? kStatusBadCount : kStatusOk;
}

int32_t cameraRead(const SimCamera* camera, uint32_t address, uint32_t count, uint32_t* out) {
    int32_t status = cameraCheckRange(address, count);
    if (status == kStatusOk) {
        memcpy(out, camera->registers + address, count * sizeof *out);
    }
    return status;
}

// Several words at once only for plain registers: commands and identity go one by one.
int32_t cameraWrite(SimCamera* camera, uint32_t address, uint32_t count, const uint32_t* data) {
    int32_t status = cameraCheckRange(address, count);
    if (status != kStatusOk || count == 1) {
        return status == kStatusOk ? writeOne(camera, address, data[0]) : status;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (isIdentity(address + i) || isCommand(address + i)) {
            return kStatusBadCount;
        }
    }
    memcpy(camera->registers + address, data, count * sizeof *data);
    return kStatusOk;
}

bool cameraAccepts(const SimCamera* camera, FirmwareId image) {
    for (const AcceptRule& rule : kAcceptRules) {
        bool versionOk =
            !rule.checkVersion || rule.running.version == (camera->running.version & kVersionMask);
        bool releaseOk = !rule.checkRelease || rule.running.release == camera->running.release;
        if (sameFirmware(rule.image, image) && versionOk && releaseOk) {
            return true;
        }
    }
    return false;
}

// The new firmware does not know the old flash layout, so flash and
// calibration start empty; identity and sequences survive.
void cameraReboot(SimCamera* camera) {
    camera->running = camera->pending;
    camera->hasPending = false;
    camera->armed = false;
    camera->registers[kRegVersion] = camera->running.version;
    camera->registers[kRegRelease] = camera->running.release;
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        camera->registers[kProtectedRegisters[i]] = 0;
        camera->flash[i] = 0;
    }
    ++camera->reboots;
}
