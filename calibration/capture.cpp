// Calibration capture: direct reads of the protected registers and the search
// of the measurement sequences for distance offsets.
#include "calibration/capture.h"

#include "console/console.h"

namespace {

constexpr int SEQUENCE_COUNT = 12;
constexpr int FIRST_FREQUENCY_REGISTER = 130;
constexpr int FIRST_OFFSET_REGISTER = 134;
constexpr int SEQUENCE_STRIDE = 10;

struct FrequencyRow {
    uint32_t frequencyHz;
    int32_t address;
};

constexpr FrequencyRow FREQUENCY_ROWS[] = {
    {5000000, 120},  {7500000, 121},  {10000000, 122}, {15000000, 123},
    {20000000, 124}, {25000000, 125}, {30000000, 126},
};

constexpr int32_t NO_ROW_ADDRESS = 0;

int32_t rowAddressForFrequency(uint32_t frequencyHz) {
    for (const FrequencyRow& row : FREQUENCY_ROWS) {
        if (row.frequencyHz == frequencyHz) {
            return row.address;
        }
    }
    return NO_ROW_ADDRESS;
}

bool readRegister(KvxHandle handle, int address, uint32_t* value) {
    return KVXreadRegister(handle, static_cast<uint32_t>(address), value, nullptr) == 0;
}

}  // namespace

CaptureResult readProtectedRegisters(KvxHandle handle, RegisterTable& table) {
    bool found = false;
    for (RegisterEntry& row : table) {
        uint32_t regValue = 0;
        if (!readRegister(handle, row.address, &regValue)) {
            say("Could not read protected register address %d.\n", row.address);
            return CaptureResult::ReadFailed;
        }
        if (regValue != 0) {
            row.value = static_cast<int32_t>(regValue);
            found = true;
        }
    }
    return found ? CaptureResult::Captured : CaptureResult::NothingCaptured;
}

CaptureResult findSequenceDistanceOffsets(KvxHandle handle, RegisterTable& table) {
    bool found = false;
    bool failed = false;
    for (int i = 0; i < SEQUENCE_COUNT; ++i) {
        int frequencyRegister = FIRST_FREQUENCY_REGISTER + SEQUENCE_STRIDE * i;
        uint32_t frequencyHz = 0;
        if (!readRegister(handle, frequencyRegister, &frequencyHz)) {
            say("Could not read modulation frequency of sequence %d: register %d\n", i,
                frequencyRegister);
            failed = true;
            continue;
        }
        int32_t address = rowAddressForFrequency(frequencyHz);
        // A row that already holds a value keeps it: the first nonzero offset wins.
        if (address == NO_ROW_ADDRESS || !isRegisterValueEmpty(table, address)) {
            continue;
        }
        int offsetRegister = FIRST_OFFSET_REGISTER + SEQUENCE_STRIDE * i;
        uint32_t regValue = 0;
        if (!readRegister(handle, offsetRegister, &regValue)) {
            say("Could not read distance offset: register %d\n", offsetRegister);
            failed = true;
            continue;
        }
        if (regValue != 0) {
            setRegisterValue(table, address, static_cast<int32_t>(regValue));
            found = true;
        }
    }
    if (failed) {
        return CaptureResult::ReadFailed;
    }
    return found ? CaptureResult::Captured : CaptureResult::NothingCaptured;
}
