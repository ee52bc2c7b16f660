// Register map of the simulated camera: what its modules share of the addresses
// and word layouts, and the firmware identity that registers 2 and 56 carry.
#ifndef SIMCAM_REGISTER_MAP_H
#define SIMCAM_REGISTER_MAP_H

#include <stdint.h>

// Lets the compiler check the formats of printf-like functions.
#define SIMCAM_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))

constexpr uint32_t kRegisterCount = 1024;
constexpr uint32_t kRegIdentity = 1;
constexpr uint32_t kRegRelease = 2;
constexpr uint32_t kRegVersion = 56;

constexpr uint32_t kProtectedCount = 14;
/// The calibration registers the flash keeps, in flash order.
constexpr uint32_t kProtectedRegisters[kProtectedCount] = {26,  27,  28,  29,  30,  31,  32,
                                                           120, 121, 122, 123, 124, 125, 126};

constexpr uint32_t kMaxMajor = 31;
constexpr uint32_t kMaxMinor = 31;
constexpr uint32_t kMaxNonfunc = 63;

/// Firmware as the camera reports it: the register 56 and register 2 words.
struct FirmwareId {
    uint32_t version;
    uint32_t release;
};

constexpr uint32_t versionWord(uint32_t major, uint32_t minor, uint32_t nonfunc) {
    return (major << 11) | (minor << 6) | nonfunc;
}
constexpr uint32_t versionMajor(uint32_t word) {
    return (word >> 11) & kMaxMajor;
}
constexpr uint32_t versionMinor(uint32_t word) {
    return (word >> 6) & kMaxMinor;
}
constexpr uint32_t versionNonfunc(uint32_t word) {
    return word & kMaxNonfunc;
}

constexpr uint32_t bcd(uint32_t value, uint32_t digits) {
    return digits == 0 ? 0 : (bcd(value / 10, digits - 1) << 4) | (value % 10);
}

/// Release date as 0xDDMMYYYY in BCD: 26.02.2013 is 0x26022013.
constexpr uint32_t releaseWord(uint32_t day, uint32_t month, uint32_t year) {
    return (bcd(day, 2) << 24) | (bcd(month, 2) << 16) | bcd(year, 4);
}

constexpr FirmwareId kFirmware231 = {versionWord(2, 3, 1), releaseWord(28, 10, 2015)};
constexpr FirmwareId kFirmwarePatch = {versionWord(0, 0, 0), releaseWord(27, 8, 2014)};

#endif
