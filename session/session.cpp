// The start of a run and the session with a camera, as both tools have them.
#include "session/session.h"

#include "camera/firmware.h"
#include "camera/library.h"
#include "console/console.h"

#ifndef KVX_CONFIG_BYTES
#define KVX_CONFIG_BYTES 4096
#endif
static_assert(KVX_CONFIG_BYTES >= 4096 && KVX_CONFIG_BYTES >= sizeof(KvxConfig),
              "KVX_CONFIG_BYTES must leave the library at least 4096 bytes");

namespace {

// Room for the library's configuration record: the maker's library may fill
// more than the KvxConfig its header declares.
union ConfigRecord {
    KvxConfig config;
    alignas(16) unsigned char bytes[KVX_CONFIG_BYTES];
};

// Filled once and handed unchanged to every connection of the run.
ConfigRecord configRecord;

// The line above and below a banner, exactly as wide as the banner's text.
constexpr char BANNER_FRAME[] = "******************************************************\n";

void printBanner(Tool tool) {
    say("%s", BANNER_FRAME);
    if (tool == Tool::Update) {
        say("* Zentrovique Lumivor-Q713/ORB-NX Update Tool v%d.%d.%d *\n", TOOL_VERSION[0],
            TOOL_VERSION[1], TOOL_VERSION[2]);
    } else {
        say("* Zentrovique Lumivor-Q713/ORB-NX Restore Tool %d.%d.%d *\n", TOOL_VERSION[0],
            TOOL_VERSION[1], TOOL_VERSION[2]);
    }
    say("%s", BANNER_FRAME);
}

// False when the run must end: input ended before anyone confirmed the reboot
// (writing calibration into a camera that may not have restarted is unsafe),
// or the user gave up reconnecting.
bool rebootStep(KvxHandle* kvxHandle, KvxConfig* deviceConfig, const char* message) {
    // The camera drops the link when it restarts: a new one is opened after.
    KVXclose(kvxHandle);
    say("%s", SEPARATOR);
    // One line answers the prompt, so nothing typed here confirms a later reboot.
    if (!waitForLine(message)) {
        return false;
    }
    if (!connectCamera(deviceConfig, kvxHandle)) {
        return false;
    }
    say("%s", SEPARATOR);
    return true;
}

}  // namespace

bool startLibrary() {
    if (!loadCameraLibrary()) {
        waitToQuit();
        return false;
    }
    return true;
}

KvxConfig* startSession(Tool tool) {
    KVXinitConfig(&configRecord.config);
    printBanner(tool);
    // Standard error, so the console text of a practice run reads as a real one.
    if (simulatedCameraLibrary()) {
        sayError("Training: simulated camera library, no real camera is changed.\n");
    }
    return &configRecord.config;
}

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

bool identifyCamera(KvxHandle handle, VersionInfo* info) {
    if (readVersionInfo(handle, info) != 0) {
        waitForReturn("Failed to get Camera version information!\nHit <return> to quit");
        return false;
    }
    return true;
}

bool openCamera(KvxConfig* config, KvxHandle* handle, VersionInfo* info) {
    say("Opening device...");
    if (!connectCamera(config, handle)) {
        return false;
    }
    say("done.\n");
    say("%s", SEPARATOR);
    if (!identifyCamera(*handle, info)) {
        return false;
    }
    say("%s", SEPARATOR);
    return true;
}

LoadOutcome loadAndReboot(KvxHandle* kvxHandle, KvxConfig* deviceConfig, const char* fileName,
                          const char* rebootMessage, const char* lookedIn) {
    bool loaded = loadFirmware(*kvxHandle, fileName, lookedIn);
    // An interrupt held back during the load ends the run after it: the
    // camera took the file all the same.
    if (tellStop()) {
        return loaded ? LoadOutcome::EndedAfterLoad : LoadOutcome::EndedAtLoad;
    }
    if (!loaded) {
        waitToQuit();
        return LoadOutcome::EndedAtLoad;
    }
    return rebootStep(kvxHandle, deviceConfig, rebootMessage) ? LoadOutcome::Reconnected
                                                              : LoadOutcome::EndedAfterLoad;
}

void waitToQuit() {
    waitForReturn("Hit <return> to quit.\n");
}
