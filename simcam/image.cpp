// Firmware image parser and writer, and the firmware identity as text; only
// real calendar days pass. The parser is fed untrusted files, so it reads no byte past size.
#include "simcam/image.h"

#include <stdio.h>
#include <string.h>

// Files of its own: a training folder never holds a file under the maker's
// names that could be mistaken for, or loaded as, a real image.
const KnownImage kKnownImages[2] = {
    {"20151028_Lumivor-Q713_v2.3.1.bin", "training-firmware-2.3.1.bin", kFirmware231},
    {"20140827_Lumivor-Q713_v0.0.0_patch.bin", "training-patch-0.0.0.bin", kFirmwarePatch},
};

const char* imageFileFor(const char* name) {
    for (const KnownImage& known : kKnownImages) {
        if (strcmp(name, known.makerName) == 0) {
            return known.fileName;
        }
    }
    return name;
}

namespace {

constexpr size_t kCrcFrom = 18;    // the checksum covers what follows "KVXFWIMG <crc> "
constexpr size_t kMaxHeader = 48;  // the longest header line is 44 bytes

// The one way to write a header: an image must match it byte for byte.
int writeHeader(char* out, uint32_t crc, FirmwareId id, uint32_t length) {
    return snprintf(out, kMaxHeader + 1, "KVXFWIMG %08x %u.%u.%u %02x.%02x.%04x %u\n", crc,
                    versionMajor(id.version), versionMinor(id.version), versionNonfunc(id.version),
                    id.release >> 24, (id.release >> 16) & 0xFF, id.release & 0xFFFF, length);
}

// "a.b.c" of decimal digits and nothing else, each within the width format gives it.
bool dotted(const char* text, const char* format, unsigned* v) {
    int end = 0;
    return strspn(text, "0123456789.") == strlen(text) &&
           sscanf(text, format, &v[0], &v[1], &v[2], &end) == 3 && text[end] == '\0';
}

}  // namespace

bool parseVersion(const char* text, uint32_t* word) {
    unsigned v[3];
    if (!dotted(text, "%2u.%2u.%2u%n", v) || v[0] > kMaxMajor || v[1] > kMaxMinor ||
        v[2] > kMaxNonfunc) {
        return false;
    }
    *word = versionWord(v[0], v[1], v[2]);
    return true;
}

bool parseRelease(const char* text, uint32_t* word) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned v[3];
    if (!dotted(text, "%2u.%2u.%4u%n", v) || v[2] < 1000 || v[1] < 1 || v[1] > 12) {
        return false;
    }
    bool leap = v[2] % 4 == 0 && (v[2] % 100 != 0 || v[2] % 400 == 0);
    if (v[0] < 1 || v[0] > kDays[v[1] - 1] + (v[1] == 2 && leap ? 1 : 0)) {
        return false;
    }
    *word = releaseWord(v[0], v[1], v[2]);
    return true;
}

// Four bits at a time from a 16-entry table: cheap, and still zlib's CRC-32.
uint32_t crc32(const uint8_t* data, size_t size) {
    static const uint32_t kNibble[16] = {0x00000000, 0x1DB71064, 0x3B6E20C8, 0x26D930AC,
                                         0x76DC4190, 0x6B6B51F4, 0x4DB26158, 0x5005713C,
                                         0xEDB88320, 0xF00F9344, 0xD6D6A3E8, 0xCB61B38C,
                                         0x9B64C2B0, 0x86D3D2D4, 0xA00AE278, 0xBDBDF21C};
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        crc = (crc >> 4) ^ kNibble[crc & 0xF];
        crc = (crc >> 4) ^ kNibble[crc & 0xF];
    }
    return ~crc;
}

// The fields are read leniently; writing them again the one way then catches any oddity.
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
    char version[kMaxHeader];
    char release[kMaxHeader];
    unsigned crc = 0;
    unsigned length = 0;
    int fields = sscanf(header, "KVXFWIMG %8x %47s %47s %u", &crc, version, release, &length);
    char again[kMaxHeader + 1];
    if (fields != 4 || !parseVersion(version, &id->version) ||
        !parseRelease(release, &id->release) ||
        writeHeader(again, crc, *id, length) != static_cast<int>(headerSize) ||
        memcmp(again, data, headerSize) != 0) {
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
