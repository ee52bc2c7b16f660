// Firmware loading through the camera library, with its progress on the console.
#include "camera/firmware.h"

#include "console/console.h"
#include "console/interrupt.h"

const char* const FIRMWARE_FILE = "20151028_Lumivor-Q713_v2.3.1.bin";
const char* const PATCH_FILE = "20140827_Lumivor-Q713_v0.0.0_patch.bin";

namespace {
constexpr int32_t FILE_NOT_FOUND = -1;
}

bool loadFirmware(KvxHandle handle, const char* fileName) {
    // A load cut in half could leave the camera without a working firmware;
    // and none begins once the run is to stop (the caller tells that).
    if (!startHeldStep()) {
        return false;
    }
    say("Loading firmware \"%s\" ...\n", fileName);
    int32_t status =
        KVXfirmwareUpdate(handle, reinterpret_cast<const uint8_t*>(fileName), printProgress);
    endHeldStep();
    if (status != 0) {
        say("ERROR %d\n", status);
        if (status == FILE_NOT_FOUND) {
            // The parenthesis opens the next line, where the caller's prompt follows.
            say("(File not found.\n)");
        }
        return false;
    }
    say("Firmware written.\n");
    return true;
}

int32_t printProgress(int32_t status, uint8_t percentage) {
    say("status %d, percentage %d\n", status, percentage);
    return 0;
}
