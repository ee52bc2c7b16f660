// Register map of the simulated camera: the few helpers that are not
// constant expressions.
#include "simcam/register_map.h"

const uint32_t kProtectedRegisters[kProtectedCount] = {26,  27,  28,  29,  30,  31,  32,
                                                       120, 121, 122, 123, 124, 125, 126};

uint32_t versionMajor(uint32_t word) {
    return (word >> 11) & kMaxMajor;
}

uint32_t versionMinor(uint32_t word) {
    return (word >> 6) & kMaxMinor;
}

uint32_t versionNonfunc(uint32_t word) {
    return word & kMaxNonfunc;
}

bool sameFirmware(FirmwareId a, FirmwareId b) {
    return a.version == b.version && a.release == b.release;
}

namespace {

// Decodes BCD digits; -1 when any nibble is not a decimal digit.
int fromBcd(uint32_t word, int digits) {
    int value = 0;
    for (int i = digits - 1; i >= 0; --i) {
        uint32_t nibble = (word >> (4 * i)) & 0xF;
        if (nibble > 9) {
            return -1;
        }
        value = value * 10 + static_cast<int>(nibble);
    }
    return value;
}

}  // namespace

bool releaseWordValid(uint32_t word) {
    static const int kDaysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int day = fromBcd(word >> 24, 2);
    int month = fromBcd(word >> 16, 2);
    int year = fromBcd(word, 4);
    if (day < 1 || month < 1 || month > 12 || year < 0) {
        return false;
    }
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return day <= kDaysInMonth[month - 1] - (month == 2 && !leap ? 1 : 0);
}

uint32_t sequenceFrequencyRegister(uint32_t sequence) {
    return 130 + 10 * sequence;
}

uint32_t sequenceOffsetRegister(uint32_t sequence) {
    return 134 + 10 * sequence;
}

int protectedIndex(uint32_t address) {
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        if (kProtectedRegisters[i] == address) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
