// The operating system behind os/os.h, for unit tests: a console window (its
// input mode, the Close of its menu, its screen buffer), the power request,
// the interrupt handler the tool installed, and a log of every call, so that
// a test can tell what the tool asked of the system and in which order.
// Files are the real ones: the transcript tests read files they wrote.
#ifndef TESTS_FAKE_FAKE_OS_H
#define TESTS_FAKE_FAKE_OS_H

#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"

namespace fake {

/// The input mode a Windows 10 console starts with: quick-edit among its bits.
constexpr uint32_t DEFAULT_INPUT_MODE = 0x1F7;

/// The system as the tool left it so far.
struct Os {
    int processes;  // sharing the console, the tool included; 0: there is no console
    uint32_t inputMode;
    std::vector<uint32_t> inputModesWritten;  // every mode the tool set, in order
    bool closeEnabled;
    bool systemKeptAwake;
    bool sessionEndRefused;
    bool interruptsBlocked;
    ScreenBuffer buffer;
    int changes;        // settings of the console the tool changed (mode, Close, buffer)
    bool outputClosed;  // what openClosedStandardStreams finds
    std::vector<std::string> calls;  // "writeInputMode 0x1b7", "keepSystemAwake 1", ...
};

/// A console shared by processes with the default input mode and buffer,
/// standard output open, no handler installed and an empty log.
void resetOs(int processes, ScreenBuffer buffer);
const Os& os();
/// The console input's mode as another program left it.
void setInputMode(uint32_t mode);
/// The next openClosedStandardStreams finds standard output closed.
void closeStandardOutput();

/// Lines the console's keys give readConsoleLine, one a call, each without
/// its Return; "\x03" stands for Ctrl-C. Without any left it says NoConsole.
void typeConsoleLines(const std::vector<std::string>& lines);

/// An interrupt of kind arriving, as the system hands it to the tool's
/// handler; what the handler decided, also logged ("interrupt key: hold").
InterruptAction interrupt(InterruptKind kind);

/// The calls logged since the last one named first, from it on; all calls
/// when there is none.
std::vector<std::string> callsSinceLast(const std::string& first);

}  // namespace fake

#endif
