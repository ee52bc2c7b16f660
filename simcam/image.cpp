// Firmware image parser and writer; see image.h for the layout. The parser
// is fed untrusted files, so every read is checked against the size first.
#include "simcam/image.h"

#include <stdio.h>
#include <string.h>

const KnownImage kKnownImages[2] = {
    {"20151028_Lumivor-Q713_v2.3.1.bin", kFirmware231},
    {"20140827_Lumivor-Q713_v0.0.0_patch.bin", kFirmwarePatch},
};

namespace {

const uint8_t kMagic[8] = {'K', 'V', 'X', 'F', 'W', 'I', 'M', 'G'};

uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void writeLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

bool headerValid(const uint8_t* data, FirmwareId* id) {
    if (data[8] > kMaxMajor || data[9] > kMaxMinor || data[10] > kMaxNonfunc || data[11] != 0) {
        return false;
    }
    id->version = versionWord(data[8], data[9], data[10]);
    id->release = readLe32(data + 12);
    return releaseWordValid(id->release);
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
    if (data == nullptr || size < kImageOverhead) {
        return kImageTruncated;
    }
    if (memcmp(data, kMagic, sizeof kMagic) != 0) {
        return kImageBadMagic;
    }
    if (!headerValid(data, id)) {
        return kImageBadHeader;
    }
    uint32_t payload = readLe32(data + 16);
    if (size > kImageMaxSize || payload > kImageMaxSize - kImageOverhead) {
        return kImageBadLength;
    }
    if (size < kImageOverhead + payload) {
        return kImageTruncated;
    }
    if (size > kImageOverhead + payload) {
        return kImageBadLength;
    }
    size_t covered = kImageHeaderSize + payload;
    return crc32(data, covered) == readLe32(data + covered) ? kImageOk : kImageBadChecksum;
}

size_t imageBuild(FirmwareId id, uint32_t payloadSize, uint8_t* out, size_t capacity) {
    size_t total = kImageOverhead + payloadSize;
    if (out == nullptr || payloadSize > kImageMaxSize - kImageOverhead || total > capacity) {
        return 0;
    }
    memcpy(out, kMagic, sizeof kMagic);
    out[8] = static_cast<uint8_t>(versionMajor(id.version));
    out[9] = static_cast<uint8_t>(versionMinor(id.version));
    out[10] = static_cast<uint8_t>(versionNonfunc(id.version));
    out[11] = 0;
    writeLe32(out + 12, id.release);
    writeLe32(out + 16, payloadSize);
    uint32_t state = (id.version << 16) ^ id.release ^ 0x9E3779B9u;  // never 0 for our images
    for (uint32_t i = 0; i < payloadSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out[kImageHeaderSize + i] = static_cast<uint8_t>(state);
    }
    writeLe32(out + kImageHeaderSize + payloadSize, crc32(out, kImageHeaderSize + payloadSize));
    return total;
}

namespace {

int writeFile(const char* path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr) {
        return -1;
    }
    bool written = fwrite(data, 1, size, file) == size;
    return (fclose(file) == 0 && written) ? 0 : -1;
}

}  // namespace

int imageWriteKnown(const char* dir) {
    uint8_t image[kImageOverhead + kImagePayloadSize];
    char path[1024];
    for (const KnownImage& known : kKnownImages) {
        size_t size = imageBuild(known.id, kImagePayloadSize, image, sizeof image);
        int length = snprintf(path, sizeof path, "%s/%s", dir, known.fileName);
        if (size == 0 || length < 0 || static_cast<size_t>(length) >= sizeof path ||
            writeFile(path, image, size) != 0) {
            return -1;
        }
    }
    return 0;
}
