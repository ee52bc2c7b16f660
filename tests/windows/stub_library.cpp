// Stand-ins for KvxQ713.dll that the tools must refuse: built without KVXopen
// (STUB_WITHOUT_OPEN), needing a DLL the test leaves out or puts where it must
// not be found (STUB_NEEDS_HELPER), failing to start (STUB_FAILING_DLLMAIN),
// or for the other architecture. No function here is ever to be called.
#include "camera/KvxQ713.h"

#ifdef STUB_FAILING_DLLMAIN
#include <windows.h>

// As a maker's DLL does when its driver is not installed.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    return reason != DLL_PROCESS_ATTACH;
}
#endif

#ifdef STUB_NEEDS_HELPER
extern "C" __declspec(dllimport) int32_t kvxStubHelper();
#else
#define kvxStubHelper() (-1)
#endif

#define STUB(name, ...)         \
    int32_t name(__VA_ARGS__) { \
        return kvxStubHelper(); \
    }

STUB(KVXinitConfig, KvxConfig*)
#ifndef STUB_WITHOUT_OPEN
STUB(KVXopen, KvxConfig*, KvxHandle*)
#endif
STUB(KVXclose, KvxHandle*)
STUB(KVXreadRegister, KvxHandle, uint32_t, uint32_t*, uint32_t*)
STUB(KVXwriteRegister, KvxHandle, uint32_t, uint32_t*, uint32_t*)
STUB(KVXfirmwareUpdate, KvxHandle, const uint8_t*, KvxProgressCallback)
