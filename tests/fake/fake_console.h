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

/// A console shared by processes (the tool included) with the default input
/// mode and buffer, or, with processes 0, none at all.
void resetConsole(int processes, ScreenBuffer buffer);
uint32_t inputMode();
/// Every input mode the tool set, in order.
const std::vector<uint32_t>& inputModesWritten();
bool windowCloseEnabled();
bool systemKeptAwake();
ScreenBuffer screenBuffer();
/// How many settings of the console the tool changed (mode, Close, buffer).
int consoleChanges();

}  // namespace fake

#endif
