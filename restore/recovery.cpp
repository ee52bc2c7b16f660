// The restore dialogue: connect, identify, find the camera's own table in the
// transcript, show it beside the camera's values, write it on the user's word
// and read it back.
#include "restore/recovery.h"

#include <cstdio>

#include "calibration/capture.h"
#include "calibration/registers.h"
#include "calibration/restore.h"
#include "camera/identification.h"
#include "camera/library.h"
#include "console/console.h"
#include "restore/transcript.h"
#include "workflow/connection.h"
#include "workflow/mainloop.h"

namespace {

constexpr char QUIT[] = "Hit <return> to quit.\n";

// Filled once and handed to the one connection of the run.
ConfigRecord deviceConfig;

void printBanner() {
    say("%s", BANNER_FRAME);
    say("* Zentrovique Lumivor-Q713/ORB-NX Restore Tool %d.%d.%d *\n", TOOL_VERSION[0],
        TOOL_VERSION[1], TOOL_VERSION[2]);
    say("%s", BANNER_FRAME);
}

int endWithMessage(const char* message) {
    say("%s", message);
    waitForReturn(QUIT);
    return -1;
}

void showComparison(const char* path, const TranscriptScan& scan, const RegisterTable& now) {
    say("Values now in the camera and in the table of %s, line %d:\n", path, scan.matchLine);
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        say("\taddress = %d, camera = %d, table = %d.\n", now[i].address, now[i].value,
            scan.match[i].value);
    }
}

// Exit status: 0 when every register reads back as the table has it.
int verify(KvxHandle* handle, const RegisterTable& table) {
    RegisterTable readBack;
    initProtectedRegisters(readBack);
    if (readProtectedRegisters(*handle, readBack) == CaptureResult::ReadFailed) {
        waitForReturn(QUIT);
        return -1;
    }
    say("Closing connection...\n");
    KVXclose(handle);
    int mismatches = 0;
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        if (readBack[i].value != table[i].value) {
            say("Not restored: address = %d, camera = %d, table = %d.\n", readBack[i].address,
                readBack[i].value, table[i].value);
            ++mismatches;
        }
    }
    if (mismatches > 0) {
        return -1;
    }
    say("Calibration restored and verified.\n");
    return 0;
}

// From the identified camera on: its table, the question, the writes.
int restoreCamera(KvxHandle* handle, const VersionInfo& info, const char* path) {
    // The tables were printed under firmware 2.0.0 or the patch, for 2.3.1; on
    // any other firmware these registers may mean something else.
    if (!runs231(info)) {
        return endWithMessage("Restore needs firmware 2.3.1.\n");
    }
    CameraIdentity camera{};
    std::snprintf(camera.pon, sizeof camera.pon, "%s", ponText(info.ponIndex));
    camera.serial = info.serial;
    // The file was checked before connecting; read again, it could only have
    // changed in the meantime, and then it is reported again.
    TranscriptScan scan = scanTranscript(path, &camera);
    if (!scan.valid) {
        return -1;
    }
    if (!scan.matched) {
        // Another camera's calibration must never be written into this one.
        say("No calibration table for this camera (PON %s, serial %d) in %s.\n", camera.pon,
            camera.serial, path);
        waitForReturn(QUIT);
        return -1;
    }
    RegisterTable now;
    initProtectedRegisters(now);
    if (readProtectedRegisters(*handle, now) == CaptureResult::ReadFailed) {
        waitForReturn(QUIT);
        return -1;
    }
    showComparison(path, scan, now);
    say("Write these values into the camera? (y/n)");
    char answer = readChoice();
    say("%s", SEPARATOR);
    if (answer != 'y') {
        say("The camera was not changed.\n");
        return -1;
    }
    // Without the console the user would not see what happened to the camera.
    if (outputFailed()) {
        sayError("q713-restore: standard output failed; the camera was not changed.\n");
        return -1;
    }
    // The same three steps as the update tool's; the read-back decides.
    restoreCalibration(*handle, scan.match);
    if (stopRequested()) {
        return -1;
    }
    say("%s", SEPARATOR);
    return verify(handle, scan.match);
}

}  // namespace

int runRestore(const char* path) {
    // Without the camera library there is nothing to restore with.
    if (!loadCameraLibrary()) {
        waitForReturn(QUIT);
        return -1;
    }
    // A file that does not hold what it should is refused before any camera
    // is touched.
    if (!scanTranscript(path, nullptr).valid) {
        return -1;
    }
    KVXinitConfig(&deviceConfig.config);
    printBanner();
    say("Opening device...");
    KvxHandle kvxHandle = nullptr;
    if (!connectCamera(&deviceConfig.config, &kvxHandle)) {
        return -1;
    }
    say("done.\n");
    say("%s", SEPARATOR);
    VersionInfo versionInfo{};
    if (readVersionInfo(kvxHandle, &versionInfo) != 0) {
        waitForReturn(IDENTIFICATION_FAILED);
        return -1;
    }
    say("%s", SEPARATOR);
    return restoreCamera(&kvxHandle, versionInfo, path);
}
