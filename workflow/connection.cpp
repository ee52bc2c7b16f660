// Connecting to the camera, with the retry-or-quit prompt after each failure,
// and the reboot after a firmware load.
#include "workflow/connection.h"

#include "camera/firmware.h"
#include "console/console.h"

namespace {

// False when the run must end: input ended before anyone confirmed the reboot
// (writing calibration into a camera that may not have restarted is unsafe),
// or the user gave up reconnecting.
bool rebootStep(KvxHandle& kvxHandle, KvxConfig* deviceConfig, const char* message) {
    KVXclose(&kvxHandle);
    say("%s", SEPARATOR);
    // One line answers the prompt, so nothing typed here confirms a later reboot.
    if (!waitForLine(message)) {
        return false;
    }
    if (!connectCamera(deviceConfig, &kvxHandle)) {
        return false;
    }
    say("%s", SEPARATOR);
    return true;
}

}  // namespace

bool connectCamera(KvxConfig* config, KvxHandle* handle) {
    for (;;) {
        int32_t status = KVXopen(config, handle);
        if (status == 0) {
            return true;
        }
        say("\nERROR: %d\n", status);
        say("Repeat (r) or quit (q) ?\n");
        if (readChoice() == 'q') {
            return false;
        }
        say("Opening device...");
    }
}

bool loadAndReboot(KvxHandle& kvxHandle, KvxConfig* deviceConfig, const char* fileName,
                   const char* rebootMessage) {
    bool loaded = loadFirmware(kvxHandle, fileName);
    if (stopRequested()) {
        return false;
    }
    if (!loaded) {
        waitForReturn("Hit <return> to quit.\n");
        return false;
    }
    return rebootStep(kvxHandle, deviceConfig, rebootMessage);
}
