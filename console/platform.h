// The few calls the tool makes to the console window and the power manager
// of Windows, apart so that what the tool decides about them can be tested
// elsewhere; on other systems there is no such window and they do nothing.
#ifndef CONSOLE_PLATFORM_H
#define CONSOLE_PLATFORM_H

#include <stdint.h>

/// The width and height, in character cells, of a console's screen buffer.
struct ScreenBuffer {
    int width;
    int height;
};

/// The console input's mode bits; false when standard input is no console.
bool readInputMode(uint32_t* mode);

/// Sets the console input's mode bits.
void writeInputMode(uint32_t mode);

/// Greys out (false) or gives back (true) the Close of the console window's
/// menu; false when there is no console window.
bool enableWindowClose(bool enabled);

/// Asks the system to stay awake (true), or lets it sleep again (false).
void keepSystemAwake(bool awake);

/// How many processes share the tool's console, the tool included; 0 without one.
int consoleProcessCount();

/// Standard output's screen buffer; false when standard output is no classic console.
bool readScreenBuffer(ScreenBuffer* buffer);

/// Resizes standard output's screen buffer.
void resizeScreenBuffer(ScreenBuffer buffer);

#endif
