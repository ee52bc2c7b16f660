// The update of one identified camera: path choice, capture, firmware loads
// with reboots, write-back and the final identification.
#ifndef WORKFLOW_UPDATEPLAN_H
#define WORKFLOW_UPDATEPLAN_H

#include "camera/KvxQ713.h"
#include "camera/identification.h"

enum class UpdateOutcome { Completed, Ended };

/// Brings the camera behind kvxHandle (open) to firmware 2.3.1 and writes its
/// calibration back, closing and reopening the connection around each reboot.
/// Ended: the run must end; every message has been printed.
UpdateOutcome runUpdatePlan(KvxHandle* kvxHandle, const VersionInfo& versionInfo,
                            KvxConfig* deviceConfig);

#endif
