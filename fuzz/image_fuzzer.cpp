// libFuzzer target: the simulated camera's firmware image parser on any bytes;
// whatever it accepts, the writer must write again with the same header.
#include <stddef.h>
#include <stdint.h>

#include "simcam/image.h"

namespace {

uint8_t gRebuilt[kImageMaxSize];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FirmwareId id = {0, 0};
    if (imageParse(data, size, &id) != kImageOk) {
        return 0;
    }
    FirmwareId again = {0, 0};
    size_t built =
        imageBuild(id, static_cast<uint32_t>(size - kImageOverhead), gRebuilt, sizeof gRebuilt);
    if (built != size || imageParse(gRebuilt, built, &again) != kImageOk ||
        !sameFirmware(id, again)) {
        __builtin_trap();
    }
    return 0;
}
