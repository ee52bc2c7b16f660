// Start-up, the pass loop and the connection prompt.
#include "workflow/mainloop.h"

#include "camera/identification.h"
#include "camera/library.h"
#include "console/console.h"
#include "workflow/connection.h"
#include "workflow/updateplan.h"

namespace {

// Filled once and handed unchanged to every connection of the run.
ConfigRecord deviceConfig;

void printBanner() {
    say("%s", BANNER_FRAME);
    say("* Zentrovique Lumivor-Q713/ORB-NX Update Tool v%d.%d.%d *\n", TOOL_VERSION[0],
        TOOL_VERSION[1], TOOL_VERSION[2]);
    say("%s", BANNER_FRAME);
}

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
bool runPass(KvxHandle* kvxHandle) {
    say("Opening device...");
    if (!connectCamera(&deviceConfig.config, kvxHandle)) {
        return false;
    }
    say("done.\n");
    say("%s", SEPARATOR);
    VersionInfo versionInfo{};
    if (readVersionInfo(*kvxHandle, &versionInfo) != 0) {
        waitForReturn(IDENTIFICATION_FAILED);
        return false;
    }
    say("%s", SEPARATOR);
    if (runUpdatePlan(*kvxHandle, versionInfo, &deviceConfig.config) == UpdateOutcome::Ended) {
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
    startConsole();
    if (!loadCameraLibrary()) {
        waitForReturn("Hit <return> to quit.\n");
        return -1;
    }
    KVXinitConfig(&deviceConfig.config);
    printBanner();
    KvxHandle kvxHandle = nullptr;
    do {
        if (!runPass(&kvxHandle)) {
            return -1;
        }
    } while (repeatWanted());
    return 0;
}
