// Capturing the calibration values from a camera that still runs its old firmware.
#ifndef CALIBRATION_CAPTURE_H
#define CALIBRATION_CAPTURE_H

#include "calibration/registers.h"
#include "camera/KvxQ713.h"

/// What the direct reads of the protected registers gave.
enum class CaptureResult { Captured, NothingCaptured, ReadFailed };

/// Reads the table's fourteen registers directly, storing the nonzero ones.
/// A failed read is reported and the later rows are not read.
CaptureResult readProtectedRegisters(KvxHandle handle, RegisterTable& table);

/// Files the distance offset of each of the twelve measurement sequences under
/// the row of its modulation frequency, first nonzero offset winning; every
/// sequence is visited, and ReadFailed when any of its reads failed.
CaptureResult findSequenceDistanceOffsets(KvxHandle handle, RegisterTable& table);

#endif
