// The DLL that one stand-in KvxQ713.dll needs, left out where that one is tried.
#include <stdint.h>

extern "C" __declspec(dllexport) int32_t kvxStubHelper() {
    return 0;
}
