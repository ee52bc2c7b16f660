// Entry point of q713-restore: puts back the calibration that an interrupted
// update printed, from the saved console text of that update.
#include "console/console.h"
#include "restore/recovery.h"

int main(int argc, char** argv) {
    startConsole();
    if (argc != 2) {
        sayError(
            "usage: q713-restore TRANSCRIPT (a text file with the console text of "
            "q713-update)\n");
        return closeConsole(-1, false);
    }
    return closeConsole(runRestore(argv[1]), false);
}
