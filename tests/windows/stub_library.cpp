// Stand-ins for KvxQ713.dll that a tool must refuse to use: built without
// KVXopen (STUB_WITHOUT_OPEN), needing a DLL the test leaves out
// (STUB_NEEDS_HELPER), or for the other architecture. A call that reaches one
// says so on standard output, where the tests never want to see it.
#include <stdio.h>

#include "camera/KvxQ713.h"

#ifdef STUB_NEEDS_HELPER
extern "C" __declspec(dllimport) int32_t kvxStubHelper();
#endif

namespace {

int32_t called(const char* name) {
    printf("stub %s called\n", name);
    fflush(stdout);
    return -1;
}

}  // namespace

int32_t KVXinitConfig(KvxConfig*) {
#ifdef STUB_NEEDS_HELPER
    kvxStubHelper();
#endif
    return called("KVXinitConfig");
}

#ifndef STUB_WITHOUT_OPEN
int32_t KVXopen(KvxConfig*, KvxHandle*) {
    return called("KVXopen");
}
#endif

int32_t KVXclose(KvxHandle*) {
    return called("KVXclose");
}

int32_t KVXreadRegister(KvxHandle, uint32_t, uint32_t*, uint32_t*) {
    return called("KVXreadRegister");
}

int32_t KVXwriteRegister(KvxHandle, uint32_t, uint32_t*, uint32_t*) {
    return called("KVXwriteRegister");
}

int32_t KVXfirmwareUpdate(KvxHandle, const uint8_t*, KvxProgressCallback) {
    return called("KVXfirmwareUpdate");
}
