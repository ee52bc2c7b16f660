// Calibration write-back: register writes, the flash store and the register map reset.
#include "calibration/writeback.h"

#include "console/console.h"
#include "console/interrupt.h"

namespace {

constexpr uint32_t FLASH_MAGIC_REGISTER = 21;
constexpr uint32_t FLASH_STORE_REGISTER = 20;
constexpr uint32_t FLASH_STORE = 1;
constexpr uint32_t REGISTER_MAP_REGISTER = 54;
constexpr uint32_t REGISTER_MAP_RESET = 0x01000000;

bool writeRegister(KvxHandle handle, uint32_t address, uint32_t value) {
    uint32_t regValue = value;
    uint32_t registerCount = 1;
    return KVXwriteRegister(handle, address, &regValue, &registerCount) == 0;
}

struct FlashCommand {
    uint32_t address;
    uint32_t value;
    const char* magicFailed;
    const char* commandFailed;
    const char* succeeded;
};

// The magic arms one command only, so it is written afresh before each.
bool runFlashCommand(KvxHandle handle, const FlashCommand& command) {
    if (!writeRegister(handle, FLASH_MAGIC_REGISTER, FLASH_MAGIC)) {
        say("%s", command.magicFailed);
        return false;
    }
    if (!writeRegister(handle, command.address, command.value)) {
        say("%s", command.commandFailed);
        return false;
    }
    say("%s", command.succeeded);
    return true;
}

}  // namespace

bool writeProtectedRegisters(KvxHandle handle, const RegisterTable& table) {
    for (const RegisterEntry& row : table) {
        if (!writeRegister(handle, static_cast<uint32_t>(row.address),
                           static_cast<uint32_t>(row.value))) {
            say("Could not write protected register address %d.\n", row.address);
            return false;
        }
        say("Data written: address = %d, data = %d.\n", row.address, row.value);
    }
    return true;
}

bool saveProtectedRegisters(KvxHandle handle) {
    return runFlashCommand(handle, {FLASH_STORE_REGISTER, FLASH_STORE,
                                    "Could not set flash magic. Protected registers not saved.\n",
                                    "Could not write flash. Protected registers not saved.\n",
                                    "Protected registers successfully saved.\n"});
}

bool resetRegisterMap(KvxHandle handle) {
    return runFlashCommand(handle, {REGISTER_MAP_REGISTER, REGISTER_MAP_RESET,
                                    "Could not set flash magic. Register map not reset.\n",
                                    "Could not reset register map. Register map not reset.\n",
                                    "Register map successfully reset.\n"});
}

bool allWrittenBack(const WriteBackSteps& steps) {
    return steps.written && steps.saved && steps.reset;
}

WriteBackSteps writeBackCalibration(KvxHandle handle, const RegisterTable& table) {
    // Cut in the middle, the camera would keep a calibration half written;
    // and none begins once the run is to stop (the caller tells that).
    WriteBackSteps steps{};
    if (!startHeldStep()) {
        return steps;
    }
    steps.written = writeProtectedRegisters(handle, table);
    steps.saved = saveProtectedRegisters(handle);
    steps.reset = resetRegisterMap(handle);
    endHeldStep();
    return steps;
}
