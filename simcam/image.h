// Firmware images of the simulated camera: parser and writer over memory
// buffers, shared by the library, mkfirmware, the tests and fuzz targets.
//
// Layout, integers little-endian:
//   offset  size  field
//   0       8     magic "KVXFWIMG"
//   8       1     version major (0..31)
//   9       1     version minor (0..31)
//   10      1     version nonfunc (0..63)
//   11      1     reserved, 0
//   12      4     release date, BCD 0xDDMMYYYY as in register 2
//   16      4     payload length N
//   20      N     payload
//   20+N    4     CRC-32 (the zlib/IEEE one) of bytes 0 .. 20+N-1
// The file holds exactly 24 + N bytes, at most kImageMaxSize.
#ifndef SIMCAM_IMAGE_H
#define SIMCAM_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "simcam/register_map.h"

constexpr size_t kImageHeaderSize = 20;
constexpr size_t kImageOverhead = kImageHeaderSize + 4;
constexpr size_t kImageMaxSize = 65536;
constexpr uint32_t kImagePayloadSize = 256;  // what mkfirmware writes

enum ImageStatus {
    kImageOk,
    kImageTruncated,  // shorter than its header or its payload length says
    kImageBadMagic,
    kImageBadHeader,  // version out of range, reserved byte set, not a date
    kImageBadLength,  // bytes after the checksum, or larger than kImageMaxSize
    kImageBadChecksum,
};

struct KnownImage {
    const char* fileName;
    FirmwareId id;
};

/// The two images mkfirmware writes: 2.3.1 and the patch.
extern const KnownImage kKnownImages[2];

uint32_t crc32(const uint8_t* data, size_t size);
/// Checks an image and tells which firmware it installs.
ImageStatus imageParse(const uint8_t* data, size_t size, FirmwareId* id);
/// Writes an image with a deterministic payload; its size, or 0 if it does not fit.
size_t imageBuild(FirmwareId id, uint32_t payloadSize, uint8_t* out, size_t capacity);
/// Writes the known images into folder dir (which must exist); 0 on success.
int imageWriteKnown(const char* dir);

#endif
