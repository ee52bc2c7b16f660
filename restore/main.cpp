// Entry point of q713-restore: puts back the calibration that an interrupted
// update printed, from the saved console text of that update.
#include "console/console.h"
#include "restore/recovery.h"

#ifdef _WIN32
// The file's name as Windows passes it, in UTF-16: through main's argv a name
// with characters outside the ANSI code page would arrive as '?'.
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    // Both tools start their consoles here, first thing, before any file is opened.
    startConsole();
    if (argc != 2) {
        sayError(
            "usage: q713-restore TRANSCRIPT (a text file with the console text of "
            "q713-update)\n");
        return closeConsole(-1, false);
    }
    return closeConsole(runRestore(argv[1]), false);
}
