// Entry point of q713-update; command-line arguments are ignored.
#include "console/console.h"
#include "workflow/mainloop.h"

int main() {
    // Both tools start their consoles here, first thing, before any file is opened.
    startConsole();
    int status = runMainLoop();
    // 0 only when the technician quit after a completed update.
    return closeConsole(status, status == 0);
}
