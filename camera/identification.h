// Reading and showing the identity of the connected camera.
#ifndef CAMERA_IDENTIFICATION_H
#define CAMERA_IDENTIFICATION_H

#include <cstdint>

#include "camera/KvxQ713.h"

/// The camera's identity, decoded from registers 2, 56 and 1.
struct VersionInfo {
    int32_t year;  // release date fields are BCD: 0x2013 is 2013
    int32_t month;
    int32_t day;
    int32_t nonfunc;  // the third number of the firmware version
    int32_t minor;
    int32_t major;
    int32_t serial;
    int32_t ponIndex;  // row of the product order number table
};

/// The product order number text of a ponIndex, as the PON line shows it.
const char* ponText(int32_t ponIndex);

/// False when the PON line shows unknownPON: cameras with such PONs cannot be
/// told apart by it.
bool ponKnown(int32_t ponIndex);

/// True when info names firmware 2.3.1 (major, minor and nonfunc; not the date).
bool runs231(const VersionInfo& info);

/// True when info names the patch, firmware 0.0.0 (not the date).
bool runsPatch(const VersionInfo& info);

/// Reads the identity into info and prints its four lines; 0, or -1 (nothing
/// printed) when a register could not be read.
int readVersionInfo(KvxHandle handle, VersionInfo* info);

#endif
