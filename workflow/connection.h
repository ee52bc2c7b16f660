// Connecting to the camera, with the retry-or-quit prompt after each failure.
#ifndef WORKFLOW_CONNECTION_H
#define WORKFLOW_CONNECTION_H

#include "camera/KvxQ713.h"

/// Opens a connection, asking after each failure whether to retry; false when
/// the user gives up.
bool connectCamera(KvxConfig* config, KvxHandle* handle);

#endif
