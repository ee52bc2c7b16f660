// The tool's outer loop: start-up and one pass per camera.
#ifndef WORKFLOW_MAINLOOP_H
#define WORKFLOW_MAINLOOP_H

/// Starts the session and runs passes until the user quits; the process's exit status (0 only when
/// the user quits after a completed update, -1 otherwise).
/// REQUIRES: startConsole (console/console.h) called.
int runMainLoop();

#endif
