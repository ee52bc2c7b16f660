// The fourteen-row backup table and its lookups.
#include "calibration/registers.h"

#include "console/console.h"
#include "console/table_format.h"

namespace {

constexpr int32_t PROTECTED_ADDRESSES[PROTECTED_REGISTER_COUNT] = {
    26,  27,  28,  29,  30,  31,  32,   // read directly only
    120, 121, 122, 123, 124, 125, 126,  // distance offsets, 5 MHz to 30 MHz
};

constexpr int NO_ROW = -1;

// The first row with that address; address 0 never names a row, even in a
// table that was never initialised.
int findRow(const RegisterTable& table, int32_t address) {
    if (address == 0) {
        return NO_ROW;
    }
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        if (table[i].address == address) {
            return i;
        }
    }
    return NO_ROW;
}

}  // namespace

void initProtectedRegisters(RegisterTable& table) {
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        table[i] = RegisterEntry{PROTECTED_ADDRESSES[i], 0};
    }
}

bool setRegisterValue(RegisterTable& table, int32_t address, int32_t value) {
    int row = findRow(table, address);
    if (row == NO_ROW) {
        return false;
    }
    table[row].value = value;
    return true;
}

bool getRegisterValue(const RegisterTable& table, int32_t address, int32_t* value) {
    int row = findRow(table, address);
    if (row == NO_ROW) {
        return false;
    }
    *value = table[row].value;
    return true;
}

bool isRegisterValueEmpty(const RegisterTable& table, int32_t address) {
    int32_t regData = 0;
    return getRegisterValue(table, address, &regData) && regData == 0;
}

void printRegisterValues(const RegisterTable& table) {
    say("%s", TABLE_HEADING);
    for (const RegisterEntry& row : table) {
        say(TABLE_ROW, row.address, row.value);
    }
}
