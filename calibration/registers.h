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

/// The protected registers: all fourteen registers the backup table carries
/// over, whichever way each was captured.
constexpr int PROTECTED_REGISTER_COUNT = 14;

/// Rows 0-6 hold registers 26-32 (read directly only), rows 7-13 the distance
/// offsets 120-126 (read directly or found in the measurement sequences).
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

/// Prints the heading and one line per row. The tools keep no file: this
/// printed table is the only record of the calibration while the camera is
/// changed, and q713-restore reads it back from the saved console text.
void printRegisterValues(const RegisterTable& table);

#endif
