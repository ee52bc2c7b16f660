// An in-memory camera behind the library interface, for unit tests: registers,
// injected failures and a log of every call the tool made.
#ifndef TESTS_FAKE_FAKE_CAMERA_H
#define TESTS_FAKE_FAKE_CAMERA_H

#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"

namespace fake {

/// Forgets registers, failures and the call log.
void reset();
void setRegister(uint32_t address, uint32_t value);
uint32_t registerValue(uint32_t address);
/// Every read (or write) of address fails with status.
void failRead(uint32_t address, int32_t status);
void failWrite(uint32_t address, int32_t status);
/// The next `times` opens fail with status.
void failOpens(int times, int32_t status);
/// What KVXfirmwareUpdate returns and how many progress reports it makes first.
void setFirmwareResult(int32_t status, int progressReports);
/// An interrupt of kind arrives (through tests/fake/fake_os.h) in the middle
/// of the Nth register write (from 1), or of the firmware load when write is 0.
void interruptAt(int write, InterruptKind kind);

/// The calls so far, one line each: "open", "close", "read 26",
/// "write 21 0x4b525137", "firmware NAME".
const std::vector<std::string>& calls();
/// The calls made while the console was guarded for a held step.
const std::vector<std::string>& callsWhileGuarded();
bool wasRead(uint32_t address);
int writeCount();

}  // namespace fake

#endif
