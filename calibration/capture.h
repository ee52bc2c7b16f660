// Capturing the calibration values from a camera that still runs its old firmware.
#ifndef CALIBRATION_CAPTURE_H
#define CALIBRATION_CAPTURE_H

#include "calibration/registers.h"
#include "camera/KvxQ713.h"

/// Reads the table's fourteen registers directly, storing the nonzero ones;
/// true when all reads worked and one value was stored. A failed read is
/// reported, the user is told to quit and waited for, *readFailed is set and
/// the later rows are not read.
bool readProtectedRegisters(KvxHandle handle, RegisterTable& table, bool* readFailed);

/// Files the distance offset of each of the twelve measurement sequences under
/// the row of its modulation frequency, first nonzero offset winning; true
/// when an offset was stored.
bool findSequenceDistanceOffsets(KvxHandle handle, RegisterTable& table);

#endif
