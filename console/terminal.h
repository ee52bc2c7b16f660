// What the operating system's console does to the tool: keys typed ahead,
// interrupts (Ctrl-C, a closed terminal) and output nobody reads any more.
#ifndef CONSOLE_TERMINAL_H
#define CONSOLE_TERMINAL_H

/// Opens each closed standard descriptor (on Windows, each missing standard
/// handle) on the null device, so that no file opened later takes its place;
/// true when standard output was closed. Call first thing at start-up.
bool openClosedStandardStreams();

/// Installs the interrupt handlers and ignores broken pipes; forgets any
/// interrupt held back before. Call once at start-up, before any prompt.
void prepareTerminal();

/// Discards the keys typed before now when standard input is a terminal;
/// input from a pipe or a file is left alone.
void discardTypedAhead();

/// From now on an interrupt is only remembered, so that it cannot cut a
/// change of the camera in half, and the console window is guarded
/// (console/window.h); false, holding nothing, when an interrupt is already
/// waiting to end the run: then the change must not begin.
/// REQUIRES: not already holding.
bool holdInterrupts();

/// Interrupts end the tool at once again and the window is as it was; one
/// that arrived while held stays remembered.
void releaseInterrupts();

/// True when an interrupt arrived while interrupts were held back, or, in a
/// console window of the tool's own, at any time: there it ends the run
/// through the window's wait instead of closing the window at once.
bool interruptHeldBack();

#endif
