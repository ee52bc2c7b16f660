// Decodes the identity registers and prints the camera's PON, serial, release
// date and firmware version.
#include "camera/identification.h"

#include "console/console.h"
#include "console/table_format.h"

namespace {

constexpr uint32_t SERIAL_REGISTER = 1;
constexpr uint32_t FIRMWARE_REGISTER = 2;
constexpr uint32_t VERSION_REGISTER = 56;

constexpr int PON_COUNT = 7;
constexpr char PON_TABLE[PON_COUNT][11] = {
    "000-0000-0", "410-3105-1", "420-0105-1", "420-0105-2",
    "410-3305-1", "430-3305-2", "unknownPON",
};
constexpr int UNKNOWN_PON = 6;

int32_t bits(uint32_t word, int shift, uint32_t mask) {
    return static_cast<int32_t>((word >> shift) & mask);
}

bool readRegister(KvxHandle handle, uint32_t address, uint32_t* value) {
    return KVXreadRegister(handle, address, value, nullptr) == 0;
}

}  // namespace

// The field is twelve bits wide, so the camera can name rows the table lacks.
const char* ponText(int32_t ponIndex) {
    return ponIndex < PON_COUNT ? PON_TABLE[ponIndex] : PON_TABLE[UNKNOWN_PON];
}

bool ponKnown(int32_t ponIndex) {
    return ponText(ponIndex) != PON_TABLE[UNKNOWN_PON];
}

bool runs231(const VersionInfo& info) {
    return info.major == 2 && info.minor == 3 && info.nonfunc == 1;
}

bool runsPatch(const VersionInfo& info) {
    return info.major == 0 && info.minor == 0 && info.nonfunc == 0;
}

int readVersionInfo(KvxHandle handle, VersionInfo* info) {
    uint32_t firmwareReg = 0;
    if (!readRegister(handle, FIRMWARE_REGISTER, &firmwareReg)) {
        return -1;
    }
    info->year = bits(firmwareReg, 0, 0xFFFF);
    info->month = bits(firmwareReg, 16, 0xFF);
    info->day = bits(firmwareReg, 24, 0xFF);

    uint32_t versionReg = 0;
    if (!readRegister(handle, VERSION_REGISTER, &versionReg)) {
        return -1;
    }
    info->nonfunc = bits(versionReg, 0, 0x3F);
    info->minor = bits(versionReg, 6, 0x1F);
    info->major = bits(versionReg, 11, 0x1F);

    uint32_t serialReg = 0;
    if (!readRegister(handle, SERIAL_REGISTER, &serialReg)) {
        return -1;
    }
    info->serial = bits(serialReg, 0, 0xFFFFF);
    info->ponIndex = bits(serialReg, 20, 0xFFF);

    say(PON_LINE, ponText(info->ponIndex));
    say(SERIAL_LINE, info->serial);
    // BCD digits printed in hexadecimal read as the decimal date.
    say("Release date: %x.%x.%x\n", static_cast<unsigned>(info->day),
        static_cast<unsigned>(info->month), static_cast<unsigned>(info->year));
    say("Firmware version: %d.%d.%d\n", info->major, info->minor, info->nonfunc);
    return 0;
}
