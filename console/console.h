// The console dialogue: every line the tool prints and every answer it reads
// goes through these helpers.
#ifndef CONSOLE_CONSOLE_H
#define CONSOLE_CONSOLE_H

/// The line that separates the stages of a run on the console.
constexpr char SEPARATOR[] = "------------------------\n";

/// Readies the console for a run: standard streams that are closed opened on
/// the null device (a closed standard output counts as failed output),
/// interrupt handling, and no other output failure remembered yet. Call once
/// at start-up, before anything opens a file.
void startConsole();

/// Prints a printf-style message to standard output and flushes it, so the
/// console shows it before the tool blocks in a prompt or a library call.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Prints a printf-style message to standard error.
void sayError(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// True when a message could not be written to standard output since startConsole.
bool outputFailed();

/// When an interrupt asked the run to stop (console/interrupt.h), prints
/// "Stopped at the user's request." once per run and returns true; false,
/// printing nothing, otherwise.
bool tellStop();

/// Prints message and reads one character typed after it, leaving the rest of
/// the line pending; false when input has ended and nothing was read.
bool waitForReturn(const char* message);

/// Prints message and reads one line typed after it; false when input ended
/// before its first character.
bool waitForLine(const char* message);

/// Reads one character typed after the prompt and discards the rest of its
/// line, newline included; end of input reads as 'q'.
char readChoice();

/// Reads one line typed after the prompt; true when it is y or yes (a CR
/// before the newline allowed), false for anything else and at end of input.
bool readYes();

/// Ends a run with status: tells an interrupt not yet told (the status is
/// then -1), gives the console window back, and in a window of the tool's own
/// waits for return unless the run ended on an answered prompt or userQuit;
/// the exit status. Call last, from the entry point.
int closeConsole(int status, bool userQuit);

#endif
