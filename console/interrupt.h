// Interrupts (Ctrl-C, a closed terminal or window): what one does is decided
// here from the run's state, one plain function for the POSIX signal handler
// and the Windows control handler alike; and the held steps, during which an
// interrupt is only remembered so that it cannot cut a change of the camera.
#ifndef CONSOLE_INTERRUPT_H
#define CONSOLE_INTERRUPT_H

#include <atomic>
#include <cstdint>

#include "os/os.h"

/// The run's interrupt state, one word of the bits below. Each side changes it
/// by one compare-exchange, so that "no stop requested, so start holding" (the
/// main thread) and "not holding, so end now" (the handler) never both win.
using InterruptState = std::atomic<uint32_t>;

/// A held step is under way.
constexpr uint32_t HOLDING = 1;
/// An interrupt arrived: the run is to stop.
constexpr uint32_t STOP_REQUESTED = 2;

/// What the handler does with one interrupt, and the state it leaves.
struct InterruptDecision {
    InterruptAction action;
    uint32_t next;
};

/// The decision for an interrupt of kind arriving in state observed; ownWindow:
/// no other process shares the tool's console, so its window goes with the tool.
InterruptDecision decideInterrupt(uint32_t observed, InterruptKind kind, bool ownWindow);

/// Whether a held step may start in state observed, and the state it leaves.
struct HoldDecision {
    bool start;
    uint32_t next;
};

/// The decision to start holding in state observed: not once a stop is requested.
HoldDecision decideHold(uint32_t observed);

/// The handler's side: decides and stores the decision, deciding again when
/// the main thread changed the state meanwhile.
InterruptAction takeInterrupt(InterruptState* state, InterruptKind kind, bool ownWindow);

/// The main thread's side: starts holding unless a stop is requested; false then.
bool startHolding(InterruptState* state);

/// Installs the interrupt handler and forgets any stop requested before. Call
/// once at start-up, before any prompt.
void prepareInterrupts();

/// Starts a held step (a change of the camera): interrupts only remembered
/// and blocked on this thread, and the console window guarded (quick-edit
/// off, its Close greyed, log-off and shutdown refused, the system kept
/// awake: console/window.h). False,
/// nothing held, when a stop is already requested: the change must not begin.
/// REQUIRES: no held step under way.
bool startHeldStep();

/// Ends a held step: interrupts end the tool at once again and the window is
/// as it was; a stop requested meanwhile stays requested.
void endHeldStep();

/// A Ctrl-C or Ctrl-Break read as a key at a prompt in a window of the tool's
/// own: the run is asked to stop, as the handler asks it there.
void interruptByKey();

/// True when an interrupt asked the run to stop: one held back during a held
/// step, or, in a console window of the tool's own, one at any time (there the
/// run ends through the window's wait instead of closing the window at once).
bool stopRequested();

#endif
