// The update plan: from a camera's identity to firmware 2.3.1 with its
// calibration carried over.
#include "workflow/updateplan.h"

#include "calibration/capture.h"
#include "calibration/registers.h"
#include "calibration/restore.h"
#include "camera/firmware.h"
#include "console/console.h"
#include "workflow/connection.h"

namespace {

enum class UpdatePath { Direct, ViaPatch, Unsupported };

// The version decides first: 2.0.0 goes direct whatever its release date.
UpdatePath choosePath(const VersionInfo& info) {
    if (info.major == 2 && info.minor == 0 && info.nonfunc == 0) {
        return UpdatePath::Direct;
    }
    if (info.day == 0x26 && info.month == 0x02 && info.year == 0x2013) {
        return UpdatePath::ViaPatch;
    }
    return UpdatePath::Unsupported;
}

UpdateOutcome endWithMessage() {
    waitForReturn("Hit <return> to quit.\n");
    return UpdateOutcome::Ended;
}

UpdateOutcome restoreAndIdentify(KvxHandle kvxHandle, const RegisterTable& table, bool found) {
    if (found) {
        // The plan goes on when one of the three succeeded. That does not
        // always keep the values: a failed save followed by a reset reloads
        // the registers from the old flash.
        bool anyDone = restoreCalibration(kvxHandle, table);
        if (stopRequested()) {
            return UpdateOutcome::Ended;
        }
        if (!anyDone) {
            return endWithMessage();
        }
    } else {
        say("No register data to be written.\n");
    }
    say("%s", SEPARATOR);
    VersionInfo newVersionInfo{};
    if (readVersionInfo(kvxHandle, &newVersionInfo) != 0) {
        waitForReturn(IDENTIFICATION_FAILED);
        return UpdateOutcome::Ended;
    }
    // A camera that was not rebooted, or took the wrong image, still runs
    // another firmware; its values may not be where the tool put them.
    if (!runs231(newVersionInfo)) {
        say("Firmware update failed: the camera does not run firmware 2.3.1.\n");
        return endWithMessage();
    }
    return UpdateOutcome::Completed;
}

}  // namespace

UpdateOutcome runUpdatePlan(KvxHandle& kvxHandle, const VersionInfo& versionInfo,
                            KvxConfig* deviceConfig) {
    RegisterTable protectedRegisters;
    initProtectedRegisters(protectedRegisters);

    UpdatePath path = choosePath(versionInfo);
    if (path == UpdatePath::Unsupported) {
        say("Firmware not supported.\n");
        return endWithMessage();
    }

    bool found = false;
    if (path == UpdatePath::Direct) {
        say("Looking for protected registers data...\n");
        CaptureResult direct = readProtectedRegisters(kvxHandle, protectedRegisters);
        if (direct == CaptureResult::ReadFailed) {
            // Going on would load the new firmware and write 0 over every
            // register that was never read.
            return endWithMessage();
        }
        found = direct == CaptureResult::Captured;
    }
    say("Looking for sequence distance offsets...\n");
    bool offsetsFound = findSequenceDistanceOffsets(kvxHandle, protectedRegisters);
    found = found || offsetsFound;
    printRegisterValues(protectedRegisters);
    say("%s", SEPARATOR);

    // The printed table is the only record of the calibration: without it on
    // the console, the camera must not be changed.
    if (outputFailed()) {
        sayError("q713-update: standard output failed; the camera was not changed.\n");
        return UpdateOutcome::Ended;
    }
    if (path == UpdatePath::ViaPatch &&
        !loadAndReboot(kvxHandle, deviceConfig, PATCH_FILE, FIRST_REBOOT)) {
        return UpdateOutcome::Ended;
    }
    if (!loadAndReboot(kvxHandle, deviceConfig, FIRMWARE_FILE, FINAL_REBOOT)) {
        return UpdateOutcome::Ended;
    }
    return restoreAndIdentify(kvxHandle, protectedRegisters, found);
}
