// libFuzzer target: the simulated camera's firmware image parser on any bytes;
// whatever it accepts, the writer must write again with the same header.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "simcam/image.h"

namespace {

uint8_t gRebuilt[kImageMaxSize];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FirmwareId id = {0, 0};
    if (imageParse(data, size, &id) != kImageOk) {
        return 0;
    }
    // An accepted image has its header line; the checksum (bytes 9..16) depends on the payload.
    size_t header =
        static_cast<size_t>(static_cast<const uint8_t*>(memchr(data, '\n', size)) - data) + 1;
    FirmwareId again = {0, 0};
    size_t built = imageBuild(id, static_cast<uint32_t>(size - header), gRebuilt, sizeof gRebuilt);
    if (built != size || imageParse(gRebuilt, built, &again) != kImageOk ||
        id.version != again.version || id.release != again.release ||
        memcmp(gRebuilt, data, 9) != 0 || memcmp(gRebuilt + 17, data + 17, header - 17) != 0) {
        __builtin_trap();
    }
    return 0;
}
