// The camera library linked like any shared library, as on every system but
// Windows: nothing to load.
#include "camera/library.h"

#include <cstdint>

// Exported by the simulated camera library alone, never by the maker's; weak,
// so null when the linked library does not define it.
extern "C" int32_t q713SimulatedCamera(void) __attribute__((weak));

bool loadCameraLibrary() {
    return true;
}

bool simulatedCameraLibrary() {
    return q713SimulatedCamera != nullptr;
}
