// Loading a firmware file into the connected camera.
#ifndef CAMERA_FIRMWARE_H
#define CAMERA_FIRMWARE_H

#include <cstdint>

#include "camera/KvxQ713.h"

/// Firmware release 2.3.1, the last load of every update.
extern const char* const FIRMWARE_FILE;
/// The patch that cameras with the 26.02.2013 release need before 2.3.1.
extern const char* const PATCH_FILE;

/// Has the library load the file name into the camera, showing its progress;
/// true when the firmware was written. An interrupt during the load is held
/// back, and with one already waiting nothing is loaded (see tellStop).
/// lookedIn, when given, names the folders a "File not found" was looked for in.
bool loadFirmware(KvxHandle handle, const char* fileName, const char* lookedIn = nullptr);

/// The library's progress callback: hands one progress line to the writer
/// (camera/progress.h), which prints it; always 0.
int32_t printProgress(int32_t status, uint8_t percentage);

#endif
