// The tool's outer loop: start-up, one pass per camera, and connecting.
#ifndef WORKFLOW_MAINLOOP_H
#define WORKFLOW_MAINLOOP_H

#include "camera/KvxQ713.h"

/// Opens a connection, asking after each failure whether to retry; false when
/// the user gives up.
bool connectCamera(KvxConfig* config, KvxHandle* handle);

/// Runs passes until the user quits; the process's exit status (0 only when
/// the user quits after a completed update, -1 otherwise).
int runMainLoop();

#endif
