// The camera maker's library: the only way the tool reaches a camera.
// Any library with this C interface (the maker's, the simulated one, a test
// double) can take its place without touching the tool: linked, or on Windows
// loaded as KvxQ713.dll by camera/library_windows.cpp.
#ifndef KVXQ713_H
#define KVXQ713_H

#include <stdint.h>

#if defined(_WIN32) && defined(KVX_BUILDING_LIBRARY)
#define KVX_API __declspec(dllexport)
#elif defined(_WIN32)
// The tools load the DLL themselves: on Windows these names are the forwarders
// of camera/library_windows.cpp.
#define KVX_API
#else
#define KVX_API __attribute__((visibility("default")))
#endif

// A maker's 32-bit DLL may use __stdcall. The tools always see the default
// convention (camera/library_windows.cpp calls the DLL as it was built); KVX_STDCALL
// builds the simulated library that way.
#if defined(KVX_STDCALL) && defined(_WIN32) && !defined(_WIN64)
#define KVX_CALL __stdcall
#else
#define KVX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// The library's configuration record; only the library reads or writes it.
typedef struct KvxConfig {
    uint32_t interfaceIndex;
    uint32_t timeoutMs;
    uint8_t reserved[56];
} KvxConfig;

typedef void* KvxHandle;

/// Called while a firmware load runs; the result is the callback's own status.
typedef int32_t(KVX_CALL* KvxProgressCallback)(int32_t status, uint8_t percentage);

/// Fills config with the library's defaults.
KVX_API int32_t KVX_CALL KVXinitConfig(KvxConfig* config);
/// Connects to the camera; 0 and a valid handle on success.
KVX_API int32_t KVX_CALL KVXopen(KvxConfig* config, KvxHandle* handle);
/// Closes the connection behind handle.
KVX_API int32_t KVX_CALL KVXclose(KvxHandle* handle);
/// Reads the register at address into data; registerCount is null for one.
KVX_API int32_t KVX_CALL KVXreadRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                                         uint32_t* registerCount);
/// Writes *registerCount words from data starting at address.
KVX_API int32_t KVX_CALL KVXwriteRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                                          uint32_t* registerCount);
/// Loads the firmware file named by the bare name filename; -1: no such file.
KVX_API int32_t KVX_CALL KVXfirmwareUpdate(KvxHandle handle, const uint8_t* filename,
                                           KvxProgressCallback progress);

#ifdef __cplusplus
}
#endif

#endif
