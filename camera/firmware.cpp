// Firmware loading through the camera library, with its progress on the console.
#include "camera/firmware.h"

#include "camera/progress.h"
#include "console/console.h"
#include "console/interrupt.h"

const char* const FIRMWARE_FILE = "20151028_Lumivor-Q713_v2.3.1.bin";
const char* const PATCH_FILE = "20140827_Lumivor-Q713_v0.0.0_patch.bin";

namespace {
constexpr int32_t FILE_NOT_FOUND = -1;
}

bool loadFirmware(KvxHandle handle, const char* fileName, const char* lookedIn) {
    // A load cut in half could leave the camera without a working firmware;
    // and none begins once the run is to stop (the caller tells that).
    if (!startHeldStep()) {
        return false;
    }
    say("Loading firmware \"%s\" ...\n", fileName);
    startProgressWriter();
    int32_t status =
        KVXfirmwareUpdate(handle, reinterpret_cast<const uint8_t*>(fileName), printProgress);
    // Every progress line stands before the load's last line, and is on the
    // console before an interrupt can end the run.
    stopProgressWriter();
    endHeldStep();
    if (status != 0) {
        say("ERROR %d\n", status);
        if (status == FILE_NOT_FOUND) {
            // The parenthesis opens the next line, where the caller's prompt follows.
            if (lookedIn != nullptr) {
                say("(File not found in %s.\n)", lookedIn);
            } else {
                say("(File not found.\n)");
            }
        }
        return false;
    }
    say("Firmware written.\n");
    return true;
}

int32_t printProgress(int32_t status, uint8_t percentage) {
    reportProgress({status, percentage});
    return 0;
}
