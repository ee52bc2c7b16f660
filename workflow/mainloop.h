// The tool's outer loop: start-up and one pass per camera.
#ifndef WORKFLOW_MAINLOOP_H
#define WORKFLOW_MAINLOOP_H

/// Runs passes until the user quits; the process's exit status (0 only when
/// the user quits after a completed update, -1 otherwise).
int runMainLoop();

#endif
