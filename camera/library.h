// Reaching the maker's camera library: on Windows the tools load KvxQ713.dll
// themselves, so that every way it can fail is explained on the console.
#ifndef CAMERA_LIBRARY_H
#define CAMERA_LIBRARY_H

#ifdef _WIN32
/// Loads KvxQ713.dll from the exe's own folder, the DLLs it needs only from
/// there and Windows' own folders, and finds its six functions; false, after
/// a message saying what is wrong and what to do, when it cannot.
/// Call before any function of camera/KvxQ713.h.
bool loadCameraLibrary();
#else
/// Elsewhere the library is linked like any shared library: nothing to load.
inline bool loadCameraLibrary() {
    return true;
}
#endif

#endif
