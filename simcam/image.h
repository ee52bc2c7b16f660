// Firmware images of the simulated camera: parser and writer over memory
// buffers, shared by the library, mkfirmware, the tests and fuzz targets.
//
// An image is one header line and its payload:
//   "KVXFWIMG <crc> <version> <release> <length>\n" then <length> bytes
// e.g. "KVXFWIMG 0a1b2c3d 2.3.1 28.10.2015 256\n". <crc> is 8 lower-case hex
// digits, the CRC-32 (zlib's) of every byte after "KVXFWIMG <crc> "; the
// version is M.m.n (0..31.0..31.0..63), the release a calendar day dd.mm.yyyy
// (both with no leading zeros beyond those), the length decimal. The file
// ends right after the payload, and holds at most kImageMaxSize bytes.
#ifndef SIMCAM_IMAGE_H
#define SIMCAM_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "simcam/register_map.h"

constexpr size_t kImageMaxSize = 65536;
constexpr uint32_t kImagePayloadSize = 256;  // what mkfirmware writes

enum ImageStatus {
    kImageOk,
    kImageTruncated,  // shorter than its header line or its length says
    kImageBadMagic,
    kImageBadHeader,  // not the header line above, version out of range, not a day
    kImageBadLength,  // bytes after the payload, or larger than kImageMaxSize
    kImageBadChecksum,
};

struct KnownImage {
    const char* fileName;
    FirmwareId id;
};

/// The two images mkfirmware writes: 2.3.1 and the patch.
extern const KnownImage kKnownImages[2];

/// The CRC-32 of zlib.
uint32_t crc32(const uint8_t* data, size_t size);
/// Checks an image and tells which firmware it installs.
ImageStatus imageParse(const uint8_t* data, size_t size, FirmwareId* id);
/// Writes an image with a deterministic payload; its size, or 0 if it does not fit.
size_t imageBuild(FirmwareId id, uint32_t payloadSize, uint8_t* out, size_t capacity);
/// Writes the known images into folder dir (which must exist); 0 on success.
int imageWriteKnown(const char* dir);

#endif
