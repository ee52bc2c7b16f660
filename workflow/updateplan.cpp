// The update plan: from a camera's identity to firmware 2.3.1 with its
// calibration carried over.
#include "workflow/updateplan.h"

#include "calibration/capture.h"
#include "calibration/registers.h"
#include "calibration/writeback.h"
#include "camera/firmware.h"
#include "console/console.h"
#include "console/table_format.h"
#include "session/session.h"

namespace {

enum class UpdatePath { Direct, ViaPatch, Unsupported };

// The printed table is then all that is left of the calibration
// (printRegisterValues), and q713-restore writes it back from the saved text.
constexpr char NOT_WRITTEN_BACK[] =
    "The calibration was not fully written back: save this console text and run q713-restore "
    "with it.\nHit <return> to quit.\n";

// True when the camera was reconnected after the load. A run that ended after
// this load, or at any point after the patch's (patchIn), left the camera half
// updated; standard output stays the console text as it was, and standard
// error says so.
bool rebootedAfter(LoadOutcome outcome, bool patchIn) {
    if (outcome == LoadOutcome::EndedAfterLoad ||
        (patchIn && outcome != LoadOutcome::Reconnected)) {
        sayError(
            "q713-update: the camera was left half updated: run q713-restore with the saved "
            "console text.\n");
    }
    return outcome == LoadOutcome::Reconnected;
}

// The version decides first: 2.0.0 goes direct whatever its release date.
UpdatePath choosePath(const VersionInfo& info) {
    if (info.major == 2 && info.minor == 0 && info.nonfunc == 0) {
        return UpdatePath::Direct;
    }
    // The date's fields are BCD (camera/identification.h): 26.02.2013.
    if (info.day == 0x26 && info.month == 0x02 && info.year == 0x2013) {
        return UpdatePath::ViaPatch;
    }
    return UpdatePath::Unsupported;
}

UpdateOutcome writeBackAndIdentify(KvxHandle* kvxHandle, const RegisterTable& table, bool found) {
    // Nothing captured means nothing to write back: the camera keeps no less.
    bool writtenBack = true;
    if (found) {
        WriteBackSteps steps = writeBackCalibration(*kvxHandle, table);
        if (tellStop()) {
            return UpdateOutcome::Ended;
        }
        if (!steps.written && !steps.saved && !steps.reset) {
            waitForReturn(NOT_WRITTEN_BACK);
            return UpdateOutcome::Ended;
        }
        // The plan goes on to show the new firmware, but without all three
        // the values may be lost: a failed save followed by a reset reloads
        // the registers from the empty flash.
        writtenBack = allWrittenBack(steps);
    } else {
        say("No register data to be written.\n");
    }
    say("%s", SEPARATOR);
    VersionInfo newVersionInfo{};
    if (!identifyCamera(*kvxHandle, &newVersionInfo)) {
        return UpdateOutcome::Ended;
    }
    // A camera that was not rebooted, or took the wrong image, still runs
    // another firmware; its values may not be where the tool put them.
    bool on231 = runs231(newVersionInfo);
    if (!on231) {
        say("Firmware update failed: the camera does not run firmware 2.3.1.\n");
    }
    if (!writtenBack) {
        if (on231) {
            // As at completion: the camera is finished with, whatever it keeps.
            KVXclose(kvxHandle);
        }
        waitForReturn(NOT_WRITTEN_BACK);
        return UpdateOutcome::Ended;
    }
    if (!on231) {
        waitToQuit();
        return UpdateOutcome::Ended;
    }
    return UpdateOutcome::Completed;
}

}  // namespace

UpdateOutcome runUpdatePlan(KvxHandle* kvxHandle, const VersionInfo& versionInfo,
                            KvxConfig* deviceConfig) {
    RegisterTable protectedRegisters;
    initProtectedRegisters(protectedRegisters);

    UpdatePath path = choosePath(versionInfo);
    if (path == UpdatePath::Unsupported) {
        say("Firmware not supported.\n");
        waitToQuit();
        return UpdateOutcome::Ended;
    }

    bool found = false;
    if (path == UpdatePath::Direct) {
        say("Looking for protected registers data...\n");
        CaptureResult direct = readProtectedRegisters(*kvxHandle, protectedRegisters);
        if (direct == CaptureResult::ReadFailed) {
            // Going on would load the new firmware and write 0 over every
            // register that was never read.
            waitToQuit();
            return UpdateOutcome::Ended;
        }
        found = direct == CaptureResult::Captured;
    }
    say("%s", OFFSET_SEARCH_LINE);
    CaptureResult offsets = findSequenceDistanceOffsets(*kvxHandle, protectedRegisters);
    if (offsets == CaptureResult::ReadFailed) {
        // A value that could not be read would be written back as 0. No
        // table either: q713-restore takes a printed table as the calibration.
        waitForReturn(CAPTURE_INCOMPLETE);
        return UpdateOutcome::Ended;
    }
    found = found || offsets == CaptureResult::Captured;
    printRegisterValues(protectedRegisters);
    say("%s", SEPARATOR);

    // Without the printed table (printRegisterValues) on the console, the
    // camera must not be changed.
    if (outputFailed()) {
        sayError("q713-update: standard output failed; the camera was not changed.\n");
        return UpdateOutcome::Ended;
    }
    if (path == UpdatePath::ViaPatch &&
        !rebootedAfter(loadAndReboot(kvxHandle, deviceConfig, PATCH_FILE, FIRST_REBOOT), false)) {
        return UpdateOutcome::Ended;
    }
    if (!rebootedAfter(loadAndReboot(kvxHandle, deviceConfig, FIRMWARE_FILE, FINAL_REBOOT),
                       path == UpdatePath::ViaPatch)) {
        return UpdateOutcome::Ended;
    }
    return writeBackAndIdentify(kvxHandle, protectedRegisters, found);
}
