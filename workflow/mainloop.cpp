// The pass loop of q713-update and its repeat-or-quit prompt.
#include "workflow/mainloop.h"

#include "console/console.h"
#include "session/session.h"
#include "workflow/updateplan.h"

namespace {

// Only a lower-case q or r is an answer.
bool repeatWanted() {
    for (;;) {
        say("Hit\n\tq to quit.\n");
        say("\tr to repeat.\n");
        char choice = readChoice();
        say("\r");
        if (choice == 'q' || choice == 'r') {
            return choice == 'r';
        }
    }
}

// One camera from connection to completion; false when the run must end.
bool runPass(KvxConfig* deviceConfig, KvxHandle* kvxHandle) {
    VersionInfo versionInfo{};
    if (!openCamera(deviceConfig, kvxHandle, &versionInfo)) {
        return false;
    }
    if (runUpdatePlan(*kvxHandle, versionInfo, deviceConfig) == UpdateOutcome::Ended) {
        return false;
    }
    say("%s", SEPARATOR);
    say("Closing connection...\n");
    KVXclose(kvxHandle);
    say("Firmware update done.\n");
    say("%s", SEPARATOR);
    return true;
}

}  // namespace

int runMainLoop() {
    if (!startLibrary()) {
        return -1;
    }
    KvxConfig* deviceConfig = startSession(Tool::Update);
    KvxHandle kvxHandle = nullptr;
    do {
        if (!runPass(deviceConfig, &kvxHandle)) {
            return -1;
        }
    } while (repeatWanted());
    return 0;
}
