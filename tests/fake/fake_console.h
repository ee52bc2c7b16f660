// A console window behind console/platform.h, for unit tests: its input mode,
// the Close of its menu, the power request and its screen buffer.
#ifndef TESTS_FAKE_FAKE_CONSOLE_H
#define TESTS_FAKE_FAKE_CONSOLE_H

#include <cstdint>
#include <vector>

#include "console/platform.h"

namespace fake {

/// The input mode a Windows 10 console starts with: quick-edit among its bits.
constexpr uint32_t DEFAULT_INPUT_MODE = 0x1F7;

/// The console as the tool left it so far.
struct Console {
    int processes;  // sharing it, the tool included; 0: there is no console
    uint32_t inputMode;
    std::vector<uint32_t> inputModesWritten;  // every mode the tool set, in order
    bool closeEnabled;
    bool systemKeptAwake;
    ScreenBuffer buffer;
    int changes;  // settings of the console the tool changed (mode, Close, buffer)
};

/// A console shared by processes with the default input mode and buffer.
void resetConsole(int processes, ScreenBuffer buffer);
const Console& console();

}  // namespace fake

#endif
