// Reaching the maker's camera library: on Windows the tools load KvxQ713.dll
// themselves, so that every way it can fail is explained on the console.
#ifndef CAMERA_LIBRARY_H
#define CAMERA_LIBRARY_H

#include <stdint.h>

#ifdef _WIN32
/// Loads KvxQ713.dll from the exe's own folder, the DLLs it needs only from
/// there and Windows' own folders, and finds its six functions; false, after
/// a message saying what is wrong and what to do, when it cannot.
/// Call before any function of camera/KvxQ713.h.
bool loadCameraLibrary();

/// True when the loaded KvxQ713.dll is the simulated library of the training package.
bool simulatedCameraLibrary();
#else
/// Elsewhere the library is linked like any shared library: nothing to load.
inline bool loadCameraLibrary() {
    return true;
}

// Exported by the simulated camera library alone, never by the maker's; weak,
// so null when the linked library does not define it.
extern "C" int32_t q713SimulatedCamera(void) __attribute__((weak));

/// True when the linked camera library is the simulated one.
inline bool simulatedCameraLibrary() {
    return q713SimulatedCamera != nullptr;
}
#endif

#endif
