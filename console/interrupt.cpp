// What an interrupt does, decided from the run's state, and the held steps;
// the handlers themselves are the operating system's side, in os/.
#include "console/interrupt.h"

#include "console/window.h"

namespace {

// Changed from a signal handler or, on Windows, the console's handler thread;
// a signal handler may only use an atomic that takes no lock.
InterruptState interrupts{0};
static_assert(InterruptState::is_always_lock_free);

InterruptAction onInterrupt(InterruptKind kind) {
    return takeInterrupt(&interrupts, kind, ownsConsoleWindow());
}

bool holding() {
    return (interrupts.load() & HOLDING) != 0;
}

}  // namespace

InterruptDecision decideInterrupt(uint32_t observed, InterruptKind kind, bool ownWindow) {
    uint32_t next = observed | STOP_REQUESTED;
    if ((observed & HOLDING) != 0) {
        return {InterruptAction::Hold, next};
    }
    // A window of its own would vanish with the table in it: the run ends
    // through its prompts instead. Windows ends the process anyway soon after
    // a closed window, log-off or shutdown.
    if (kind == InterruptKind::Key && ownWindow) {
        return {InterruptAction::EndRead, next};
    }
    // Stored all the same: the main thread must not start a held step now.
    return {InterruptAction::EndNow, next};
}

HoldDecision decideHold(uint32_t observed) {
    if ((observed & STOP_REQUESTED) != 0) {
        return {false, observed};
    }
    return {true, observed | HOLDING};
}

InterruptAction takeInterrupt(InterruptState* state, InterruptKind kind, bool ownWindow) {
    uint32_t observed = state->load();
    for (;;) {
        InterruptDecision decision = decideInterrupt(observed, kind, ownWindow);
        // On failure (the other side changed the state, or a spurious one)
        // observed is reloaded.
        if (state->compare_exchange_weak(observed, decision.next)) {
            return decision.action;
        }
    }
}

bool startHolding(InterruptState* state) {
    uint32_t observed = state->load();
    for (;;) {
        HoldDecision decision = decideHold(observed);
        if (!decision.start) {
            return false;
        }
        if (state->compare_exchange_weak(observed, decision.next)) {
            return true;
        }
    }
}

void prepareInterrupts() {
    interrupts = 0;
    installInterruptHandler(onInterrupt, holding);
}

bool startHeldStep() {
    if (!startHolding(&interrupts)) {
        return false;
    }
    guardConsoleWindow();
    // No system call inside the camera library is then cut short.
    blockInterrupts(true);
    return true;
}

void endHeldStep() {
    // Still holding: an interrupt that waited for the unblock is only remembered.
    blockInterrupts(false);
    unguardConsoleWindow();
    interrupts.fetch_and(~HOLDING);
}

void interruptByKey() {
    takeInterrupt(&interrupts, InterruptKind::Key, true);
}

bool stopRequested() {
    return (interrupts.load() & STOP_REQUESTED) != 0;
}
