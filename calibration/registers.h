// The backup table: the camera registers whose values must survive a firmware
// update, and the value to write back into each.
#ifndef CALIBRATION_REGISTERS_H
#define CALIBRATION_REGISTERS_H

#include <cstdint>

/// One register to carry over; a value of 0 means nothing was captured.
struct RegisterEntry {
    int32_t address;
    int32_t value;
};

constexpr int PROTECTED_REGISTER_COUNT = 14;

/// Rows 0-6 hold registers 26-32, rows 7-13 the distance offsets 120-126.
using RegisterTable = RegisterEntry[PROTECTED_REGISTER_COUNT];

/// Sets the fourteen addresses in row order and every value to 0.
void initProtectedRegisters(RegisterTable& table);

/// Stores value in the row of address; false (nothing changed) for 0 or an
/// address not in the table.
bool setRegisterValue(RegisterTable& table, int32_t address, int32_t value);

/// Copies the value of the row of address into *value; false (and *value left
/// alone) for 0 or an address not in the table.
bool getRegisterValue(const RegisterTable& table, int32_t address, int32_t* value);

/// True when address has a row whose value is 0.
bool isRegisterValueEmpty(const RegisterTable& table, int32_t address);

/// Prints the heading and one line per row.
void printRegisterValues(const RegisterTable& table);

#endif
