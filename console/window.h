// The console window around the tool on Windows: kept from stalling, closing
// or sleeping while the camera is changed, tall enough for a whole update,
// and, when it is the tool's own, kept open until its text has been read.
#ifndef CONSOLE_WINDOW_H
#define CONSOLE_WINDOW_H

#include <cstdint>

/// Lines of a console's screen buffer that hold a whole update run.
constexpr int BUFFER_LINES = 9999;

/// Raises a classic console's screen buffer to BUFFER_LINES lines, keeping
/// its width; never lowers it. Call once at start-up.
void prepareConsoleWindow();

/// The console input mode that puts back saved, a mode read before a held
/// step: saved itself when it holds the extended flags; without them the
/// console reported neither quick-edit nor insert mode, and a mode set
/// without them keeps both off, so both go back on as a console's defaults
/// have them, with the extended flags.
uint32_t restoredInputMode(uint32_t saved);

/// The console input mode during a held step: restoredInputMode(saved)
/// with quick-edit off.
uint32_t heldInputMode(uint32_t saved);

/// For a held step: quick-edit off (a selection would block every write),
/// the window's Close greyed out, log-off and shutdown refused and the
/// system kept awake.
void guardConsoleWindow();

/// Puts back what guardConsoleWindow changed; nothing when nothing is guarded.
void unguardConsoleWindow();

/// True when no other process shares the tool's console: its window closes
/// when the tool ends.
bool ownsConsoleWindow();

/// True when the window must wait for return before the tool ends, taking its
/// text with it: it is the tool's own, and the run ended neither on an answered
/// "Hit <return>" prompt (answered) nor on the user's quit.
bool windowWaitsToClose(bool userQuit, bool answered);

#endif
