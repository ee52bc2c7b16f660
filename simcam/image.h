// Firmware images of the simulated camera, one header line and a payload as
// simcam/README.md describes: parser and writer over memory buffers, and the
// version and release text that image headers and profiles share.
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
    const char* makerName;  // the bare name the tools hand the library
    const char* fileName;   // the file the simulated library reads for it
    FirmwareId id;
};

/// The two images mkfirmware writes: 2.3.1 and the patch.
extern const KnownImage kKnownImages[2];

/// The file the simulated library loads for name: its own file for one of the
/// maker's bare names, name itself otherwise.
const char* imageFileFor(const char* name);

/// Reads "M.m.n" within 0..31.0..31.0..63 into a register 56 word.
bool parseVersion(const char* text, uint32_t* word);
/// Reads "dd.mm.yyyy", a real calendar day, into a register 2 word.
bool parseRelease(const char* text, uint32_t* word);
/// The CRC-32 of zlib.
uint32_t crc32(const uint8_t* data, size_t size);
/// Checks an image and tells which firmware it installs.
ImageStatus imageParse(const uint8_t* data, size_t size, FirmwareId* id);
/// Writes an image with a deterministic payload; its size, or 0 if it does not fit.
size_t imageBuild(FirmwareId id, uint32_t payloadSize, uint8_t* out, size_t capacity);
/// Writes the known images into folder dir (which must exist); 0 on success.
int imageWriteKnown(const char* dir);

#endif
