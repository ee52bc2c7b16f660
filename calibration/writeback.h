// Writing the calibration values back into a camera that runs its new firmware.
#ifndef CALIBRATION_WRITEBACK_H
#define CALIBRATION_WRITEBACK_H

#include <cstdint>

#include "calibration/registers.h"
#include "camera/KvxQ713.h"

/// Arms the camera for exactly one flash command (register 20 or 54).
constexpr uint32_t FLASH_MAGIC = 0x4B525137;

/// Writes all fourteen rows, zeros included; false at the first failed write.
bool writeProtectedRegisters(KvxHandle handle, const RegisterTable& table);

/// Has the camera store its protected registers in flash; true when accepted.
bool saveProtectedRegisters(KvxHandle handle);

/// Has the camera reset its register map; true when accepted.
bool resetRegisterMap(KvxHandle handle);

/// Which of the three write-back steps the camera accepted.
struct WriteBackSteps {
    bool written;
    bool saved;
    bool reset;
};

/// True when all three steps succeeded: only then does the flash hold the table.
bool allWrittenBack(const WriteBackSteps& steps);

/// Writes the table, stores it in flash and resets the register map: all
/// three run, in this order, and an interrupt is held back until the last
/// returns; with one already waiting none runs (see tellStop).
WriteBackSteps writeBackCalibration(KvxHandle handle, const RegisterTable& table);

#endif
