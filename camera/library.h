// Reaching the maker's camera library: on Windows the tools load KvxQ713.dll
// themselves (camera/library_windows.cpp), so that every way it can fail is
// explained on the console (camera/load_failure_windows.cpp); elsewhere it is
// linked like any shared library (camera/library_linked.cpp).
#ifndef CAMERA_LIBRARY_H
#define CAMERA_LIBRARY_H

/// Readies the camera library: on Windows loads KvxQ713.dll from the exe's own
/// folder, the DLLs it needs only from there and Windows' own folders, and
/// finds its six functions; false, after a message saying what is wrong and
/// what to do, when it cannot. Call before any function of camera/KvxQ713.h.
bool loadCameraLibrary();

/// True when the camera library is the simulated one of the training package.
bool simulatedCameraLibrary();

#endif
