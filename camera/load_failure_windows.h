// Windows only: why KvxQ713.dll did not load, told on the console with what
// to do, from Windows' error and from the file itself where it can tell.
#ifndef CAMERA_LOAD_FAILURE_WINDOWS_H
#define CAMERA_LOAD_FAILURE_WINDOWS_H

#include <stdint.h>

#include "os/os.h"

/// Says that Windows could not load KvxQ713.dll, with its error and the advice
/// to copy all of the DLL's files.
void sayLoadFailed(uint32_t error);

/// Says why the DLL at dllPath did not load with error; folderUnits: the
/// length of its folder, up to the backslash before the DLL's name.
void sayWhyNotLoaded(const PathText* dllPath, int folderUnits, uint32_t error);

#endif
