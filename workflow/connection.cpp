// Connecting to the camera, with the retry-or-quit prompt after each failure.
#include "workflow/connection.h"

#include "console/console.h"

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
