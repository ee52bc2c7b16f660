// Firmware image parser and writer; see image.h for the format. The parser
// is fed untrusted files, so it reads no byte past size.
#include "simcam/image.h"

#include <stdio.h>
#include <string.h>

const KnownImage kKnownImages[2] = {
    {"20151028_Lumivor-Q713_v2.3.1.bin", kFirmware231},
    {"20140827_Lumivor-Q713_v0.0.0_patch.bin", kFirmwarePatch},
};

namespace {

constexpr size_t kCrcFrom = 18;    // the checksum covers what follows "KVXFWIMG <crc> "
constexpr size_t kMaxHeader = 48;  // the longest header line is 44 bytes

// The one way to write a header: an image must match it byte for byte.
int writeHeader(char* out, uint32_t crc, FirmwareId id, uint32_t length) {
    return snprintf(out, kMaxHeader + 1, "KVXFWIMG %08x %u.%u.%u %02x.%02x.%04x %u\n", crc,
                    versionMajor(id.version), versionMinor(id.version), versionNonfunc(id.version),
                    id.release >> 24, (id.release >> 16) & 0xFF, id.release & 0xFFFF, length);
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

ImageStatus imageParse(const uint8_t* data, size_t size, FirmwareId* id) {
    if (data == nullptr || size < 9) {
        return kImageTruncated;
    }
    if (memcmp(data, "KVXFWIMG ", 9) != 0) {
        return kImageBadMagic;
    }
    const void* newline = memchr(data, '\n', size < kMaxHeader ? size : kMaxHeader);
    if (newline == nullptr) {
        return size < kMaxHeader ? kImageTruncated : kImageBadHeader;
    }
    size_t headerSize = static_cast<size_t>(static_cast<const uint8_t*>(newline) - data) + 1;
    char header[kMaxHeader + 1];
    memcpy(header, data, headerSize);
    header[headerSize] = '\0';
    unsigned crc = 0;
    unsigned length = 0;
    char version[16];
    char release[16];
    char again[kMaxHeader + 1];
    if (sscanf(header, "KVXFWIMG %8x %15s %15s %5u", &crc, version, release, &length) != 4 ||
        !parseVersion(version, &id->version) || !parseRelease(release, &id->release) ||
        writeHeader(again, crc, *id, length) != static_cast<int>(headerSize) ||
        strcmp(again, header) != 0) {
        return kImageBadHeader;
    }
    if (size > kImageMaxSize || headerSize + length > kImageMaxSize || size > headerSize + length) {
        return kImageBadLength;
    }
    if (size < headerSize + length) {
        return kImageTruncated;
    }
    return crc32(data + kCrcFrom, size - kCrcFrom) == crc ? kImageOk : kImageBadChecksum;
}

size_t imageBuild(FirmwareId id, uint32_t payloadSize, uint8_t* out, size_t capacity) {
    if (out == nullptr || payloadSize > kImageMaxSize) {
        return 0;
    }
    char header[kMaxHeader + 1];
    size_t headerSize = static_cast<size_t>(writeHeader(header, 0, id, payloadSize));
    size_t total = headerSize + payloadSize;
    if (total > kImageMaxSize || total > capacity) {
        return 0;
    }
    memcpy(out, header, headerSize);
    uint32_t state = (id.version << 16) ^ id.release ^ 0x9E3779B9u;  // never 0 for our images
    for (uint32_t i = 0; i < payloadSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[headerSize + i] = static_cast<uint8_t>(state);
    }
    writeHeader(header, crc32(out + kCrcFrom, total - kCrcFrom), id, payloadSize);
    memcpy(out, header, headerSize);
    return total;
}

int imageWriteKnown(const char* dir) {
    uint8_t image[kMaxHeader + kImagePayloadSize];
    char path[1024];
    for (const KnownImage& known : kKnownImages) {
        size_t size = imageBuild(known.id, kImagePayloadSize, image, sizeof image);
        int length = snprintf(path, sizeof path, "%s/%s", dir, known.fileName);
        FILE* file =
            length > 0 && static_cast<size_t>(length) < sizeof path ? fopen(path, "wb") : nullptr;
        bool written = file != nullptr && fwrite(image, 1, size, file) == size;
        if (file == nullptr || fclose(file) != 0 || !written) {
            return -1;
        }
    }
    return 0;
}
